// Runs the built kevra-recorder as a child process on a free port for end-to-end tests: reads
// the port from its first output line and collects its JSON event lines on a reader thread.
// Any test thread may query it; the destructor stops the child (SIGTERM, then SIGKILL).
#pragma once
#include "tools/support/ChildProcess.h"

#include <sys/types.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kevra {

class RecorderProcess {
public:
    // Extra command-line arguments; "--port 0" is always added.
    explicit RecorderProcess(std::vector<std::string> args = {});
    ~RecorderProcess();
    RecorderProcess(const RecorderProcess&) = delete;
    RecorderProcess& operator=(const RecorderProcess&) = delete;

    // Starts the child and waits for its port line. Returns true when it listens.
    bool start(int timeoutMs = 15000);
    int port() const { return port_; }
    pid_t pid() const { return child_ ? child_->pid() : -1; }

    // Event lines received so far (the port line excluded).
    std::vector<std::string> events() const;
    // Waits until an event line contains every fragment (e.g. "\"event\":\"login\"") and returns
    // it, or "" after the time-out. Lines before `from` are not looked at.
    std::string waitFor(const std::vector<std::string>& fragments, int timeoutMs,
                        size_t from = 0) const;
    // Number of event lines containing every fragment.
    int count(const std::vector<std::string>& fragments) const;
    // Channels whose encoders stream now, from the "camera" events so far.
    std::set<int> streamingCameras() const;

    // SIGTERM, wait up to timeoutMs, then SIGKILL. Returns the exit status (WEXITSTATUS), or -1
    // when it had to be killed or was not running.
    int stop(int timeoutMs = 5000);
    // Kills the child at once (SIGKILL), as a crash would.
    void kill();
    bool running() { return child_ && child_->running(); }

    // Raw text of a field of a JSON event line: a number as written, a string without its
    // quotes (escapes kept). "" when absent.
    static std::string field(const std::string& line, const std::string& key);
    // Path of the built simulator.
    static std::string binary();

private:
    std::vector<std::string> args_;
    std::unique_ptr<ChildProcess> child_;   // its first output line is the port
    int port_ = -1;
};

}   // namespace kevra
