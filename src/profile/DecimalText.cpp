#include "profile/DecimalText.h"

namespace kevra {

bool parseDecimal(const std::u16string& text, int& out)
{
    const bool negative = !text.empty() && text[0] == u'-';
    size_t i = negative ? 1 : 0;
    if (i == text.size() || text.size() - i > 5)
        return false;
    int v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
        v = v * 10 + (text[i] - u'0');
    }
    out = negative ? -v : v;
    return true;
}

}   // namespace kevra
