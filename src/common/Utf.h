// Conversions between the program's wide text (UTF-16 code units) and UTF-8, used where text
// crosses to the operating system (file paths), the network (user name, password) and the UI.
// Pure functions without state; any thread may call them.
#pragma once
#include <string>

namespace kevra {

// UTF-16 -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string toUtf8(const std::u16string& text);

// UTF-8 -> UTF-16. Every invalid sequence (stray continuation byte, overlong form, encoded
// surrogate, value above U+10FFFF, truncated sequence) becomes one U+FFFD per maximal bad part.
std::u16string fromUtf8(const std::string& text);

}   // namespace kevra
