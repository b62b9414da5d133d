#include "profile/Language.h"

#include "profile/ProfileFile.h"

namespace kevra {

namespace {
std::u16string& storedPath()
{
    static std::u16string path;
    return path;
}
} // namespace

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

} // namespace kevra
