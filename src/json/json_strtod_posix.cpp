#include "json/json_strtod.h"

#include <locale.h>
#include <stdlib.h>

namespace tsl {

namespace {

// A "C" locale object made once; strtod_l never consults the process locale.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

}  // namespace

double jsonStrtod(const std::string& text, std::size_t& consumed) {
    char* end = nullptr;
    const double value = strtod_l(text.c_str(), &end, cLocale());
    consumed = static_cast<std::size_t>(end - text.c_str());
    return value;
}

}  // namespace tsl
