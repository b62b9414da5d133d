// Conversions between the program's wide text (UTF-16 code units) and Qt strings, and the
// language lookup as a Qt string. Any thread.
#pragma once
#include <QString>
#include <string>

namespace kevra {

class QtText {
public:
    static QString from(const std::u16string& s)
    {
        return QString::fromUtf16(s.data(), qsizetype(s.size()));
    }
    static std::u16string to(const QString& s)
    {
        return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
    }
    // Text of a language key, empty when missing.
    static QString lang(const std::u16string& key);
};

}   // namespace kevra
