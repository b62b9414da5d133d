#include "tools/support/RecorderProcess.h"

#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

extern char** environ;

namespace kevra {

RecorderProcess::RecorderProcess(std::vector<std::string> args) : args_(std::move(args))
{
}

RecorderProcess::~RecorderProcess()
{
    stop(3000);
}

std::string RecorderProcess::binary()
{
    return std::string(KEVRA_BIN_DIR) + "/kevra-recorder";
}

bool RecorderProcess::start(int timeoutMs)
{
    if (pid_ > 0)
        return port_ > 0;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> argv{binary(), "--port", "0"};
    argv.insert(argv.end(), args_.begin(), args_.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    pid_t pid = -1;
    int r = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (r != 0) {
        ::close(fds[0]);
        return false;
    }
    pid_ = pid;
    readFd_ = fds[0];
    reader_ = std::thread([this, fd = fds[0]] { readLoop(fd); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return portLineSeen_ || eof_; });
    return port_ > 0;
}

void RecorderProcess::readLoop(int fd)
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
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            std::lock_guard<std::mutex> lock(mutex_);
            if (!portLineSeen_) {
                portLineSeen_ = true;
                port_ = std::atoi(line.c_str());
            } else {
                lines_.push_back(std::move(line));
            }
            changed_.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    eof_ = true;
    changed_.notify_all();
}

std::vector<std::string> RecorderProcess::events() const
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

std::string RecorderProcess::waitFor(const std::vector<std::string>& fragments, int timeoutMs,
                                     size_t from) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::string found;
    auto look = [&] {
        for (size_t i = from; i < lines_.size(); ++i)
            if (matches(lines_[i], fragments)) {
                found = lines_[i];
                return true;
            }
        return eof_;
    };
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), look);
    return found;
}

int RecorderProcess::count(const std::vector<std::string>& fragments) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : lines_)
        n += matches(l, fragments) ? 1 : 0;
    return n;
}

bool RecorderProcess::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int RecorderProcess::stop(int timeoutMs)
{
    int result = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        for (;;) {
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() >= until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    if (readFd_ >= 0) {
        ::close(readFd_);
        readFd_ = -1;
    }
    return result;
}

void RecorderProcess::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    if (readFd_ >= 0) {
        ::close(readFd_);
        readFd_ = -1;
    }
}

std::set<int> RecorderProcess::streamingCameras() const
{
    std::set<int> on;
    for (const std::string& line : events()) {
        if (field(line, "event") != "camera")
            continue;
        const int ch = std::stoi(field(line, "channel"));
        if (field(line, "state") == "streaming")
            on.insert(ch);
        else
            on.erase(ch);
    }
    return on;
}

std::string RecorderProcess::field(const std::string& line, const std::string& key)
{
    std::string tag = "\"" + key + "\":";
    size_t at = line.find(tag);
    if (at == std::string::npos)
        return "";
    at += tag.size();
    if (at < line.size() && line[at] == '"') {
        size_t end = at + 1;
        while (end < line.size() && line[end] != '"')
            end += line[end] == '\\' ? 2 : 1;
        return line.substr(at + 1, std::min(end, line.size()) - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

}   // namespace kevra
