#include "Secrets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/Utf.h"
#include "profile/LoginSettings.h"

namespace kevra::gateway {

namespace {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

}   // namespace

std::string Secrets::load(const std::string& path)
{
    const std::string what = "secrets file " + path;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return what + ": " + std::strerror(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return what + " is not a regular file";
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        ::close(fd);
        return what + " is open to its group or others (mode " + modeText(st.st_mode) +
               "): it holds passwords, so only its owner may read it (chmod 600 " + path + ")";
    }
    if (st.st_uid != geteuid()) {
        ::close(fd);
        return what + " belongs to another user: it must be owned by the user the gateway runs as";
    }
    if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        return what + " is larger than 64 KB";
    }
    std::string text(size_t(st.st_size), '\0');
    ssize_t got = st.st_size ? ::read(fd, text.data(), text.size()) : 0;
    ::close(fd);
    if (got < 0)
        return what + ": " + std::strerror(errno);
    text.resize(size_t(got));

    std::string section;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const std::string where = what + " line " + std::to_string(lineNumber);
        if (line.front() == '[') {
            if (line.back() != ']')
                return where + ": a section is written [rtsp] or [recorder NAME]";
            section = trim(line.substr(1, line.size() - 2));
            if (section != "rtsp" && section.rfind("recorder ", 0) != 0)
                return where + ": unknown section [" + section +
                       "] (use [rtsp] or [recorder NAME])";
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return where + ": expected KEY = VALUE";
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (key != "user" && key != "password")
            return where + ": unknown key '" + key + "' (use user or password)";
        Credentials* c = nullptr;
        if (section == "rtsp") {
            hasRtsp = true;
            c = &rtsp;
        } else if (!section.empty()) {
            c = &recorders[trim(section.substr(9))];
        } else {
            return where + ": " + key + " outside a section";
        }
        (key == "user" ? c->user : c->password) = value;
    }
    if (hasRtsp && (rtsp.user.empty() || rtsp.password.empty()))
        return what + ": [rtsp] needs both a user and a password";
    return "";
}

Credentials Secrets::recorder(const std::string& name) const
{
    Credentials c{toUtf8(LoginSettings::kDefaultUser), toUtf8(LoginSettings::kDefaultPassword)};
    auto it = recorders.find(name);
    if (it != recorders.end()) {
        if (!it->second.user.empty())
            c.user = it->second.user;
        c.password = it->second.password;   // an empty password is a password too
    }
    return c;
}

}   // namespace kevra::gateway
