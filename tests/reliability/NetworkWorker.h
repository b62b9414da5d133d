// Test stand-in for the device client's network worker: one DeviceSession, a thread that takes
// the posted requests off the session's queue, executes them and polls, 10 ms apart, exactly as
// the program's worker step does; every outcome lands in an EventLog. Posting is from the test
// thread, everything else on the worker thread.
#pragma once
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "device/DeviceSession.h"
#include "device/support/EventLog.h"

namespace kevra {

class NetworkWorker {
public:
    NetworkWorker() : session_(&log)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~NetworkWorker()
    {
        running_ = false;
        thread_.join();
    }

    void login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs = 10000)
    {
        ClientRequest r;
        r.kind = ClientRequest::Login;
        r.a = timeoutMs;
        r.login = std::make_unique<ClientRequest::LoginBlock>();
        r.login->host = host;
        r.login->port = port;
        r.login->user = user;
        r.login->password = password;
        session_.postRequest(std::move(r));
    }
    void logout() { post(ClientRequest::Logout); }
    void queryList() { post(ClientRequest::QueryList); }
    void openChannel(int channel, int stream) { post(ClientRequest::OpenChannel, channel, stream); }

    // Steps completed by the worker; waiting for two more proves the clock was seen.
    uint64_t steps() const { return steps_.load(); }
    void waitSteps(uint64_t n) const
    {
        const uint64_t target = steps_.load() + n;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (steps_.load() < target && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    EventLog log;

private:
    void post(int kind, int a = 0, int b = 0)
    {
        ClientRequest r;
        r.kind = kind;
        r.a = a;
        r.b = b;
        session_.postRequest(std::move(r));
    }
    void dispatch(ClientRequest& r)
    {
        switch (r.kind) {
        case ClientRequest::Login:
            session_.login(r.login->host.c_str(), r.login->port, r.login->user.c_str(),
                           r.login->password.c_str(), r.a);
            break;
        case ClientRequest::Logout: session_.logout(); break;
        case ClientRequest::OpenChannel: session_.openChannel(r.a, r.b); break;
        case ClientRequest::StopChannel: session_.stopChannel(r.a); break;
        case ClientRequest::QueryList: session_.queryList(); break;
        case ClientRequest::Ptz: session_.sendPtz(r.a, r.b, r.c); break;
        default: break;
        }
    }
    void run()
    {
        while (running_) {
            ClientRequest r;
            while (session_.takeRequest(r))
                dispatch(r);
            session_.poll();
            steps_.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        session_.logout();
    }

    DeviceSession session_;
    std::atomic<bool> running_{true};
    std::atomic<uint64_t> steps_{0};
    std::thread thread_;
};

} // namespace kevra
