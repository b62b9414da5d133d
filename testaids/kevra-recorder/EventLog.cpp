#include "EventLog.h"

namespace kevra {

EventLog& EventLog::begin(const char* name)
{
    line_ = "{\"event\":" + quote(name);
    return *this;
}

EventLog& EventLog::field(const char* key, int64_t value)
{
    line_ += "," + quote(key) + ":" + std::to_string(value);
    return *this;
}

EventLog& EventLog::field(const char* key, const std::string& value)
{
    line_ += "," + quote(key) + ":" + quote(value);
    return *this;
}

EventLog& EventLog::flag(const char* key, bool value)
{
    line_ += "," + quote(key) + (value ? ":true" : ":false");
    return *this;
}

void EventLog::end()
{
    line_ += "}";
    if (sink_)
        sink_(line_);
    line_ += "\n";
    if (out_) {
        std::fwrite(line_.data(), 1, line_.size(), out_);
        std::fflush(out_);
    }
    ++lines_;
    line_.clear();
}

std::string EventLog::quote(const std::string& text)
{
    static const char* hex = "0123456789abcdef";
    std::string s = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // Copy a well-formed UTF-8 sequence; a stray byte becomes the character of that value.
            int extra = (c & 0xE0) == 0xC0   ? 1
                        : (c & 0xF0) == 0xE0 ? 2
                        : (c & 0xF8) == 0xF0 ? 3
                                             : -1;
            bool ok = extra > 0 && c >= 0xC2 && c <= 0xF4 && i + extra < text.size() + 0;
            for (int k = 1; ok && k <= extra; ++k)
                ok =
                    i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (ok) {
                s.append(text, i, extra + 1);
                i += extra;
            } else {
                s += "\\u00";
                s += hex[c >> 4];
                s += hex[c & 15];
            }
            continue;
        }
        switch (c) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                s += "\\u00";
                s += hex[c >> 4];
                s += hex[c & 15];
            } else {
                s += static_cast<char>(c);
            }
        }
    }
    return s + "\"";
}

}   // namespace kevra
