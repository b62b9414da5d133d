#include "device/support/ScriptedRecorder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kevra {

ScriptedRecorder::ScriptedRecorder()
{
    loginAnswer_ = LoginAnswer{};
}

ScriptedRecorder::~ScriptedRecorder()
{
    stop();
}

int ScriptedRecorder::start()
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return -1;
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return -1;
    }
    fcntl(listenFd_, F_SETFL, fcntl(listenFd_, F_GETFL, 0) | O_NONBLOCK);
    port_ = ntohs(a.sin_port);
    running_ = true;
    thread_ = std::thread([this] { serve(); });
    return port_;
}

void ScriptedRecorder::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_) {
        if (c.fd >= 0)
            ::close(c.fd);
        c.fd = -1;
    }
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void ScriptedRecorder::answerLogin(std::optional<LoginAnswer> answer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    loginAnswer_ = answer;
}

void ScriptedRecorder::answerKeepalive(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answerKeepalive_ = on;
}

void ScriptedRecorder::answerList(std::vector<uint8_t> message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listMessage_ = std::move(message);
}

int ScriptedRecorder::connectionCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(connections_.size());
}

bool ScriptedRecorder::waitConnections(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return static_cast<int>(connections_.size()) >= count; });
}

std::vector<uint8_t> ScriptedRecorder::received(int conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn < 0 || conn >= static_cast<int>(connections_.size()))
        return {};
    return connections_[static_cast<size_t>(conn)].received;
}

std::vector<ScriptedRecorder::Request> ScriptedRecorder::requests(int conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn < 0 || conn >= static_cast<int>(connections_.size()))
        return {};
    return connections_[static_cast<size_t>(conn)].requests;
}

bool ScriptedRecorder::waitRequests(int conn, size_t count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return conn >= 0 && conn < static_cast<int>(connections_.size()) &&
               connections_[static_cast<size_t>(conn)].requests.size() >= count;
    });
}

int ScriptedRecorder::claimedConnection(int channel1)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = connections_.size(); i-- > 0;) {
        for (const auto& r : connections_[i].requests) {
            if (r.command == RecorderMessages::kChannelClaim && r.claimChannel == channel1)
                return static_cast<int>(i);
        }
    }
    return -1;
}

void ScriptedRecorder::queueLocked(Connection& c, const std::vector<uint8_t>& bytes)
{
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
}

void ScriptedRecorder::send(int conn, std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn < 0 || conn >= static_cast<int>(connections_.size()))
        return;
    queueLocked(connections_[static_cast<size_t>(conn)], bytes);
}

size_t ScriptedRecorder::pendingOut(int conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn < 0 || conn >= static_cast<int>(connections_.size()))
        return 0;
    const Connection& c = connections_[static_cast<size_t>(conn)];
    return c.out.size() - c.outAt;
}

bool ScriptedRecorder::waitSent(int conn, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pendingOut(conn) > 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ScriptedRecorder::closeConnection(int conn, bool reset)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn < 0 || conn >= static_cast<int>(connections_.size()))
        return;
    Connection& c = connections_[static_cast<size_t>(conn)];
    if (c.fd >= 0 && reset) {
        const linger abort{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    if (c.fd >= 0)
        ::close(c.fd);
    c.fd = -1;
    c.out.clear();
    c.outAt = 0;
}

bool ScriptedRecorder::connectionOpen(int conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return conn >= 0 && conn < static_cast<int>(connections_.size()) &&
           connections_[static_cast<size_t>(conn)].fd >= 0;
}

bool ScriptedRecorder::waitClosed(int conn, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (connectionOpen(conn)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ScriptedRecorder::stopListening()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (listenFd_ >= 0) {
        // Shutting the socket down stops listening at once, even while the serving thread's
        // poll still holds it.
        ::shutdown(listenFd_, SHUT_RDWR);
        ::close(listenFd_);
    }
    listenFd_ = -1;
}

void ScriptedRecorder::handleRequest(Connection& c, const Request& r)
{
    switch (r.command) {
    case RecorderMessages::kLogin:
        if (loginAnswer_)
            queueLocked(c, RecorderMessages::buildLoginReply(
                               loginAnswer_->outcome, loginAnswer_->reason,
                               loginAnswer_->channelCount, loginAnswer_->sessionId));
        break;
    case RecorderMessages::kKeepalive:
        if (answerKeepalive_)
            queueLocked(c, RecorderMessages::buildKeepaliveReply());
        break;
    case RecorderMessages::kListQuery:
        if (!listMessage_.empty())
            queueLocked(c, listMessage_);
        break;
    default: break;
    }
}

void ScriptedRecorder::serve()
{
    std::vector<uint8_t> chunk(65536);
    while (running_) {
        std::vector<pollfd> fds;
        std::vector<int> owner;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fds.push_back({listenFd_, POLLIN, 0});
            owner.push_back(-1);
            for (size_t i = 0; i < connections_.size(); ++i) {
                const Connection& c = connections_[i];
                if (c.fd < 0)
                    continue;
                short events = POLLIN;
                if (c.outAt < c.out.size())
                    events |= POLLOUT;
                fds.push_back({c.fd, events, 0});
                owner.push_back(static_cast<int>(i));
            }
        }
        if (::poll(fds.data(), fds.size(), 2) < 0 && errno != EINTR)
            break;

        std::lock_guard<std::mutex> lock(mutex_);
        bool any = false;
        if (listenFd_ >= 0 && fds[0].fd == listenFd_ && (fds[0].revents & POLLIN)) {
            for (;;) {
                int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                Connection c;
                c.fd = fd;
                connections_.push_back(std::move(c));
                any = true;
            }
        }
        for (size_t k = 1; k < fds.size(); ++k) {
            Connection& c = connections_[static_cast<size_t>(owner[k])];
            if (c.fd != fds[k].fd)
                continue;   // closed by the test meanwhile
            if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::recv(c.fd, chunk.data(), chunk.size(), 0);
                if (n > 0) {
                    c.received.insert(c.received.end(), chunk.begin(), chunk.begin() + n);
                    c.unparsed.insert(c.unparsed.end(), chunk.begin(), chunk.begin() + n);
                    any = true;
                    for (;;) {
                        int64_t total =
                            RecorderMessages::completeLength(c.unparsed.data(), c.unparsed.size());
                        if (total <= 0)
                            break;
                        Request r;
                        RecorderMessages::parseRequest(c.unparsed.data(), c.unparsed.data() + 32,
                                                       static_cast<size_t>(total) - 32, r);
                        c.unparsed.erase(c.unparsed.begin(), c.unparsed.begin() + total);
                        handleRequest(c, r);
                        c.requests.push_back(std::move(r));
                    }
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    ::close(c.fd);
                    c.fd = -1;
                    continue;
                }
            }
            if (c.fd >= 0 && c.outAt < c.out.size()) {
                ssize_t n = ::send(c.fd, c.out.data() + c.outAt, c.out.size() - c.outAt,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    c.outAt += static_cast<size_t>(n);
                    if (c.outAt == c.out.size()) {
                        c.out.clear();
                        c.outAt = 0;
                    }
                }
            }
        }
        if (any)
            changed_.notify_all();
    }
}

}   // namespace kevra
