#include "tools/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

extern char** environ;

namespace kevra {

ChildProcess::ChildProcess(std::vector<std::string> argv, bool withErrors)
    : argv_(std::move(argv)), withErrors_(withErrors)
{
}

ChildProcess::~ChildProcess()
{
    finish(true, 3000);
}

bool ChildProcess::start()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    std::vector<char*> cargv;
    for (auto& a : argv_)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (withErrors_)
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    int r = posix_spawn(&pid_, argv_[0].c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (r != 0) {
        ::close(fds[0]);
        pid_ = -1;
        return false;
    }
    reader_ = std::thread([this, fd = fds[0]] { readLoop(fd); });
    return true;
}

void ChildProcess::readLoop(int fd)
{
    std::string pending;
    char block[4096];
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(block, size_t(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            changed_.notify_all();
        }
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    eof_ = true;
    changed_.notify_all();
}

std::vector<std::string> ChildProcess::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

namespace {
bool matches(const std::string& line, const std::vector<std::string>& fragments)
{
    for (const auto& f : fragments)
        if (line.find(f) == std::string::npos)
            return false;
    return true;
}
}   // namespace

std::string ChildProcess::waitFor(const std::vector<std::string>& fragments, int timeoutMs,
                                  size_t from) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::string found;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (size_t i = from; i < lines_.size(); ++i)
            if (matches(lines_[i], fragments)) {
                found = lines_[i];
                return true;
            }
        return eof_;
    });
    return found;
}

int ChildProcess::count(const std::vector<std::string>& fragments) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : lines_)
        n += matches(l, fragments) ? 1 : 0;
    return n;
}

int ChildProcess::finish(bool terminate, int timeoutMs)
{
    int result = -1;
    if (pid_ > 0) {
        if (terminate)
            ::kill(pid_, SIGTERM);
        int status = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pid_t w = ::waitpid(pid_, &status, WNOHANG);
            if (w == pid_) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    return result;
}

void ChildProcess::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

bool ChildProcess::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ChildProcess::run(const std::string& command, std::string* output)
{
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, p)) > 0)
        if (output)
            output->append(block, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}   // namespace kevra
