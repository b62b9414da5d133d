#include "device/TcpLink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kevra {

TcpLink::TcpLink() = default;

TcpLink::~TcpLink()
{
    close();
}

int TcpLink::connect(const char* host, int port, int timeoutMs)
{
    connectError_ = 0;
    if (!host)
        return kUnresolved;
    if (port < 1 || port > 65535) {
        // Cut to 16 bits it would name some other port: never connect there.
        connectError_ = EINVAL;
        return kFailed;
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, host, &parsed) == 1) {
        address_ = parsed.s_addr;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
            return kUnresolved;
        address_ = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(result);
    }
    port_ = htons(static_cast<uint16_t>(port));
    broken_ = false;

    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket_ < 0) {
        connectError_ = errno;
        return kFailed;
    }
    const int flags = fcntl(socket_, F_GETFL, 0);
    if (flags < 0 || fcntl(socket_, F_SETFL, flags | O_NONBLOCK) < 0) {
        ::close(socket_);
        socket_ = -1;
        return kNoNonBlocking;
    }
    if (noDelay_ == 1) {
        int one = 1;
        if (setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
            std::fprintf(stderr, "error setsockopt nodelay\n");
    }
    if (receiveBufferSize_ > 0)
        setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize_, sizeof receiveBufferSize_);
    if (sendBufferSize_ > 0)
        setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &sendBufferSize_, sizeof sendBufferSize_);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address_;
    to.sin_port = port_;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return socket_;
    connectError_ = errno;
    if (errno == EINPROGRESS || errno == EINTR) {
        connectError_ = ETIMEDOUT;
        // Wait for writability; a signal may cut the wait short, so keep the deadline.
        using Steady = std::chrono::steady_clock;
        const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
        int left = timeoutMs;
        for (;;) {
            pollfd p{socket_, POLLOUT, 0};
            int r = ::poll(&p, 1, left < 0 ? 0 : left);
            if (r > 0) {
                int error = 0;
                socklen_t len = sizeof error;
                if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
                    return socket_;
                connectError_ = error != 0 ? error : errno;
                break;
            }
            if (r == 0 || errno != EINTR)
                break;
            const auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
            if (rest.count() <= 0)
                break;
            left = static_cast<int>(rest.count());
        }
    }
    close();
    return kFailed;
}

int TcpLink::send(const uint8_t* bytes, int length)
{
    if (socket_ < 0 || !bytes || length < 0)
        return -1;
    ssize_t n = ::send(socket_, bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        broken_ = true;
        return -1;
    }
    return static_cast<int>(n);
}

bool TcpLink::waitWritable(int timeoutMs)
{
    if (socket_ < 0)
        return false;
    pollfd p{socket_, POLLOUT, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLOUT) &&
           !(p.revents & (POLLERR | POLLNVAL));
}

int TcpLink::receive(uint8_t* buffer, int size)
{
    if (socket_ < 0 || !buffer || size <= 0)
        return 0;
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, pollWaitMs_) <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
        return 0;
    ssize_t n = ::recv(socket_, buffer, static_cast<size_t>(size), 0);
    if (n > 0)
        return static_cast<int>(n);
    // Readable with nothing to read is the peer's orderly close; any error but "try again"
    // (a reset, for instance) ends the link as well.
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        broken_ = true;
    return 0;
}

void TcpLink::close()
{
    if (socket_ < 0)
        return;
    ::shutdown(socket_, SHUT_RDWR);
    uint8_t discard[128];
    for (;;) {
        ssize_t n = ::recv(socket_, discard, sizeof discard, MSG_DONTWAIT);
        if (n <= 0)
            break;
    }
    ::close(socket_);
    socket_ = -1;
    broken_ = false;
}

}   // namespace kevra
