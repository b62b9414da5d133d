// Where libavcodec's messages go. Left alone, libavcodec writes them to standard error, where a
// damaged stream can put a thousand lines a minute. Once a sink is installed, each message of
// the chosen importance becomes one line for it, at most kLinesPerSecond a second (the rest are
// counted and reported in one line); silence() drops them all. Install before decoding starts;
// messages arrive on any thread (every decoder thread logs), and one mutex of this class keeps
// the sink and the count.
#pragma once
#include <functional>
#include <string>

namespace kevra {

class CodecLog {
public:
    enum class Level { Error, Warning, Info };
    static constexpr int kLinesPerSecond = 10;
    using Sink = std::function<void(const std::string& line)>;

    // Messages at level or more important go to sink (without their line end); an empty sink
    // is silence().
    static void install(Sink sink, Level level = Level::Warning);
    static void silence();
};

}   // namespace kevra
