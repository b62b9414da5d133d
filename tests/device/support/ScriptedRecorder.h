// In-process recorder for the device tests: listens on 127.0.0.1 (free port), accepts session
// and media connections, records every byte received and answers as the test scripts it.
// Its own thread serves the sockets; test threads call the public operations (all locked).
#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#include <atomic>

#include "testkit/RecorderMessages.h"

namespace kevra {

class ScriptedRecorder {
public:
    using Request = RecorderMessages::Request;

    struct LoginAnswer {
        int outcome = 0, reason = 0, channelCount = 4;
        std::array<uint8_t, 4> sessionId{0x11, 0x22, 0x33, 0x44};
    };

    ScriptedRecorder();
    ~ScriptedRecorder();

    // Listens on a free port; returns it, or -1.
    int start();
    void stop();
    int port() const { return port_; }

    // Automatic answers (set before the client acts). No login answer = never answer LOGIN.
    void answerLogin(std::optional<LoginAnswer> answer);
    void answerKeepalive(bool on);
    // Whole message bytes sent after every LIST_QUERY; empty = no answer.
    void answerList(std::vector<uint8_t> message);

    int connectionCount();
    bool waitConnections(int count, int timeoutMs = 5000);
    // Every byte received on connection conn (accept order), and the requests parsed from it.
    std::vector<uint8_t> received(int conn);
    std::vector<Request> requests(int conn);
    bool waitRequests(int conn, size_t count, int timeoutMs = 5000);
    // The latest media connection that claimed the given 1-based channel, or -1.
    int claimedConnection(int channel1);

    // Queues bytes for sending on connection conn; the recorder's thread sends them.
    void send(int conn, std::vector<uint8_t> bytes);
    size_t pendingOut(int conn);
    bool waitSent(int conn, int timeoutMs = 5000);
    // Closes connection conn from the recorder's side (reset: abortively, the client reads an
    // error instead of an orderly end).
    void closeConnection(int conn, bool reset = false);
    // False once the client (or the test) closed connection conn.
    bool connectionOpen(int conn);
    bool waitClosed(int conn, int timeoutMs = 5000);
    // Stops accepting new connections (existing ones stay).
    void stopListening();

private:
    struct Connection {
        int fd = -1;
        std::vector<uint8_t> received;
        std::vector<uint8_t> unparsed;
        std::vector<Request> requests;
        std::vector<uint8_t> out;
        size_t outAt = 0;
    };

    void serve();
    void handleRequest(Connection& c, const Request& r);
    void queueLocked(Connection& c, const std::vector<uint8_t>& bytes);

    int listenFd_ = -1;
    int port_ = -1;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Connection> connections_;
    std::optional<LoginAnswer> loginAnswer_;
    bool answerKeepalive_ = true;
    std::vector<uint8_t> listMessage_;
};

}   // namespace kevra
