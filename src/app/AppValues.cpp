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
    bool chinese = false;   // the locale at initialise()
    bool initialised = false;
};

Values& values()
{
    static Values v;
    return v;
}

}   // namespace

std::u16string AppValues::directoryOf(const std::u16string& path)
{
    size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos)
        return std::u16string();
    return path.substr(0, slash + 1);
}

bool AppValues::isChinese(const std::string& locale)
{
    const std::string language = locale.substr(0, locale.find_first_of("_-.@"));
    return language.size() == 2 && std::tolower(static_cast<unsigned char>(language[0])) == 'z' &&
           std::tolower(static_cast<unsigned char>(language[1])) == 'h';
}

std::u16string AppValues::languageFileName(const std::string& locale)
{
    return isChinese(locale) ? u"language_chn.ini" : u"language_eng.ini";
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
        v.chinese = isChinese(localeFromEnvironment());
        v.initialised = true;

        std::vector<char> buffer(4096);
        ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
            return;   // no path: both paths stay empty
        std::u16string exePath = fromUtf8(std::string(buffer.data(), static_cast<size_t>(length)));
        v.applicationDirectory = directoryOf(exePath);
        v.languageFilePath =
            v.applicationDirectory + (v.chinese ? u"language_chn.ini" : u"language_eng.ini");
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
    return v.initialised ? v.chinese : isChinese(localeFromEnvironment());
}

}   // namespace kevra
