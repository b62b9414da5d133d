#include "profile/ProfileFile.h"

#include "common/Utf.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kevra {

namespace {

const std::u16string kLineEnd = u"\r\n";

// Closes a descriptor when the scope ends (every early return of the operations below).
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Closes and reports whether the close itself succeeded (it may report a late write error).
    bool close()
    {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// The path as the operating system takes it, or false when it is not acceptable: empty, at the
// length limit or beyond, or holding a NUL that would silently name a different file.
bool osPath(const std::u16string& path, std::string& out)
{
    if (path.empty() || path.size() >= ProfileFile::kMaxPath)
        return false;
    if (path.find(u'\0') != std::u16string::npos)
        return false;
    out = toUtf8(path);
    return true;
}

// Reads exactly `length` bytes from the start of the file; false on any error or a short read.
bool readAll(int fd, std::vector<unsigned char>& bytes, size_t length)
{
    bytes.resize(length);
    size_t done = 0;
    while (done < length) {
        ssize_t got = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool writeAll(int fd, const std::vector<unsigned char>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (put == 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// How the bytes are text: the program's own files are UTF-16LE without a byte-order mark,
// whose line ends and ASCII characters hold zero bytes; a file written by hand in an editor is
// UTF-8 (with or without a mark), which never holds a zero byte.
ProfileFile::Encoding detect(const std::vector<unsigned char>& bytes)
{
    using E = ProfileFile::Encoding;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return E::Utf16LeMark;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return E::Utf8Mark;
    for (unsigned char b : bytes)
        if (b == 0)
            return E::Utf16Le;
    return E::Utf8;
}

// The file's text, cut at the first NUL. UTF-16LE: the whole code units (an odd last byte is
// ignored). UTF-8, without its byte-order mark: lines end in CR LF as in the program's own files
// (a lone LF becomes CR LF, a last line without an end gets one).
std::u16string decodeText(const std::vector<unsigned char>& bytes)
{
    const ProfileFile::Encoding encoding = detect(bytes);
    std::u16string text;
    if (encoding == ProfileFile::Encoding::Utf8 || encoding == ProfileFile::Encoding::Utf8Mark) {
        const size_t from = encoding == ProfileFile::Encoding::Utf8Mark ? 3 : 0;
        const std::u16string wide = fromUtf8(
            std::string(reinterpret_cast<const char*>(bytes.data()) + from, bytes.size() - from));
        text.reserve(wide.size() + wide.size() / 16 + 1000);
        for (size_t i = 0; i < wide.size(); ++i) {
            if (wide[i] == u'\n' && (i == 0 || wide[i - 1] != u'\r'))
                text.push_back(u'\r');
            text.push_back(wide[i]);
        }
        if (!text.empty() && text.back() != u'\n')
            text += kLineEnd;
        return text;
    }
    const size_t units = bytes.size() / 2;
    text.reserve(units + 1000);   // room for ordinary edits without growing
    // A byte-order mark stays, as every other code unit does.
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (unit == u'\0')
            break;
        text.push_back(unit);
    }
    return text;
}

std::vector<unsigned char> encodeText(const std::u16string& text)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

enum class Load { Ok, Empty, Failed };

// Reads a regular file's content as text. Files that are not regular (directories, pipes,
// devices) and files above the size bound are refused rather than read.
Load loadText(int fd, const struct stat& st, std::u16string& text)
{
    if (!S_ISREG(st.st_mode))
        return Load::Failed;
    if (st.st_size == 0)
        return Load::Empty;
    if (st.st_size < 0 || st.st_size > ProfileFile::kMaxFileBytes)
        return Load::Failed;
    std::vector<unsigned char> bytes;
    if (!readAll(fd, bytes, static_cast<size_t>(st.st_size)))
        return Load::Failed;
    text = decodeText(bytes);
    return Load::Ok;
}

// Position of the section header "[section]" CR LF (first occurrence, anywhere in the text).
size_t findSection(const std::u16string& text, const std::u16string& section)
{
    std::u16string header;
    header.reserve(section.size() + 4);
    header += u'[';
    header += section;
    header += u']';
    header += kLineEnd;
    return text.find(header);
}

// Position of the header's CR LF, where the key search starts.
size_t headerLineEnd(size_t headerPos, const std::u16string& section)
{
    return headerPos + section.size() + 2;
}

// First key + "=" from `from` to the end of the text (later sections included).
size_t findKey(const std::u16string& text, const std::u16string& key, size_t from)
{
    std::u16string probe = key;
    probe += u'=';
    return text.find(probe, from);
}

// The CR LF that ends the value of a key found at `keyPos`, or npos. Searching starts one unit
// after the key match; a line end that falls inside the key itself closes no value.
size_t valueEnd(const std::u16string& text, size_t keyPos, size_t valueStart)
{
    size_t end = text.find(kLineEnd, keyPos + 1);
    if (end == std::u16string::npos || end < valueStart)
        return std::u16string::npos;
    return end;
}

std::u16string newSectionText(const std::u16string& section, const std::u16string& key,
                              const std::u16string& value)
{
    std::u16string text;
    text.reserve(section.size() + key.size() + value.size() + 7);
    text += u'[';
    text += section;
    text += u']';
    text += kLineEnd;
    text += key;
    text += u'=';
    text += value;
    text += kLineEnd;
    return text;
}

// The folder part of a path for the temporary file ("." when the path names no folder).
std::string folderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Replaces `target` with `bytes`: a temporary file in the same folder is written, flushed to
// the disk and renamed over the target, so the target is always either the old file or the new
// one, never a mixture. `mode` (and, when known, the owner) is given to the new file.
bool replaceFile(const std::string& target, const std::vector<unsigned char>& bytes, mode_t mode,
                 const struct stat* old)
{
    const std::string folder = folderOf(target);
    // Named after the file, shortened so that even a name at the system's limit leaves room.
    std::string tmpl = folder + "/." + baseNameOf(target).substr(0, 64) + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');

    FileHandle tmp(::mkostemp(name.data(), O_CLOEXEC));
    if (tmp.get() < 0)
        return false;
    const std::string tmpPath(name.data());

    bool ok = true;
    if (old != nullptr && ::fchown(tmp.get(), old->st_uid, old->st_gid) != 0) {
        // Only a privileged process may give a file away; keeping our own owner is fine.
    }
    if (::fchmod(tmp.get(), mode) != 0)
        ok = false;
    if (ok && !writeAll(tmp.get(), bytes))
        ok = false;
    if (ok && ::fsync(tmp.get()) != 0)
        ok = false;
    if (!tmp.close())
        ok = false;
    if (ok && ::rename(tmpPath.c_str(), target.c_str()) != 0)
        ok = false;
    if (!ok) {
        ::unlink(tmpPath.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here no longer affects the file's content.
    FileHandle dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

}   // namespace

ProfileFile::Encoding ProfileFile::encodingOf(const std::u16string& path)
{
    std::string osName;
    if (!osPath(path, osName))
        return Encoding::None;
    FileHandle file(::open(osName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size <= 0 || st.st_size > kMaxFileBytes)
        return Encoding::None;
    std::vector<unsigned char> bytes;
    if (!readAll(file.get(), bytes, static_cast<size_t>(st.st_size)))
        return Encoding::None;
    return detect(bytes);
}

const char* ProfileFile::encodingName(Encoding e)
{
    switch (e) {
    case Encoding::Utf16Le: return "UTF-16LE";
    case Encoding::Utf16LeMark: return "UTF-16LE with byte-order mark";
    case Encoding::Utf8: return "UTF-8";
    case Encoding::Utf8Mark: return "UTF-8 with byte-order mark";
    case Encoding::None: break;
    }
    return "not readable";
}

std::u16string ProfileFile::ReadString(const std::u16string& section, const std::u16string& key,
                                       const std::u16string& def, const std::u16string& path)
{
    if (section.empty() || key.empty())
        return def;
    std::string osName;
    if (!osPath(path, osName))
        return def;

    try {
        // Non-blocking open so that a pipe in place of the file cannot stall the caller.
        FileHandle file(::open(osName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (file.get() < 0)
            return def;
        struct stat st;
        if (::fstat(file.get(), &st) != 0)
            return def;
        std::u16string text;
        if (loadText(file.get(), st, text) != Load::Ok)
            return def;
        file.reset();

        size_t headerPos = findSection(text, section);
        if (headerPos == std::u16string::npos)
            return def;
        size_t keyPos = findKey(text, key, headerLineEnd(headerPos, section));
        if (keyPos == std::u16string::npos)
            return def;
        size_t valueStart = keyPos + key.size() + 1;
        size_t end = valueEnd(text, keyPos, valueStart);
        if (end == std::u16string::npos)
            return def;
        return text.substr(valueStart, end - valueStart);
    } catch (const std::bad_alloc&) {
        return def;
    }
}

int32_t ProfileFile::ReadInt(const std::u16string& section, const std::u16string& key, int32_t def,
                             const std::u16string& path)
{
    const std::string defText = std::to_string(def);
    const std::u16string text =
        ReadString(section, key, std::u16string(defText.begin(), defText.end()), path);

    // Decimal conversion as C's atoi: leading white space, optional sign, digits up to the
    // first non-digit; no digits gives 0. Values beyond 32 bits saturate.
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > limit)
            value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

namespace {

// Adds or replaces key=value in the text of a file; false when the key's value has no line end.
bool setValue(std::u16string& text, const std::u16string& section, const std::u16string& key,
              const std::u16string& value)
{
    if (text.empty()) {
        // New or empty file (or one whose text starts with NUL).
        text = newSectionText(section, key, value);
        return true;
    }
    size_t headerPos = findSection(text, section);
    if (headerPos == std::u16string::npos) {
        text += newSectionText(section, key, value);
        return true;
    }
    size_t lineEnd = headerLineEnd(headerPos, section);
    size_t keyPos = findKey(text, key, lineEnd);
    if (keyPos != std::u16string::npos) {
        size_t valueStart = keyPos + key.size() + 1;
        size_t end = valueEnd(text, keyPos, valueStart);
        if (end == std::u16string::npos)
            return false;
        text.replace(valueStart, end - valueStart, value);
    } else {
        std::u16string line = key;
        line += u'=';
        line += value;
        line += kLineEnd;
        text.insert(lineEnd + 2, line);
    }
    return true;
}

// Removes every line of the section that starts with key + "=". A match inside another line
// (a value holding the text) is left alone.
void removeKey(std::u16string& text, const std::u16string& section, const std::u16string& key)
{
    const size_t headerPos = findSection(text, section);
    if (headerPos == std::u16string::npos)
        return;
    const size_t lineEnd = headerLineEnd(headerPos, section);
    size_t from = lineEnd;
    for (;;) {
        // The section ends where the next header line starts.
        const size_t sectionEnd = text.find(kLineEnd + u"[", lineEnd);
        const size_t keyPos = findKey(text, key, from);
        if (keyPos == std::u16string::npos ||
            (sectionEnd != std::u16string::npos && keyPos > sectionEnd))
            return;
        const bool lineStart = keyPos >= 2 && text.compare(keyPos - 2, 2, kLineEnd) == 0;
        const size_t end = valueEnd(text, keyPos, keyPos + key.size() + 1);
        if (!lineStart || end == std::u16string::npos) {
            from = keyPos + 1;
            continue;
        }
        text.erase(keyPos, end + 2 - keyPos);
        from = keyPos;
    }
}

}   // namespace

int ProfileFile::WriteString(const std::u16string& section, const std::u16string& key,
                             const std::u16string& value, const std::u16string& path)
{
    return WriteStrings(section, {{key, value}}, path);
}

int ProfileFile::WriteStrings(const std::u16string& section,
                              const std::vector<std::pair<std::u16string, std::u16string>>& values,
                              const std::u16string& path)
{
    if (values.empty())
        return 0;
    return UpdateSection(section, values, {}, path);
}

int ProfileFile::UpdateSection(const std::u16string& section,
                               const std::vector<std::pair<std::u16string, std::u16string>>& values,
                               const std::vector<std::u16string>& remove,
                               const std::u16string& path)
{
    if (section.empty() || (values.empty() && remove.empty()))
        return 0;
    for (const auto& kv : values)
        if (kv.first.empty())
            return 0;
    for (const auto& key : remove)
        if (key.empty())
            return 0;
    std::string osName;
    if (!osPath(path, osName))
        return 0;

    try {
        std::u16string text;
        struct stat st {};
        bool exists = false;
        std::string target = osName;
        {
            // Opened for reading and writing: a file we could not write in place is not
            // replaced either.
            FileHandle file(::open(osName.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
            if (file.get() < 0) {
                if (errno != ENOENT)
                    return 0;
            } else {
                exists = true;
                if (::fstat(file.get(), &st) != 0)
                    return 0;
                Load load = loadText(file.get(), st, text);
                if (load == Load::Failed)
                    return 0;
                // Through a symbolic link the file it points at is replaced, not the link.
                char resolved[PATH_MAX];
                if (::realpath(osName.c_str(), resolved) == nullptr)
                    return 0;
                target = resolved;
            }
        }

        for (const auto& kv : values)
            if (!setValue(text, section, kv.first, kv.second))
                return 0;
        for (const auto& key : remove)
            removeKey(text, section, key);

        // A new file holds a password in plain text: owner-only access.
        const mode_t mode = exists ? (st.st_mode & 07777) : 0600;
        return replaceFile(target, encodeText(text), mode, exists ? &st : nullptr) ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}   // namespace kevra
