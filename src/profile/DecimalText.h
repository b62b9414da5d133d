// Whole numbers as the settings files hold them. A pure function; any thread.
#pragma once
#include <string>

namespace kevra {

// Strict decimal: an optional '-' and one to five digits, nothing else (no white space). False,
// and `out` untouched, otherwise.
bool parseDecimal(const std::u16string& text, int& out);

}   // namespace kevra
