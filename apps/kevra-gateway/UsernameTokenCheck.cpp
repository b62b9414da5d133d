#include "UsernameTokenCheck.h"

#include <glib.h>

#include <cstdio>
#include <ctime>

namespace kevra::gateway {

namespace {

// Compares without leaving the position of the first difference in the timing.
bool sameText(const std::string& a, const std::string& b)
{
    unsigned diff = a.size() != b.size();
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        diff |= unsigned(uint8_t(a[i]) ^ uint8_t(b[i]));
    return diff == 0;
}

}   // namespace

UsernameTokenCheck::UsernameTokenCheck(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password))
{
}

int64_t UsernameTokenCheck::parseTime(const std::string& text)
{
    if (text.size() < 19 || text.size() > 40)
        return -1;
    struct tm t = {};
    char sep = 0, tail[32] = {};
    int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%31s", &t.tm_year, &t.tm_mon,
                        &t.tm_mday, &sep, &t.tm_hour, &t.tm_min, &t.tm_sec, tail);
    if (n < 7 || (sep != 'T' && sep != 't') || t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 ||
        t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60 || t.tm_year < 1970)
        return -1;
    std::string rest = n == 8 ? tail : "";
    if (!rest.empty() && rest[0] == '.') {
        size_t i = 1;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9')
            ++i;
        rest = rest.substr(i);
    }
    int64_t offset = 0;
    if (rest == "Z" || rest == "z" || rest.empty()) {
        offset = 0;
    } else {
        int hh = 0, mm = 0;
        char extra = 0;
        if ((rest[0] != '+' && rest[0] != '-') ||
            std::sscanf(rest.c_str() + 1, "%2d:%2d%c", &hh, &mm, &extra) != 2 || hh > 14 || mm > 59)
            return -1;
        offset = (rest[0] == '+' ? 1 : -1) * (hh * 3600 + mm * 60);
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return int64_t(timegm(&t)) - offset;
}

std::string UsernameTokenCheck::digest(const std::string& nonceBytes, const std::string& created,
                                       const std::string& password)
{
    std::string all = nonceBytes + created + password;
    GChecksum* sha = g_checksum_new(G_CHECKSUM_SHA1);
    g_checksum_update(sha, reinterpret_cast<const guchar*>(all.data()), gssize(all.size()));
    guint8 raw[20];
    gsize length = sizeof raw;
    g_checksum_get_digest(sha, raw, &length);
    g_checksum_free(sha);
    gchar* b64 = g_base64_encode(raw, length);
    std::string out = b64;
    g_free(b64);
    return out;
}

void UsernameTokenCheck::forgetBefore(int64_t unixSeconds)
{
    while (!order_.empty() && (order_.front().at < unixSeconds || order_.size() > kMaxNonces)) {
        nonces_.erase(order_.front().nonce);
        order_.pop_front();
    }
}

UsernameTokenCheck::Outcome UsernameTokenCheck::check(const SoapRequest::UsernameToken& token,
                                                      int64_t now)
{
    if (!sameText(token.user, user_))
        return Outcome::WrongUser;
    if (!token.digest)
        return sameText(token.password, password_) ? Outcome::Ok : Outcome::WrongPassword;
    if (token.nonce.empty() || token.nonce.size() > 256 || token.created.empty())
        return Outcome::Malformed;
    int64_t created = parseTime(token.created);
    if (created < 0)
        return Outcome::Malformed;
    gsize nonceLength = 0;
    guchar* raw = g_base64_decode(token.nonce.c_str(), &nonceLength);
    std::string nonce(reinterpret_cast<const char*>(raw), nonceLength);
    g_free(raw);
    if (!sameText(digest(nonce, token.created, password_), token.password))
        return Outcome::WrongPassword;
    if (created < now - kWindowSeconds || created > now + kWindowSeconds)
        return Outcome::Stale;
    forgetBefore(now - 2 * kWindowSeconds);
    if (!nonces_.insert(token.nonce).second)
        return Outcome::Replayed;
    order_.push_back({now, token.nonce});
    forgetBefore(now - 2 * kWindowSeconds);
    return Outcome::Ok;
}

}   // namespace kevra::gateway
