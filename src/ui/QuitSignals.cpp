#include "ui/QuitSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace kevra {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the handler; -1 while no watcher is installed.
std::atomic<int> g_writeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int signo)
{
    const int saved = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signo);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);   // a full pipe loses nothing
    }
    errno = saved;
}

}   // namespace

QuitSignals::QuitSignals(std::function<void(int)> action) : action_(std::move(action))
{
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    g_writeFd.store(fds_[1]);
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int s : kSignals)
        ::sigaction(s, &sa, nullptr);
}

QuitSignals::~QuitSignals()
{
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    g_writeFd.store(-1);
    delete notifier_;
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

void QuitSignals::readPipe()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(fds_[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            if (action_)
                action_(bytes[i]);
}

}   // namespace kevra
