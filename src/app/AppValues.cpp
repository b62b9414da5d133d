#include "app/AppValues.h"

#include "common/Utf.h"
#include "profile/Language.h"
#include "profile/SettingsFolder.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <unistd.h>

namespace kevra {

namespace {

struct Values {
    std::u16string applicationDirectory;
    std::u16string languageFilePath;
    uint16_t languageId = 0;
    bool initialised = false;
};

Values& values()
{
    static Values v;
    return v;
}

constexpr int kChinese = 0x04;
constexpr uint16_t kEnglishUs = 0x0409;

struct PrimaryLanguage {
    const char* code;
    int primary;
};

// ISO 639-1 codes and the platform's primary language numbers.
constexpr PrimaryLanguage kPrimaryLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C},
    {"he", 0x0D}, {"iw", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11},
    {"ko", 0x12}, {"nl", 0x13}, {"no", 0x14}, {"nb", 0x14}, {"nn", 0x14}, {"pl", 0x15},
    {"pt", 0x16}, {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sr", 0x1A},
    {"bs", 0x1A}, {"sk", 0x1B}, {"sq", 0x1C}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F},
    {"ur", 0x20}, {"id", 0x21}, {"uk", 0x22}, {"be", 0x23}, {"sl", 0x24}, {"et", 0x25},
    {"lv", 0x26}, {"lt", 0x27}, {"fa", 0x29}, {"vi", 0x2A}, {"hy", 0x2B}, {"az", 0x2C},
    {"eu", 0x2D}, {"mk", 0x2F}, {"af", 0x36}, {"ka", 0x37}, {"fo", 0x38}, {"hi", 0x39},
    {"ms", 0x3E}, {"kk", 0x3F}, {"sw", 0x41}, {"uz", 0x43}, {"bn", 0x45}, {"pa", 0x46},
    {"gu", 0x47}, {"ta", 0x49}, {"te", 0x4A}, {"kn", 0x4B}, {"mr", 0x4E}, {"gl", 0x56},
};

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Chinese sub-languages: 1 traditional (Taiwan), 2 simplified (PRC), 3 Hong Kong,
// 4 Singapore, 5 Macao; a script without a region gives the neutral script identifiers.
uint16_t chineseId(const std::vector<std::string>& parts)
{
    std::string script, region;
    for (const std::string& p : parts) {
        std::string l = lower(p);
        if (l.size() == 4)
            script = l;
        else if (region.empty())
            region = l;
    }
    int sub = 0;
    if (region == "tw")
        sub = 1;
    else if (region == "cn")
        sub = 2;
    else if (region == "hk")
        sub = 3;
    else if (region == "sg")
        sub = 4;
    else if (region == "mo")
        sub = 5;
    if (sub != 0)
        return static_cast<uint16_t>((sub << 10) | kChinese);
    if (script == "hant")
        return 0x7C04;
    if (script == "hans")
        return 0x0004;
    return 0x0804;
}

}   // namespace

std::u16string AppValues::directoryOf(const std::u16string& path)
{
    size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos)
        return std::u16string();
    return path.substr(0, slash + 1);
}

uint16_t AppValues::languageIdFromLocale(const std::string& locale)
{
    // language[_territory][.codeset][@modifier], or BCP 47 style language-Script-REGION.
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t sep = name.find_first_of("_-", start);
        if (sep == std::string::npos)
            sep = name.size();
        parts.push_back(name.substr(start, sep - start));
        start = sep + 1;
    }
    const std::string code = lower(parts.front());
    if (code.empty() || code == "c" || code == "posix")
        return kEnglishUs;
    if (code == "zh")
        return chineseId(std::vector<std::string>(parts.begin() + 1, parts.end()));
    for (const PrimaryLanguage& lang : kPrimaryLanguages) {
        if (code == lang.code)
            return static_cast<uint16_t>((1 << 10) | lang.primary);   // default sub-language
    }
    return kEnglishUs;
}

std::u16string AppValues::languageFileName(uint16_t languageId)
{
    return primaryLanguage(languageId) == kChinese ? u"language_chn.ini" : u"language_eng.ini";
}

std::string AppValues::localeFromEnvironment()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return value;
    }
    return std::string();
}

void AppValues::initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Values& v = values();
        v.languageId = languageIdFromLocale(localeFromEnvironment());
        v.initialised = true;

        std::vector<char> buffer(4096);
        ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
            return;   // no path: both paths stay empty
        std::u16string exePath = fromUtf8(std::string(buffer.data(), static_cast<size_t>(length)));
        v.applicationDirectory = directoryOf(exePath);
        v.languageFilePath = v.applicationDirectory + languageFileName(v.languageId);
        Language::setFilePath(v.languageFilePath);
        // Settings written beside the program by earlier versions are still read.
        SettingsFolder::setFallbackFolder(v.applicationDirectory);
    });
}

const std::u16string& AppValues::applicationDirectory()
{
    return values().applicationDirectory;
}

std::u16string AppValues::settingsFolder()
{
    const std::u16string folder = SettingsFolder::userFolder();
    return folder.empty() ? applicationDirectory() : folder;
}

const std::u16string& AppValues::languageFilePath()
{
    return values().languageFilePath;
}

const std::u16string& AppValues::productTitle()
{
    static const std::u16string title = u"KEVRA";
    return title;
}

const std::u16string& AppValues::versionText()
{
    static const std::u16string version = u"1.00.2";
    return version;
}

bool AppValues::isChineseLocale()
{
    const Values& v = values();
    uint16_t id = v.initialised ? v.languageId : languageIdFromLocale(localeFromEnvironment());
    return primaryLanguage(id) == kChinese;
}

}   // namespace kevra
