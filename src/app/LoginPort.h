// What the login dialog's port field means: the remembered default when it is empty, a TCP port
// when it holds a number from 1 to 65535, and otherwise a refusal with the language key of the
// reason. Pure functions: any thread may call them.
#pragma once
#include <string>

namespace kevra::LoginPort {

constexpr int kLowest = 1;
constexpr int kHighest = 65535;
// Text that names the reason a port is refused.
constexpr const char16_t* kRangeKey = u"PORT_RANGE";

struct Checked {
    int port = 0;                           // the port to use; 0 when refused
    const char16_t* problemKey = nullptr;   // null when the port can be used
    bool ok() const { return problemKey == nullptr; }
};

// The port the text names. Empty text gives defaultPort; anything but decimal digits, and any
// number outside kLowest..kHighest (however many digits it has), is refused.
Checked check(const std::u16string& text, int defaultPort);
constexpr bool inRange(long long port)
{
    return port >= kLowest && port <= kHighest;
}

}   // namespace kevra::LoginPort
