// Runs a program as a child process for end-to-end tests and collects its standard output (and
// standard error, unless told not to) lines on a reader thread; also runs a client command to
// its end. Any test thread may query it; the destructor stops the child (SIGTERM, then
// SIGKILL).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kevra {

class ChildProcess {
public:
    // withErrors: standard error goes into the lines too (else it stays the test's).
    explicit ChildProcess(std::vector<std::string> argv, bool withErrors = true);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start();
    pid_t pid() const { return pid_; }
    std::vector<std::string> lines() const;
    // The first line holding every fragment (from line `from` on), or "" after the time-out or
    // once the child closed its output.
    std::string waitFor(const std::vector<std::string>& fragments, int timeoutMs,
                        size_t from = 0) const;
    std::string waitFor(const std::string& fragment, int timeoutMs, size_t from = 0) const
    {
        return waitFor(std::vector<std::string>{fragment}, timeoutMs, from);
    }
    int count(const std::vector<std::string>& fragments) const;
    int count(const std::string& fragment) const
    {
        return count(std::vector<std::string>{fragment});
    }
    // Waits for the end (SIGTERM first when `terminate`); the exit status, or -1 (also when it
    // had to be killed).
    int finish(bool terminate, int timeoutMs = 5000);
    // Kills the child at once (SIGKILL), as a crash would.
    void kill();
    bool running();

    // Runs `command` through the shell to its end; its output (stdout and stderr) and status.
    static int run(const std::string& command, std::string* output = nullptr);

private:
    void readLoop(int fd);

    std::vector<std::string> argv_;
    bool withErrors_;
    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool eof_ = false;
};

}   // namespace kevra
