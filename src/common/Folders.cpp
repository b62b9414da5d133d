#include "common/Folders.h"

#include <sys/stat.h>

#include <cerrno>

namespace kevra {

bool makeFolders(const std::string& path, mode_t mode)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}   // namespace kevra
