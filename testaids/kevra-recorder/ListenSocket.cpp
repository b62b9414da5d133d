#include "ListenSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kevra {

ListenSocket::~ListenSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int ListenSocket::open(const std::string& address, int port, std::string& message)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        message = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        message = "bad listen address " + address;
        return -1;
    }
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 64) != 0) {
        message = std::string("cannot listen on ") + address + ":" + std::to_string(port) + ": " +
                  std::strerror(errno);
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return 0;
}

int ListenSocket::accept(std::string& peer)
{
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const int fd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}   // namespace kevra
