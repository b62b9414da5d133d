// Process-wide start-up values: the executable's folder, the chosen language file, the product
// title and version. initialise() runs once on the main thread before any other thread reads
// them; afterwards they never change and any thread may read them.
#pragma once
#include <cstdint>
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

    // True when the process runs under a Chinese locale (primary language 4).
    static bool isChineseLocale();

    // --- Pure helpers (also used by tests) ---

    // The path up to and including its last '/', or empty when it has none.
    static std::u16string directoryOf(const std::u16string& path);

    // A Windows-style language identifier (sub-language << 10 | primary language) for a POSIX
    // locale name such as "zh_CN.UTF-8", "de_DE@euro" or "zh-Hant". "C", "POSIX", empty and
    // unknown languages give English (0x0409).
    static uint16_t languageIdFromLocale(const std::string& locale);

    // The primary language of a language identifier (its low 10 bits).
    static int primaryLanguage(uint16_t languageId) { return languageId & 0x3FF; }

    // "language_chn.ini" for primary language 4 (Chinese), "language_eng.ini" for all others.
    static std::u16string languageFileName(uint16_t languageId);

    // The first non-empty of LC_ALL, LC_MESSAGES and LANG (empty when none is set).
    static std::string localeFromEnvironment();
};

}   // namespace kevra
