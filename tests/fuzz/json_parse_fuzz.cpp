// libFuzzer target: the parser must never crash, and whatever it accepts must dump to text
// that parses back to an equal value and dumps to the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tsl::Json value;
    try {
        value = tsl::Json::parse(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const tsl::JsonError&) {
        return 0;
    }
    // Text we wrote but cannot read throws out of here, which the fuzzer reports as a crash.
    // NaN cannot arise from parsing; infinities are written as null and come back as null.
    const std::string once = value.dump(), twice = tsl::Json::parse(once).dump();
    if (twice != once || !(tsl::Json::parse(twice) == tsl::Json::parse(once))) std::abort();
    return 0;
}
