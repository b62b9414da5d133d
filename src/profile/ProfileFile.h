// Reader and writer of the program's INI-style files (UTF-16LE text, CR LF line ends, no
// byte-order mark): login.ini, views.ini and the language files. Files written by hand in UTF-8
// (with or without a byte-order mark, LF or CR LF line ends) are read as well; a write to one
// gives the program's own format. Stateless: every call opens, reads and closes the file itself, so any
// thread may read at any time; writes come from the user-interface thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kevra {

class ProfileFile {
public:
    // How a file's bytes were read as text (None: missing, empty or unreadable).
    enum class Encoding { None, Utf16Le, Utf16LeMark, Utf8, Utf8Mark };
    static Encoding encodingOf(const std::u16string& path);
    static const char* encodingName(Encoding encoding);

    // The value of `key` in `section`, or a copy of `def` when anything is missing or unreadable.
    static std::u16string ReadString(const std::u16string& section, const std::u16string& key,
                                     const std::u16string& def, const std::u16string& path);

    // The value converted like C's atoi (white space, sign, digits); `def` when the key is missing.
    static int32_t ReadInt(const std::u16string& section, const std::u16string& key, int32_t def,
                           const std::u16string& path);

    // Adds or replaces one value. 1 when the file was written, 0 otherwise (the old file is then
    // left exactly as it was).
    static int WriteString(const std::u16string& section, const std::u16string& key,
                           const std::u16string& value, const std::u16string& path);

    // Adds or replaces several values of one section in one replacement of the file, so a
    // reader sees either all of them or none. Each key is placed as WriteString would place it.
    // 1 when the file was written, 0 otherwise (the old file is then left exactly as it was).
    static int WriteStrings(const std::u16string& section,
                            const std::vector<std::pair<std::u16string, std::u16string>>& values,
                            const std::u16string& path);
    // As WriteStrings, and in the same replacement every line of the section that starts with
    // one of `remove` followed by "=" goes (a key written and removed at once is removed).
    // `values` may be empty when something is removed.
    static int UpdateSection(const std::u16string& section,
                             const std::vector<std::pair<std::u16string, std::u16string>>& values,
                             const std::vector<std::u16string>& remove, const std::u16string& path);

    // Paths of this many UTF-16 code units or more are refused.
    static constexpr size_t kMaxPath = 260;
    // Files larger than this are treated as unreadable (reads give the default, writes 0).
    static constexpr int64_t kMaxFileBytes = 16 * 1024 * 1024;
};

}   // namespace kevra
