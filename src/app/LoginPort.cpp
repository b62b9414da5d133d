#include "app/LoginPort.h"

namespace kevra::LoginPort {

Checked check(const std::u16string& text, int defaultPort)
{
    if (text.empty())
        return inRange(defaultPort) ? Checked{defaultPort, nullptr} : Checked{0, kRangeKey};
    long long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return Checked{0, kRangeKey};
        // Past the highest port the exact number no longer matters; stop before it overflows.
        if (value <= kHighest)
            value = value * 10 + (c - u'0');
    }
    if (!inRange(value))
        return Checked{0, kRangeKey};
    return Checked{int(value), nullptr};
}

}   // namespace kevra::LoginPort
