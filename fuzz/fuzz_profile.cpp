// libFuzzer target for the profile engine: the input becomes a profile file on disk, then it is
// read and written through ProfileFile. Checks, besides memory safety, that a successful write
// reads back and that a refused write leaves the file byte for byte as it was.
// Input: byte 0 chooses the section and key, byte 1 the value's length in code units, then the
// value's UTF-16LE code units, then the file's bytes.
#include "common/Utf.h"
#include "profile/ProfileFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace kevra;

namespace {

struct Names {
    const char16_t* section;
    const char16_t* key;
};

// Names the program really uses, and some that collide with each other (IP0 inside XIP0).
constexpr Names kNames[] = {
    {u"login", u"IP0"}, {u"login", u"Port0"}, {u"language", u"LOGIN"}, {u"language", u"D_IP"},
    {u"s", u"k"},       {u"login", u"XIP0"},  {u"\x5F55", u"\x952E"},  {u"a b", u"c d"},
};
constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);

const std::string& folder()
{
    static std::string path = [] {
        // A memory file system when there is one: the engine flushes every write to the disk.
        std::string tmpl = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/kevra-fuzz-profile-XXXXXX"
                                                           : "/tmp/kevra-fuzz-profile-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr)
            std::abort();
        return tmpl;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            ::unlink((path + "/fuzz.ini").c_str());
            ::rmdir(path.c_str());
        });
        return true;
    }();
    (void)cleanup;
    return path;
}

bool putFile(const std::string& path, const uint8_t* data, size_t size)
{
    ::unlink(path.c_str());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0;
}

std::vector<uint8_t> getFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    uint8_t buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    ::close(fd);
    return bytes;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const Names& names = kNames[data[0] % kNameCount];
    const std::u16string section = names.section;
    const std::u16string key = names.key;

    size_t valueUnits = data[1] % 32;
    size_t pos = 2;
    std::u16string value;
    for (size_t i = 0; i < valueUnits && pos + 1 < size; ++i, pos += 2) {
        char16_t unit = static_cast<char16_t>(data[pos] | (data[pos + 1] << 8));
        // A value never holds a line end or a NUL (the file layout cannot carry them).
        if (unit == u'\r' || unit == u'\n' || unit == u'\0')
            unit = u'x';
        value.push_back(unit);
    }
    const uint8_t* content = data + pos;
    const size_t contentSize = size - pos;

    const std::string file = folder() + "/fuzz.ini";
    const std::u16string path = fromUtf8(file);
    if (!putFile(file, content, contentSize))
        return 0;

    (void)ProfileFile::ReadString(section, key, u"default", path);
    (void)ProfileFile::ReadInt(section, key, 34567, path);

    const std::vector<uint8_t> before = getFile(file);
    if (ProfileFile::WriteString(section, key, value, path) == 1) {
        if (ProfileFile::ReadString(section, key, u"\xFFFF-missing", path) != value)
            std::abort();
    } else if (getFile(file) != before) {
        std::abort();
    }

    // The same bytes as 8-bit text through the UTF-8 conversion: the result is well formed,
    // so it survives a round trip unchanged.
    const std::u16string wide =
        fromUtf8(std::string(reinterpret_cast<const char*>(content), contentSize));
    if (fromUtf8(toUtf8(wide)) != wide)
        std::abort();
    return 0;
}
