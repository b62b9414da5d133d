// Writes the recorder's events as one JSON object per line to a stdio stream, flushed per line.
// Used only by the recorder's event-loop thread (or a test that owns the log).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace kevra {

class EventLog {
public:
    explicit EventLog(std::FILE* out = stdout) : out_(out) {}
    // Every finished line (without its newline) also goes to the sink; set before the loop runs.
    void setSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

    // Starts an event line {"event":"<name>" ...; finish it with end().
    EventLog& begin(const char* name);
    EventLog& field(const char* key, int64_t value);
    EventLog& field(const char* key, const std::string& value);
    EventLog& flag(const char* key, bool value);
    void end();

    // The text as a JSON string literal (quotes included); bytes >= 0x80 pass through, so UTF-8
    // stays UTF-8, and control characters become \u escapes.
    static std::string quote(const std::string& text);

    // Lines written so far (tests use it when the log goes to a memory stream).
    int64_t lines() const { return lines_; }

private:
    std::FILE* out_;
    std::function<void(const std::string&)> sink_;
    std::string line_;
    int64_t lines_ = 0;
};

}   // namespace kevra
