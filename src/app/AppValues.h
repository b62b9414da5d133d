// Process-wide start-up values: the executable's folder, the chosen language file, the product
// title and version. initialise() runs once on the main thread before any other thread reads
// them; afterwards they never change and any thread may read them.
#pragma once
#include <string>

namespace kevra {

class AppValues {
public:
    // Fixes applicationDirectory (from /proc/self/exe) and languageFilePath (from the locale),
    // and hands the language file to Language. Only the first call has an effect. When the
    // executable's path cannot be read both paths stay empty.
    static void initialise();

    static const std::u16string& applicationDirectory();   // ends with '/' when not empty
    // Where login.ini and views.ini are written: the user's settings folder (SettingsFolder),
    // or the application directory when no home folder is known.
    static std::u16string settingsFolder();
    static const std::u16string& languageFilePath();
    static const std::u16string& productTitle();   // "KEVRA"
    static const std::u16string& versionText();    // "1.00.2"

    // True when the process runs under a Chinese locale.
    static bool isChineseLocale();

    // --- Pure helpers (also used by tests) ---

    // The path up to and including its last '/', or empty when it has none.
    static std::u16string directoryOf(const std::u16string& path);

    // Whether a POSIX locale name (language[_territory][.codeset][@modifier], or BCP 47 style
    // language-Script-REGION: "zh_CN.UTF-8", "zh-Hant", "de_DE@euro") names Chinese, in any
    // script or region.
    static bool isChinese(const std::string& locale);

    // "language_chn.ini" for a Chinese locale, "language_eng.ini" for every other (and for "C",
    // "POSIX" or none).
    static std::u16string languageFileName(const std::string& locale);

    // The first non-empty of LC_ALL, LC_MESSAGES and LANG (empty when none is set).
    static std::string localeFromEnvironment();
};

}   // namespace kevra
