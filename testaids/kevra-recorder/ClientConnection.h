// One client connection of the simulated recorder: what is known of it (session or media, the
// session's channels, the media connection's place in its stream) and its outgoing bytes, with the
// byte-level faults applied as they are queued. The server's loop reads and sets the fields
// directly; everything here runs on that one loop thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "EventLog.h"
#include "RecorderOptions.h"

namespace kevra {

class ClientConnection {
public:
    using Clock = std::chrono::steady_clock;
    enum class Role { Unknown, Session, Media };
    // Asks the server to close this connection (and whatever depends on it) for `reason`.
    using Close = std::function<void(const char* reason)>;

    ClientConnection(const RecorderOptions& options, EventLog& log, std::mt19937& random,
                     Close close)
        : options_(options), log_(log), random_(random), close_(std::move(close))
    {
    }

    // Queues bytes to send, cut short where a stall or byte-limit fault says so.
    void queue(std::vector<uint8_t> bytes);
    // Queues more of garbageLeft as the queue drains, so a huge amount never sits in memory.
    void queueGarbage();
    // Sends what the socket takes now.
    void writeOut();

    int id = 0;
    int fd = -1;
    Role role = Role::Unknown;
    std::string peer;
    std::vector<uint8_t> in;
    std::deque<std::vector<uint8_t>> out;
    size_t outOffset = 0;     // bytes of out.front() already sent
    int64_t queued = 0;       // bytes waiting in out
    int64_t sent = 0;         // bytes handed to the queue so far
    int64_t byteLimit = -1;   // no bytes beyond this count are queued
    bool closeWhenSent = false;
    bool stalled = false;   // nothing more is ever sent
    Clock::time_point opened{};
    // Session
    bool loggedIn = false;
    std::array<uint8_t, 4> sessionId{};
    Clock::time_point loginAt{};
    std::map<int, int> started;   // channel -> stream number
    // Media
    int sessionConn = 0;   // id of the session connection
    int channel = -1;
    bool waitKey = true;
    bool dropping = false;
    int64_t garbageLeft = 0;
    bool absurdSent = false;
    bool headerSent = false;   // the stream header (ASF, AVI) went out before the first frame
    int64_t stallAfter = -1;   // fault: stop in the middle of the message reaching past this
    bool dead = false;         // closed; removed at the end of the loop turn

private:
    const RecorderOptions& options_;
    EventLog& log_;
    std::mt19937& random_;
    Close close_;
};

}   // namespace kevra
