// libFuzzer target: the parser must never crash, and whatever it accepts must dump to text
// that parses back to an equal value and dumps to the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tsl::Json value;
    try {
        value = tsl::Json::parse(text);
    } catch (const tsl::JsonError&) {
        return 0;
    }
    const std::string once = value.dump();
    tsl::Json back;
    try {
        back = tsl::Json::parse(once);
    } catch (const tsl::JsonError&) {
        std::abort();  // we wrote text we cannot read
    }
    // NaN cannot arise from parsing; infinities are written as null and come back as null.
    const std::string twice = back.dump();
    if (twice != once) std::abort();
    if (!(back == tsl::Json::parse(twice))) std::abort();
    return 0;
}
