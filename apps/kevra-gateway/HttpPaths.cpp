#include "HttpPaths.h"

#include <cstdlib>

namespace kevra::gateway {

namespace {

bool nameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// q-value of one language range's parameters ("q=0.8"); 1 without one, 0 when malformed.
double qualityOf(const std::string& params)
{
    size_t q = params.find("q=");
    if (q == std::string::npos)
        return 1.0;
    std::string v = trim(params.substr(q + 2));
    if (v.empty() || v.size() > 5 || !(v[0] == '0' || v[0] == '1'))
        return 0.0;
    for (size_t i = 1; i < v.size(); ++i)
        if (!(v[i] == '.' && i == 1) && !(v[i] >= '0' && v[i] <= '9'))
            return 0.0;
    double d = std::strtod(v.c_str(), nullptr);
    return d > 1.0 ? 0.0 : d;
}

}   // namespace

bool parseSnapshotPath(const std::string& path, std::string& recorder, int& camera)
{
    static const std::string head = "/snapshot/", tail = ".jpg";
    if (path.size() > 64 || path.compare(0, head.size(), head) != 0 ||
        path.size() < head.size() + tail.size() + 3 ||
        path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string middle = path.substr(head.size(), path.size() - head.size() - tail.size());
    size_t slash = middle.find('/');
    if (slash == std::string::npos || slash == 0 || slash > 32)
        return false;
    std::string name = middle.substr(0, slash), number = middle.substr(slash + 1);
    for (char c : name)
        if (!nameChar(c))
            return false;
    if (number.empty() || number.size() > 4 || number[0] == '0')
        return false;
    int n = 0;
    for (char c : number) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    recorder = name;
    camera = n;
    return true;
}

bool prefersChinese(const std::string& header)
{
    std::string text = lower(header.substr(0, 1024));
    // Each language's best q-value and the position of its first range with that value.
    double zh = 0, en = 0;
    int zhAt = 0, enAt = 0, at = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t semi = item.find(';');
        std::string range = trim(item.substr(0, semi));
        double q = semi == std::string::npos ? 1.0 : qualityOf(item.substr(semi + 1));
        ++at;
        if ((range == "zh" || range.rfind("zh-", 0) == 0) && q > zh) {
            zh = q;
            zhAt = at;
        }
        if ((range == "en" || range.rfind("en-", 0) == 0 || range == "*") && q > en) {
            en = q;
            enAt = at;
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return zh > 0 && (zh > en || (zh == en && zhAt < enAt));
}

std::string hostOf(const std::string& header)
{
    if (header.empty() || header.size() > 255)
        return "";
    std::string host;
    if (header[0] == '[') {
        size_t close = header.find(']');
        if (close == std::string::npos)
            return "";
        host = header.substr(0, close + 1);
        for (size_t i = 1; i < close; ++i) {
            char c = header[i];
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                  c == ':' || c == '.'))
                return "";
        }
        std::string rest = header.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return "";
        return host;
    }
    size_t colon = header.find(':');
    host = header.substr(0, colon);
    if (host.empty())
        return "";
    for (char c : host)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-'))
            return "";
    if (colon != std::string::npos)
        for (size_t i = colon + 1; i < header.size(); ++i)
            if (header[i] < '0' || header[i] > '9')
                return "";
    return host;
}

}   // namespace kevra::gateway
