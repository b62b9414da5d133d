#include "tools/support/RecorderProcess.h"

#include <cstdlib>

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
    if (child_ && child_->running())
        return port_ > 0;
    std::vector<std::string> argv{binary(), "--port", "0"};
    argv.insert(argv.end(), args_.begin(), args_.end());
    // Standard output only: the port line first, then one JSON event a line.
    child_ = std::make_unique<ChildProcess>(std::move(argv), false);
    if (!child_->start())
        return false;
    port_ = std::atoi(child_->waitFor(std::vector<std::string>{}, timeoutMs).c_str());
    return port_ > 0;
}

std::vector<std::string> RecorderProcess::events() const
{
    std::vector<std::string> lines = child_ ? child_->lines() : std::vector<std::string>{};
    if (!lines.empty())
        lines.erase(lines.begin());
    return lines;
}

std::string RecorderProcess::waitFor(const std::vector<std::string>& fragments, int timeoutMs,
                                     size_t from) const
{
    return child_ ? child_->waitFor(fragments, timeoutMs, from + 1) : std::string();
}

int RecorderProcess::count(const std::vector<std::string>& fragments) const
{
    // The port line holds no event's fragments.
    return child_ ? child_->count(fragments) : 0;
}

int RecorderProcess::stop(int timeoutMs)
{
    return child_ ? child_->finish(true, timeoutMs) : -1;
}

void RecorderProcess::kill()
{
    if (child_)
        child_->kill();
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
