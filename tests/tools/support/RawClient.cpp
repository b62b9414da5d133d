#include "tools/support/RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace kevra {

RawClient::~RawClient()
{
    close();
}

bool RawClient::connect(int port, int receiveBuffer)
{
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    closed_ = false;
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool RawClient::send(const std::vector<uint8_t>& bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += size_t(n);
    }
    return true;
}

bool RawClient::read(size_t n, std::vector<uint8_t>& out, int timeoutMs)
{
    out.resize(n);
    size_t at = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (at < n) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           until - std::chrono::steady_clock::now())
                           .count());
        if (left <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            continue;
        ssize_t r = ::recv(fd_, out.data() + at, n - at, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            closed_ = true;
            return false;
        }
        at += size_t(r);
    }
    return true;
}

bool RawClient::readMessage(std::vector<uint8_t>& header, std::vector<uint8_t>& payload,
                            int timeoutMs, uint32_t maxPayload)
{
    if (!read(32, header, timeoutMs))
        return false;
    uint32_t n = le32(&header[4]);
    if (n > maxPayload)
        return false;
    payload.clear();
    return n == 0 || read(n, payload, timeoutMs);
}

bool RawClient::waitClosed(int timeoutMs, size_t* drained)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t block[65536];
    while (!closed_) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           until - std::chrono::steady_clock::now())
                           .count());
        if (left <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            continue;
        ssize_t r = ::recv(fd_, block, sizeof block, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            closed_ = true;
            break;
        }
        if (drained)
            *drained += size_t(r);
    }
    return true;
}

bool RawClient::quietFor(int quietMs)
{
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, quietMs) == 0;
}

void RawClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}   // namespace kevra
