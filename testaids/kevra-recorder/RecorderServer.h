// The simulated recorder's server: one poll() loop that accepts clients, answers the session
// requests, matches media connections to sessions and hands each started channel's frames (from
// its CameraSet) to the media connections watching it.
// Everything here runs on the one thread that calls run(); stop() may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AnnexBSource.h"
#include "CameraSet.h"
#include "ClientConnection.h"
#include "EventLog.h"
#include "ListenSocket.h"
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
    int port() const { return listen_.port(); }

    // Serves until stop() is called. Returns 0.
    int run();
    void stop() { stopping_.store(true); }

private:
    using Clock = std::chrono::steady_clock;

    using Connection = ClientConnection;
    using Role = ClientConnection::Role;

    void acceptClients();
    void readFrom(Connection& c);
    void handleMessage(Connection& c, const uint8_t* msg, size_t length);
    void handleLogin(Connection& c, const RecorderMessages::Request& r);
    void handleClaim(Connection& c, const RecorderMessages::Request& r);
    void handleStreamControl(Connection& c, const RecorderMessages::Request& r);
    void handleList(Connection& c);
    void logIgnored(const Connection& c, int command, const char* reason);
    // header: bytes sent once per connection before its first frame (may be empty).
    void deliver(Connection& media, const std::vector<uint8_t>& header,
                 const std::vector<uint8_t>& frame, bool key);
    void closeConnection(int id, const char* reason);
    bool streaming(const Connection& media) const;
    // The picture stream a streaming media connection receives: 2 (quarter size) or 1.
    int streamOf(const Connection& media) const;
    void handlePtz(Connection& c, const RecorderMessages::Request& r);
    void sendFrame(int channel, int stream, const std::vector<uint8_t>& header,
                   const std::vector<uint8_t>& frame, bool key, int64_t number);
    Connection* find(int id);
    void checkTimers(Clock::time_point now);
    void updateCameras(Clock::time_point now);
    int channelCount() const;

    const RecorderOptions& options_;
    EventLog& log_;
    AnnexBSource source_;
    bool haveSource_ = false;
    ListenSocket listen_;
    int nextId_ = 1;
    std::atomic<bool> stopping_{false};
    std::map<int, std::unique_ptr<Connection>> connections_;
    CameraSet cameras_;
    std::vector<int> closing_;
    std::mt19937 random_;
};

}   // namespace kevra
