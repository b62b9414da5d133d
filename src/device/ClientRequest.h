// One request posted by the user interface for the network worker to carry out. Created by the
// posting call (user-interface thread), moved through the session's request queue, consumed by
// the worker's dispatcher.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace kevra {

struct ClientRequest {
    enum Kind : int32_t {
        Login = 0,
        Logout = 1,
        OpenChannel = 2,
        StopChannel = 3,
        QueryList = 4,
        Ptz = 5,
        CloseChannel = 6
    };

    // Owned copies of the login texts.
    struct LoginBlock {
        std::string user, password, host;
        int32_t port = 0;
    };

    int32_t kind = Logout;
    int32_t a = 0, b = 0, c = 0;
    std::unique_ptr<LoginBlock> login;
};

}   // namespace kevra
