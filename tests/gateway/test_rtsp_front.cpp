// The RTSP front in-process on 127.0.0.1 (its listen queue and its OPTIONS reply) and the
// rate limit of its refusal lines.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "RefusalLog.h"
#include "RtspFront.h"

namespace kevra::gateway {
namespace {

// A media server reconnecting its cameras opens hundreds of connections at once. They must all
// be queued by the kernel while the server is busy (the first ones are established before it
// accepts any), rather than dropped into TCP's one-second retry; then each is served.
TEST(RtspFrontListen, TwoHundredSimultaneousConnectsAreQueuedAndAnswered)
{
    gst_init(nullptr, nullptr);
    RtspFront::Config config;
    config.port = 0;
    RtspFront front(config);
    GMainContext* context = g_main_context_new();
    ASSERT_EQ(front.start(context), "");
    const int port = front.boundPort();
    ASSERT_GT(port, 0);

    constexpr int kClients = 200;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<pollfd> fds;
    for (int i = 0; i < kClients; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        fds.push_back({fd, POLLOUT, 0});
    }
    // The main context does not run yet: nothing is accepted, the kernel's queue holds them.
    // (The wait only bounds a failure; a dropped connect stays unanswered for a second and more.)
    int established = 0;
    for (int round = 0; round < 100 && established < kClients; ++round) {
        established = 0;
        ::poll(fds.data(), fds.size(), 20);
        for (pollfd& p : fds) {
            int error = 0;
            socklen_t size = sizeof error;
            if ((p.revents & POLLOUT) &&
                ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
                ++established;
        }
    }
    EXPECT_EQ(established, kClients);

    // Now served: each gets its OPTIONS reply, which lists no method for publishing a stream.
    std::vector<std::string> replies(kClients);
    for (int i = 0; i < kClients; ++i) {
        const std::string request = "OPTIONS rtsp://127.0.0.1:" + std::to_string(port) +
                                    "/x RTSP/1.0\r\nCSeq: " + std::to_string(i + 1) + "\r\n\r\n";
        ASSERT_EQ(::send(fds[i].fd, request.data(), request.size(), MSG_NOSIGNAL),
                  ssize_t(request.size()));
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int complete = 0;
    while (complete < kClients && std::chrono::steady_clock::now() < until) {
        g_main_context_iteration(context, FALSE);
        complete = 0;
        for (int i = 0; i < kClients; ++i) {
            char buf[2048];
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                replies[i].append(buf, size_t(n));
            complete += replies[i].find("\r\n\r\n") != std::string::npos;
        }
        if (complete < kClients)
            ::usleep(1000);
    }
    EXPECT_EQ(complete, kClients);
    EXPECT_EQ(replies[0].rfind("RTSP/1.0 200 OK\r\n", 0), 0u) << replies[0];
    EXPECT_NE(replies[0].find("\r\nPublic: OPTIONS, DESCRIBE"), std::string::npos) << replies[0];
    for (const char* method : {"ANNOUNCE", "RECORD"})
        EXPECT_EQ(replies[0].find(method), std::string::npos) << replies[0];
    for (pollfd& p : fds)
        ::close(p.fd);
    front.closeAllClients();
    while (g_main_context_iteration(context, FALSE)) {}
    g_main_context_unref(context);
}

// At most one line per address and kind of refusal in each window; the next line written says
// how many were left out. Other addresses and other kinds are not held back.
TEST(RefusalLog, OneLinePerAddressAndKindInAWindowWithTheCountLeftOut)
{
    std::vector<std::string> lines;
    RefusalLog::Clock::time_point now{};
    RefusalLog log([&](const std::string& t) { lines.push_back(t); }, [&] { return now; });
    using std::chrono::seconds;
    const struct {
        int atSeconds;
        const char* address;
        int kind;
        int shownWithLeftOut;   // -1: left out; else written, saying how many were left out
    } steps[] = {
        {0, "10.0.0.1", 401, 0},  {1, "10.0.0.1", 401, -1},  {2, "10.0.0.1", 401, -1},
        {3, "10.0.0.1", 404, 0},  {4, "10.0.0.2", 401, 0},   {9, "10.0.0.1", 401, -1},
        {10, "10.0.0.1", 401, 3}, {11, "10.0.0.1", 401, -1}, {25, "10.0.0.1", 401, 1},
        {40, "10.0.0.1", 401, 0},
    };
    for (const auto& s : steps) {
        now = RefusalLog::Clock::time_point{} + seconds(s.atSeconds);
        const size_t before = lines.size();
        log.note(s.address, s.kind, "refused");
        if (s.shownWithLeftOut < 0) {
            EXPECT_EQ(lines.size(), before) << s.atSeconds;
            continue;
        }
        ASSERT_EQ(lines.size(), before + 1) << s.atSeconds;
        EXPECT_EQ(lines.back(), s.shownWithLeftOut == 0
                                    ? "refused"
                                    : "refused (" + std::to_string(s.shownWithLeftOut) +
                                          " more like it from this address since the last such "
                                          "line)");
    }
}

}   // namespace
}   // namespace kevra::gateway
