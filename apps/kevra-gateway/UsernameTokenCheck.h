// Checks a WS-Security UsernameToken against the gateway's credentials: a PasswordDigest is
// Base64(SHA-1(nonce + created + password)) with a created time near the gateway's clock, and
// each nonce is accepted once within the replay window (a captured request sent again is
// refused); a PasswordText is compared as it is. The nonces seen are bounded in number.
// Used on the GLib main thread only.
#pragma once
#include <cstdint>
#include <deque>
#include <set>
#include <string>

#include "SoapRequest.h"

namespace kevra::gateway {

class UsernameTokenCheck {
public:
    static constexpr int64_t kWindowSeconds = 300;   // allowed clock difference, nonce memory
    static constexpr size_t kMaxNonces = 8192;

    enum class Outcome { Ok, WrongUser, WrongPassword, Stale, Replayed, Malformed };

    UsernameTokenCheck(std::string user, std::string password);

    Outcome check(const SoapRequest::UsernameToken& token, int64_t nowUnixSeconds);

    // "2026-12-08T15:04:05Z" (fraction and offset allowed) as Unix seconds; -1 if malformed.
    static int64_t parseTime(const std::string& text);
    // Base64(SHA-1(nonce bytes + created + password)), as a client computes it.
    static std::string digest(const std::string& nonceBytes, const std::string& created,
                              const std::string& password);

private:
    struct Seen {
        int64_t at;
        std::string nonce;
    };
    void forgetBefore(int64_t unixSeconds);

    const std::string user_;
    const std::string password_;
    std::set<std::string> nonces_;
    std::deque<Seen> order_;   // oldest first
};

}   // namespace kevra::gateway
