// The simulated recorder's server: one poll() loop that accepts clients, answers the session
// requests, matches media connections to sessions and streams each started channel.
// Everything here runs on the one thread that calls run(); stop() may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AnnexBSource.h"
#include "CameraStream.h"
#include "EventLog.h"
#include "RecorderOptions.h"
#include "testkit/RecorderMessages.h"

namespace kevra {

class RecorderServer {
public:
    RecorderServer(const RecorderOptions& options, EventLog& log);
    ~RecorderServer();
    RecorderServer(const RecorderServer&) = delete;
    RecorderServer& operator=(const RecorderServer&) = delete;

    // Loads the source file (if any) and binds the listening socket. Returns 0 or -1 (message).
    int open(std::string& message);
    int port() const { return port_; }

    // Serves until stop() is called. Returns 0.
    int run();
    void stop() { stopping_.store(true); }

private:
    using Clock = std::chrono::steady_clock;
    enum class Role { Unknown, Session, Media };

    struct Connection {
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
    };

    void acceptClients();
    void readFrom(Connection& c);
    void handleMessage(Connection& c, const uint8_t* msg, size_t length);
    void handleLogin(Connection& c, const RecorderMessages::Request& r);
    void handleClaim(Connection& c, const RecorderMessages::Request& r);
    void handleStreamControl(Connection& c, const RecorderMessages::Request& r);
    void handleList(Connection& c);
    // header: bytes sent once per connection before its first frame (may be empty).
    void deliver(Connection& media, const std::vector<uint8_t>& header,
                 const std::vector<uint8_t>& frame, bool key);
    void writeTo(Connection& c);
    void closeConnection(int id, const char* reason);
    void queue(Connection& c, std::vector<uint8_t> bytes);
    void queueGarbage(Connection& c, int64_t& left);
    bool streaming(const Connection& media) const;
    // The picture stream a streaming media connection receives: 2 (quarter size) or 1.
    int streamOf(const Connection& media) const;
    void handlePtz(Connection& c, const RecorderMessages::Request& r);
    void requestKeyFrames(int channel);
    // True while --fault-burst holds media back.
    bool burstStalled(Clock::time_point now) const;
    void sendFrame(int channel, int stream, const std::vector<uint8_t>& header,
                   const std::vector<uint8_t>& frame, bool key, int64_t number);
    Connection* find(int id);
    void streamFrames(Clock::time_point now);
    void checkTimers(Clock::time_point now);
    void updateCameras(Clock::time_point now);
    int channelCount() const;

    const RecorderOptions& options_;
    EventLog& log_;
    AnnexBSource source_;
    bool haveSource_ = false;
    int listenFd_ = -1;
    int port_ = -1;
    int nextId_ = 1;
    std::atomic<bool> stopping_{false};
    std::map<int, std::unique_ptr<Connection>> connections_;
    using CameraKey = std::pair<int, int>;   // channel, stream number (1 or 2)
    std::map<CameraKey, std::unique_ptr<CameraStream>> cameras_;
    struct HeldFrame {
        std::vector<uint8_t> bytes;
        bool key;
        int64_t number;
    };
    std::map<CameraKey, std::deque<HeldFrame>> held_;   // frames a burst stall holds back
    std::map<int, std::pair<int, int>> pan_;            // channel -> pan steps
    Clock::time_point started_{};
    std::vector<int> closing_;
    std::mt19937 random_;
};

}   // namespace kevra
