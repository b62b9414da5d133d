#include "profile/SettingsFolder.h"

#include "common/FdIo.h"
#include "common/Folders.h"
#include "common/Utf.h"
#include "profile/ProfileFile.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kevra {

namespace {

std::u16string& fallback()
{
    static std::u16string folder;
    return folder;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The folder part of path (up to and including the last '/') and the name after it.
bool split(const std::u16string& path, std::u16string& folder, std::u16string& name)
{
    const size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos || slash + 1 == path.size())
        return false;
    folder = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
    return true;
}

bool inUserFolder(const std::u16string& path, std::u16string& name)
{
    std::u16string folder;
    const std::u16string user = SettingsFolder::userFolder();
    return !user.empty() && split(path, folder, name) && folder == user;
}

// Copies a regular file of at most the profile size limit to a new owner-only file; a target
// that appeared meanwhile is left alone. Failures leave no partial target behind.
void copyOwnerOnly(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return;
    struct stat st {};
    std::vector<char> bytes;
    bool ok =
        ::fstat(in, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= ProfileFile::kMaxFileBytes;
    if (ok) {
        bytes.resize(size_t(st.st_size));
        ok = readFromStart(in, bytes.data(), bytes.size());
    }
    ::close(in);
    if (!ok)
        return;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return;
    ok = writeAll(out, bytes.data(), bytes.size());
    if (::close(out) != 0 || !ok)
        ::unlink(to.c_str());
}

}   // namespace

std::u16string SettingsFolder::folderFrom(const char* xdgConfigHome, const char* home)
{
    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        base = xdgConfigHome;
    else if (home != nullptr && home[0] == '/')
        base = std::string(home) +
               (home[std::char_traits<char>::length(home) - 1] == '/' ? ".config" : "/.config");
    else
        return std::u16string();
    if (base.back() != '/')
        base += '/';
    return fromUtf8(base + kFolderName + "/");
}

std::u16string SettingsFolder::userFolder()
{
    return folderFrom(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

void SettingsFolder::setFallbackFolder(const std::u16string& folder)
{
    fallback() = folder;
}

std::u16string SettingsFolder::readPath(const std::u16string& path)
{
    std::u16string name;
    if (fallback().empty() || !inUserFolder(path, name) || exists(toUtf8(path)))
        return path;
    const std::u16string old = fallback() + name;
    return exists(toUtf8(old)) ? old : path;
}

bool SettingsFolder::prepareWrite(const std::u16string& path)
{
    std::u16string name;
    if (!inUserFolder(path, name))
        return true;
    if (!makeFolders(toUtf8(userFolder()), 0700))   // owner-only
        return false;
    const std::string target = toUtf8(path);
    if (!fallback().empty() && !exists(target)) {
        const std::string old = toUtf8(fallback() + name);
        if (exists(old))
            copyOwnerOnly(old, target);
    }
    return true;
}

}   // namespace kevra
