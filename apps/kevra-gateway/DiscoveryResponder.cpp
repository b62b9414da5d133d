#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <glib-unix.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "GatewayLog.h"

namespace kevra::gateway {

DiscoveryResponder::DiscoveryResponder(std::vector<OnvifCamera> cameras, std::string listen,
                                       int port)
    : cameras_(std::move(cameras)), listen_(std::move(listen)), port_(port),
      messages_(uint64_t(std::time(nullptr)))
{
}

DiscoveryResponder::~DiscoveryResponder()
{
    stop();
}

const DiscoveryResponder::Interface* DiscoveryResponder::interfaceOf(int index) const
{
    for (const Interface& i : interfaces_)
        if (i.index == index)
            return &i;
    return nullptr;
}

std::string DiscoveryResponder::start(GMainContext* context)
{
    in_addr listenAddress{};
    if (inet_pton(AF_INET, listen_.c_str(), &listenAddress) != 1)
        return "discovery needs an IPv4 --listen address, not " + listen_;
    const bool any = listenAddress.s_addr == htonl(INADDR_ANY);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
                continue;
            in_addr a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
            if (!any && a.s_addr != listenAddress.s_addr)
                continue;
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &a, text, sizeof text);
            interfaces_.push_back({int(if_nametoindex(i->ifa_name)), text});
        }
        freeifaddrs(list);
    }
    if (interfaces_.empty())
        return "discovery: no interface has the address " + listen_;

    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    unsigned char ttl = 1;
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    sockaddr_in bindAddress{};
    bindAddress.sin_family = AF_INET;
    bindAddress.sin_port = htons(uint16_t(port_));
    bindAddress.sin_addr.s_addr = htonl(INADDR_ANY);   // group traffic arrives for the group
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&bindAddress), sizeof bindAddress) != 0) {
        std::string why = "discovery port " + std::to_string(port_) + ": " + strerror(errno);
        stop();
        return why;
    }
    socklen_t length = sizeof bindAddress;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bindAddress), &length);
    boundPort_ = ntohs(bindAddress.sin_port);
    for (const Interface& i : interfaces_) {
        ip_mreqn join{};
        inet_pton(AF_INET, kGroup, &join.imr_multiaddr);
        join.imr_ifindex = i.index;
        if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            GatewayLog::detail("discovery: no multicast on interface " + i.address + ": " +
                               strerror(errno));
    }
    watch_ = g_unix_fd_source_new(fd_, G_IO_IN);
    g_source_set_callback(watch_, G_SOURCE_FUNC(+[](int, GIOCondition, gpointer self) -> gboolean {
                              static_cast<DiscoveryResponder*>(self)->receive();
                              return G_SOURCE_CONTINUE;
                          }),
                          this, nullptr);
    g_source_attach(watch_, context);
    announce(true);
    return "";
}

void DiscoveryResponder::stop()
{
    if (fd_ < 0)
        return;
    if (watch_) {
        announce(false);
        g_source_destroy(watch_);
        g_source_unref(watch_);
        watch_ = nullptr;
    }
    close(fd_);
    fd_ = -1;
}

void DiscoveryResponder::sendTo(const std::string& message, const void* address, unsigned length)
{
    sendto(fd_, message.data(), message.size(), MSG_NOSIGNAL, static_cast<const sockaddr*>(address),
           socklen_t(length));
}

void DiscoveryResponder::announce(bool hello)
{
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(uint16_t(port_ == 0 ? kDefaultPort : port_));
    inet_pton(AF_INET, kGroup, &group.sin_addr);
    for (const Interface& i : interfaces_) {
        ip_mreqn via{};
        via.imr_ifindex = i.index;
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
        for (const OnvifCamera& cam : cameras_)
            sendTo(hello ? messages_.hello(cam, i.address) : messages_.bye(cam), &group,
                   sizeof group);
    }
}

void DiscoveryResponder::receive()
{
    static char buffer[65536];
    for (int n = 0; n < 64; ++n) {   // a flood is read in bounded batches
        sockaddr_in from{};
        iovec io{buffer, sizeof buffer};
        alignas(cmsghdr) char control[256];
        msghdr m{};
        m.msg_name = &from;
        m.msg_namelen = sizeof from;
        m.msg_iov = &io;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        ssize_t got = recvmsg(fd_, &m, 0);
        if (got < 0)
            return;
        if (m.msg_flags & MSG_TRUNC || from.sin_port == 0)
            continue;
        const Interface* arrival = nullptr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrival = interfaceOf(info.ipi_ifindex);
            }
        if (!arrival)
            continue;   // not one of the listen address's interfaces
        WsDiscovery::Probe probe;
        if (!WsDiscovery::parseProbe(buffer, size_t(got), probe))
            continue;
        int answered = 0;
        for (const OnvifCamera& cam : cameras_)
            if (WsDiscovery::matches(probe, cam)) {
                sendTo(messages_.probeMatches(probe, cam, arrival->address), &from, sizeof from);
                ++answered;
            }
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        GatewayLog::detail("discovery: probe from " + std::string(text) + ":" +
                           std::to_string(ntohs(from.sin_port)) + ", " + std::to_string(answered) +
                           " cameras answered");
    }
}

}   // namespace kevra::gateway
