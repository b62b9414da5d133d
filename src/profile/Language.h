// Every user-visible text, looked up by key in the chosen language file (section "language")
// at the moment it is shown. The file path is set once at start-up before other threads run;
// afterwards any thread (UI, frame timer) may look texts up.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

namespace kevra {

class Language {
public:
    static void setFilePath(std::u16string path);
    static const std::u16string& filePath();

    // The text for `key`, or the empty text when the file, the section or the key is missing.
    static std::u16string text(const std::u16string& key);
    // The text for `key` with %1, %2, ... replaced by the numbers in order (see fill).
    static std::u16string format(const std::u16string& key, std::initializer_list<int64_t> numbers);
    // Replaces each %1 .. %9 in `text` by the decimal form of that number; a marker without a
    // number to match (and any other '%') stays as it is.
    static std::u16string fill(const std::u16string& text, std::initializer_list<int64_t> numbers);
};

}   // namespace kevra
