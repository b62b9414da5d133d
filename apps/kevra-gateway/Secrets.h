// The gateway's secrets file: the RTSP credentials clients must give and each recorder's user
// and password. Read once on the main thread at start. The file must be a regular file that
// only its owner can read or write; any other file is refused with the reason.
//
//   [rtsp]
//   user = viewer
//   password = long-secret
//   [recorder shop]
//   user = admin
//   password = 580317
#pragma once
#include <map>
#include <string>

namespace kevra::gateway {

struct Credentials {
    std::string user;
    std::string password;
};

struct Secrets {
    static constexpr long kMaxFileBytes = 64 * 1024;

    bool hasRtsp = false;
    Credentials rtsp;
    std::map<std::string, Credentials> recorders;   // by recorder name

    // Reads `path`. Returns "" or the one-line reason it was refused.
    std::string load(const std::string& path);
    // The recorder's entry, or the login dialog's default user and password.
    Credentials recorder(const std::string& name) const;
};

}   // namespace kevra::gateway
