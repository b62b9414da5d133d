// `kevractl record` against the simulated recorder, as a user runs it: a clip of every stream
// format and codec the recorder serves, a recording killed or interrupted, and failures that
// must leave an existing file alone. ffprobe and ffmpeg judge the clips.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "remux/support/ClipProbe.h"
#include "tools/support/RecorderProcess.h"

namespace kevra {
namespace {

std::string tempPath(const std::string& name)
{
    return ::testing::TempDir() + "record_" + std::to_string(::getpid()) + "_" + name;
}

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// kevractl as a child process, its output in files.
class Kevractl {
public:
    explicit Kevractl(std::vector<std::string> args) : out_(tempPath(uniq() + ".out"))
    {
        err_ = out_ + ".err";
        pid_ = ::fork();
        if (pid_ == 0) {
            const int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(o, 1);
            ::dup2(e, 2);
            const std::string bin = std::string(KEVRA_BIN_DIR) + "/kevractl";
            std::vector<char*> argv{const_cast<char*>(bin.c_str())};
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(bin.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~Kevractl()
    {
        if (status_ == -2 && pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        std::remove(out_.c_str());
        std::remove(err_.c_str());
    }
    void signal(int sig) { ::kill(pid_, sig); }
    // Exit status, or 128 + signal.
    int wait()
    {
        int st = 0;
        if (status_ == -2 && ::waitpid(pid_, &st, 0) == pid_)
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
    }
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }

private:
    static std::string uniq()
    {
        static std::atomic<int> n{0};
        return "run" + std::to_string(n++);
    }
    std::string out_, err_;
    pid_t pid_ = -1;
    int status_ = -2;
};

std::vector<std::string> recordArgs(const RecorderProcess& rec, int channel, double seconds,
                                    const std::string& out)
{
    return {"record",
            "--port",
            std::to_string(rec.port()),
            "--channel",
            std::to_string(channel),
            "--seconds",
            std::to_string(seconds),
            "--out",
            out,
            "--timeout",
            "20"};
}

struct FormatCase {
    const char* format;
    const char* codec;
};

// Records one camera of a recorder serving the format and compares the clip with what the
// recorder says it sent. Returns the failures, one per line ("" when all is well).
std::string recordAndCompare(const FormatCase& c)
{
    const std::string tag = std::string(c.format) + "-" + c.codec;
    // The recorder ends the stream itself after 1.5 s: every frame it sent reaches the clip.
    RecorderProcess rec({"--format", c.format, "--codec", c.codec, "--size", "352x288", "--fps",
                         "25", "--gop", "25", "--fault-close-media", "1.5"});
    if (!rec.start())
        return tag + ": recorder did not start\n";
    const std::string file = tempPath(tag + ".mp4");
    Kevractl run(recordArgs(rec, 0, 2.5, file));
    const int status = run.wait();
    const std::string idle = rec.waitFor({"\"event\":\"camera\"", "\"state\":\"idle\""}, 5000);
    rec.stop();
    const int sent = std::atoi(RecorderProcess::field(idle, "frames").c_str());
    const ClipProbe p = ClipProbe::of(file);
    std::remove(file.c_str());
    std::string bad;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok)
            bad += tag + ": " + what + "\n";
    };
    check(status == 0, "exit " + std::to_string(status) + ": " + run.err());
    check(p.codec == (std::string(c.codec) == "h264" ? "h264" : "mpeg4"), "codec " + p.codec);
    check(p.width == 352 && p.height == 288,
          "size " + std::to_string(p.width) + "x" + std::to_string(p.height));
    // The recorder counts every frame it encoded, the one it was making when it closed the
    // connection included; the clip starts with the first one (a key frame) and may miss the
    // last one sent, which only the start of a next one would show complete.
    check(sent >= 10 && p.frames >= sent - 2 && p.frames <= sent,
          "frames " + std::to_string(p.frames) + " of " + std::to_string(sent));
    check(std::abs(p.duration - p.frames / 25.0) <= 1.0 / 25,
          "duration " + std::to_string(p.duration) + " for " + std::to_string(p.frames));
    check(p.firstKey, "first frame is not a key frame");
    check(p.decodeErrors.empty(), "decoding: " + p.decodeErrors);
    return bad;
}

TEST(KevractlRecord, ClipOfEveryStreamFormatPlays)
{
    const FormatCase cases[] = {
        {"kxav", "h264"},   {"kxav", "mpeg4"}, {"packet", "h264"}, {"packet", "mpeg4"},
        {"ps", "h264"},     {"ps", "mpeg4"},   {"asf", "h264"},    {"asf", "mpeg4"},
        {"chunk", "mpeg4"}, {"m4v", "mpeg4"},  {"avi", "mpeg4"},
    };
    // All at once: each case waits mostly for the clock.
    std::vector<std::future<std::string>> results;
    for (const FormatCase& c : cases)
        results.push_back(std::async(std::launch::async, recordAndCompare, c));
    std::string failures;
    for (auto& r : results)
        failures += r.get();
    EXPECT_EQ(failures, "");
}

TEST(KevractlRecord, KilledRecordingPlaysAndSignalsEndItCleanly)
{
    RecorderProcess rec({"--size", "352x288", "--fps", "25", "--cameras", "Gate&&Yard"});
    ASSERT_TRUE(rec.start());
    const std::string killedFile = tempPath("killed.mp4"), endedFile = tempPath("ended.mkv");
    Kevractl killed(recordArgs(rec, 0, 60, killedFile));
    Kevractl ended(recordArgs(rec, 1, 60, endedFile));
    // The clock starts with the first frame written (the file appears), however long the
    // login took on a busy machine.
    for (int i = 0; i < 400 && ::access(killedFile.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ended.signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    killed.signal(SIGKILL);   // as a crash or a power loss would

    EXPECT_EQ(ended.wait(), 0) << ended.err();
    EXPECT_NE(ended.out().find(endedFile + "\t"), std::string::npos) << ended.out();
    const ClipProbe e = ClipProbe::of(endedFile);
    EXPECT_GE(e.frames, 10);
    EXPECT_NEAR(e.duration, e.frames / 25.0, 1.0 / 25);   // completed: the file knows its length
    EXPECT_EQ(e.decodeErrors, "");

    EXPECT_EQ(killed.wait(), 128 + SIGKILL);
    // The recorder counts the frames it sent on channel 0 once it sees the connection go.
    const std::string idle =
        rec.waitFor({"\"event\":\"camera\"", "\"channel\":0", "\"state\":\"idle\""}, 10000);
    const int sent = std::atoi(RecorderProcess::field(idle, "frames").c_str());
    const ClipProbe k = ClipProbe::of(killedFile);
    EXPECT_GE(k.frames, sent - 2 * 25) << "a killed recording keeps all but its last two seconds";
    EXPECT_GE(k.frames, 25);
    EXPECT_TRUE(k.firstKey);
    EXPECT_EQ(k.decodeErrors, "");
    std::remove(killedFile.c_str());
    std::remove(endedFile.c_str());

    // Any command waiting on the recorder ends on SIGTERM, well before its time-out.
    RecorderProcess stalled({"--fault-stall-list"});
    ASSERT_TRUE(stalled.start());
    Kevractl list({"list", "--port", std::to_string(stalled.port()), "--timeout", "60"});
    ASSERT_FALSE(stalled.waitFor({"\"event\":\"list\""}, 10000).empty());
    const auto signalled = std::chrono::steady_clock::now();
    list.signal(SIGTERM);
    EXPECT_EQ(list.wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
    EXPECT_EQ(list.err(), "list failed: interrupted\n");
}

TEST(KevractlRecord, FailureLeavesAnExistingFileAlone)
{
    RecorderProcess rec({"--cameras", "Gate"});
    ASSERT_TRUE(rec.start());
    const std::string keep = tempPath("keep.bin"), clip = tempPath("none.mp4");
    const std::string port = std::to_string(rec.port());
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--port", port, "--channel", "9", "--out", keep}, "cannot open channel 9"},
        {{"--port", port, "--password", "wrong", "--channel", "0", "--out", keep},
         "login failed: wrong password"},
        {{"--port", "1", "--channel", "0", "--out", keep}, "cannot connect to 127.0.0.1:1"},
        {{"--port", port, "--channel", "9", "--out", clip}, "cannot open channel 9"},
        {{"--port", port, "--channel", "0", "--out", "/nonexistent-folder/x.mp4"},
         "record failed: cannot write /nonexistent-folder/x.mp4: no such file or directory"},
    };
    for (const Case& c : cases) {
        {
            std::ofstream(keep) << "x\n";
        }
        std::vector<std::string> args{"record", "--seconds", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Kevractl run(args);
        EXPECT_EQ(run.wait(), 1) << c.message;
        EXPECT_NE(run.err().find(c.message), std::string::npos) << run.err();
        EXPECT_EQ(readFile(keep), "x\n") << c.message;
        EXPECT_NE(::access(clip.c_str(), F_OK), 0) << c.message;
    }
    std::remove(keep.c_str());
}

// "--out -" puts the clip, and nothing else, on standard output, in a container that can be
// read from a pipe as it arrives: ffprobe reads it from its standard input.
TEST(KevractlRecord, ClipToStandardOutputStreamsThroughAPipe)
{
    RecorderProcess rec({"--size", "352x288", "--fps", "25"});
    ASSERT_TRUE(rec.start());
    const struct {
        std::vector<std::string> extra;
        std::string magic;   // the container's first bytes from offset 0 or 4
        size_t at;
    } cases[] = {{{}, "ftyp", 4}, {{"--format", "mkv"}, "\x1A\x45\xDF\xA3", 0}};
    for (const auto& c : cases) {
        const std::string clip = tempPath("stdout.clip"), err = tempPath("stdout.err");
        std::string cmd = std::string(KEVRA_BIN_DIR) + "/kevractl";
        for (const std::string& a : recordArgs(rec, 0, 2, "-"))
            cmd += " " + a;
        for (const std::string& a : c.extra)
            cmd += " " + a;
        cmd += " 2>" + err + " | tee " + clip +
               " | ffprobe -v error -count_frames -show_entries stream=codec_name,nb_read_frames"
               " -of csv=p=0 -";
        FILE* p = ::popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[256] = {};
        const bool read = std::fgets(line, sizeof line, p) != nullptr;
        ::pclose(p);
        // Two seconds at 25 frames per second, from the first key frame on.
        EXPECT_TRUE(read && std::string(line).rfind("h264,", 0) == 0 && std::atoi(line + 5) >= 40)
            << c.magic << ": " << line;
        const std::string bytes = readFile(clip);
        EXPECT_EQ(bytes.substr(c.at, c.magic.size()), c.magic);
        EXPECT_EQ(ClipProbe::of(clip).decodeErrors, "");
        // The summary line went to standard error, with the bytes that went out.
        EXPECT_NE(readFile(err).find(std::to_string(bytes.size()) + "\t-\t"), std::string::npos)
            << readFile(err);
        std::remove(clip.c_str());
        std::remove(err.c_str());
    }
    EXPECT_EQ(::access("-", F_OK), -1) << "a file named '-' was written";
}

}   // namespace
}   // namespace kevra
