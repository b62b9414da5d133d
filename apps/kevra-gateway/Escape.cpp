#include "Escape.h"

#include <cstdio>

namespace kevra::gateway {

std::string markupEscape(const std::string& in)
{
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : char(c);
            }
            ++i;
            continue;
        }
        size_t n = c >= 0xf0 && c < 0xf5 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
        bool ok = n > 0 && i + n <= in.size();
        for (size_t k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(in[i + k]) & 0xc0) == 0x80;
        if (ok) {
            out.append(in, i, n);
            i += n;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

std::string jsonEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
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
