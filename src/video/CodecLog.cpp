#include "video/CodecLog.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace kevra {

namespace {

struct State {
    std::mutex lock;
    CodecLog::Sink sink;
    std::chrono::steady_clock::time_point windowStart{};
    int linesInWindow = 0;
    long long leftOut = 0;
};

State& state()
{
    static State s;
    return s;
}

void emit(const std::string& line)
{
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (!s.sink)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - s.windowStart >= std::chrono::seconds(1)) {
        if (s.leftOut > 0)
            s.sink("(" + std::to_string(s.leftOut) + " more decoder messages left out)");
        s.windowStart = now;
        s.linesInWindow = 0;
        s.leftOut = 0;
    }
    if (s.linesInWindow >= CodecLog::kLinesPerSecond) {
        ++s.leftOut;
        return;
    }
    ++s.linesInWindow;
    s.sink(line);
}

// libavcodec may hand over a line in pieces: each thread gathers its own until the line end.
void callback(void* avcl, int level, const char* format, va_list args)
{
    if (level > av_log_get_level())
        return;
    thread_local std::string pending;
    thread_local int printPrefix = 1;
    char piece[1024];
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(avcl, level, format, copy, piece, sizeof piece, &printPrefix);
    va_end(copy);
    pending += piece;
    if (pending.empty() || pending.back() != '\n') {
        if (pending.size() < 4096)
            return;   // an endless line is cut here
    }
    while (!pending.empty() && (pending.back() == '\n' || pending.back() == '\r'))
        pending.pop_back();
    if (!pending.empty())
        emit(pending);
    pending.clear();
}

int avLevel(CodecLog::Level level)
{
    switch (level) {
    case CodecLog::Level::Error: return AV_LOG_ERROR;
    case CodecLog::Level::Warning: return AV_LOG_WARNING;
    case CodecLog::Level::Info: return AV_LOG_INFO;
    }
    return AV_LOG_WARNING;
}

}   // namespace

void CodecLog::install(Sink sink, Level level)
{
    if (!sink) {
        silence();
        return;
    }
    {
        State& s = state();
        std::lock_guard<std::mutex> g(s.lock);
        s.sink = std::move(sink);
        s.linesInWindow = 0;
        s.leftOut = 0;
    }
    av_log_set_level(avLevel(level));
    av_log_set_callback(callback);
}

void CodecLog::silence()
{
    av_log_set_level(AV_LOG_QUIET);
    av_log_set_callback(av_log_default_callback);
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.sink = nullptr;
}

}   // namespace kevra
