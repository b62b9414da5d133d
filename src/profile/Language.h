// Every user-visible text, looked up by key in the chosen language file (section "language")
// at the moment it is shown. The file path is set once at start-up before other threads run;
// afterwards any thread (UI, frame timer) may look texts up.
#pragma once
#include <string>

namespace kevra {

class Language {
public:
    static void setFilePath(std::u16string path);
    static const std::u16string& filePath();

    // The text for `key`, or the empty text when the file, the section or the key is missing.
    static std::u16string text(const std::u16string& key);
};

} // namespace kevra
