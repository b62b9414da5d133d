#include "profile/Language.h"

#include "profile/ProfileFile.h"

namespace kevra {

namespace {
std::u16string& storedPath()
{
    static std::u16string path;
    return path;
}
}   // namespace

void Language::setFilePath(std::u16string path)
{
    storedPath() = std::move(path);
}

const std::u16string& Language::filePath()
{
    return storedPath();
}

std::u16string Language::text(const std::u16string& key)
{
    return ProfileFile::ReadString(u"language", key, u"", storedPath());
}

std::u16string Language::format(const std::u16string& key, std::initializer_list<int64_t> numbers)
{
    return fill(text(key), numbers);
}

std::u16string Language::fill(const std::u16string& text, std::initializer_list<int64_t> numbers)
{
    std::u16string out;
    out.reserve(text.size() + 8 * numbers.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'%' && i + 1 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9') {
            const size_t index = static_cast<size_t>(text[i + 1] - u'1');
            if (index < numbers.size()) {
                const std::string digits = std::to_string(numbers.begin()[index]);
                out.append(digits.begin(), digits.end());
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

}   // namespace kevra
