#include "json/json_strtod.h"

#include <locale.h>
#include <stdlib.h>

namespace tsl {

namespace {

// A "C" locale object made once; _strtod_l never consults the process locale.
_locale_t cLocale() {
    static const _locale_t locale = _create_locale(LC_ALL, "C");
    return locale;
}

}  // namespace

double jsonStrtod(const std::string& text, std::size_t& consumed) {
    char* end = nullptr;
    const double value = _strtod_l(text.c_str(), &end, cLocale());
    consumed = static_cast<std::size_t>(end - text.c_str());
    return value;
}

}  // namespace tsl
