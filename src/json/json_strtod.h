#pragma once

#include <string>

namespace tsl {

// strtod in the "C" locale, whatever the process's locale: the decimal point is always ".".
// consumed receives the number of bytes the conversion used (0 when none).
double jsonStrtod(const std::string& text, std::size_t& consumed);

}  // namespace tsl
