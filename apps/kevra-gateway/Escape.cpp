#include "Escape.h"

#include <cstdio>

#include "common/Utf.h"

namespace kevra::gateway {

namespace {

// The text as well-formed UTF-8: every invalid part (an 8-bit encoding's bytes, a cut sequence,
// an overlong form, an encoded surrogate) becomes one '?'.
std::string wellFormed(const std::string& text)
{
    std::u16string wide = fromUtf8(text);
    for (char16_t& c : wide)
        if (c == 0xFFFD)
            c = u'?';
    return toUtf8(wide);
}

}   // namespace

std::string markupEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : wellFormed(text)) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : ch;
        }
    }
    return out;
}

std::string jsonEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : wellFormed(text)) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == '&') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string jsonString(const std::string& text)
{
    return "\"" + jsonEscape(text) + "\"";
}

}   // namespace kevra::gateway
