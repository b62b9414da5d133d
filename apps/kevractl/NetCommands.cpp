// kevractl's network commands: list, snapshot, record and ptz against a recorder, each through
// one DeviceClient (its network worker thread); record writes the channel's media to a file, and
// snapshot feeds it to a DecoderWorker that the command starts and stops itself.
// The command runs on the main thread and waits for the client's events under one mutex.
#include "Commands.h"
#include "NetOptions.h"
#include "OutputFiles.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "device/DeviceClient.h"
#include "device/DeviceEvents.h"
#include "device/MediaSink.h"
#include "device/Messages.h"
#include "device/ResultCode.h"
#include "remux/ClipRecorder.h"
#include "video/DecoderWorker.h"

namespace kevra {
namespace {

using Clock = std::chrono::steady_clock;

// Receives the client's events on its network thread and lets the command thread wait for them;
// as a channel's media sink it writes the stream to the recording file, if one is set.
class EventWaiter : public DeviceEvents, public MediaSink {
public:
    void onLogin(int code, int channelCount, int systemError) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        login_ = code;
        channels_ = channelCount;
        connectError_ = systemError;
        changed_.notify_all();
    }
    void onList(int code, const uint8_t* block, int length, int count) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        list_ = code;
        names_ = code == 0 ? nameListItems(block, length, count) : std::vector<std::string>{};
        changed_.notify_all();
    }
    void onStreamStarted(int) override {}
    void onStreamStopped(int) override {}
    void onMediaBytes(int channel, const uint8_t* bytes, int length) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recording_ || channel != recordChannel_ || length <= 0 || writeFailed_)
            return;
        if (!record_) {
            // Opened with the first bytes: a command that fails earlier leaves the file alone.
            record_ = recordPath_ == "-" ? stdout : std::fopen(recordPath_.c_str(), "wb");
            if (!record_) {
                writeFailed_ = true;
                writeError_ = errno;
                return;
            }
        }
        if (std::fwrite(bytes, 1, size_t(length), record_) != size_t(length)) {
            writeFailed_ = true;
            writeError_ = errno;
        }
        recorded_ += length;
    }
    void onChannel(int channel, int code) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        channelCode_ = code;
        changed_.notify_all();
    }
    void onConnectionLost() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lost_ = true;
        changed_.notify_all();
    }

    // Waits for a result slot to leave -1; returns it, or `fallback` after the time-out or
    // when interrupted.
    int wait(int EventWaiter::*slot, double seconds, int fallback)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds));
        // In short slices: a signal handler cannot wake a condition variable.
        while (this->*slot == -1 && !lost_ && !interrupted() && Clock::now() < until)
            changed_.wait_for(lock, std::chrono::milliseconds(50));
        return this->*slot != -1 ? this->*slot : fallback;
    }
    void startRecording(const std::string& path, int channel)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        recordPath_ = path;
        recordChannel_ = channel;
        recording_ = true;
    }
    // Closes the file; the bytes received, and `error` set (errno, or -1) when writing failed.
    int64_t stopRecording(int& error)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        recording_ = false;
        if (record_ && (record_ == stdout ? std::fflush(record_) : std::fclose(record_)) != 0 &&
            !writeFailed_) {
            writeFailed_ = true;
            writeError_ = errno;
        }
        record_ = nullptr;
        error = writeFailed_ ? (writeError_ != 0 ? writeError_ : -1) : 0;
        return recorded_;
    }
    int connectError()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return connectError_;
    }
    bool lost()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lost_;
    }
    std::vector<std::string> names()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return names_;
    }

    int login_ = -1;
    int connectError_ = 0;
    int list_ = -1;
    int channelCode_ = -1;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int channels_ = 0;
    bool lost_ = false;
    std::vector<std::string> names_;
    bool recording_ = false;
    std::string recordPath_;
    std::FILE* record_ = nullptr;
    int recordChannel_ = -1;
    int64_t recorded_ = 0;
    bool writeFailed_ = false;
    int writeError_ = 0;
};

// A DeviceClient with this command's event sink, logged in; logs out when it goes.
class Session {
public:
    // The client is declared after the sink, so it (and its network thread) goes first.
    explicit Session(const NetOptions& o) : options_(o) { client_.setSink(&events_); }
    int login()
    {
        client_.logout();
        client_.login(options_.host, options_.port, options_.user, options_.password,
                      int(options_.timeout * 1000));
        // The session gives up after the time-out itself; a little more covers the connect.
        int code =
            events_.wait(&EventWaiter::login_, options_.timeout + 6, result_code::LOGIN_TIMEOUT);
        if (code == result_code::OK)
            return code;
        if (interrupted()) {
            std::fprintf(stderr, "interrupted before the login completed\n");
            return code;
        }
        if (code == result_code::CONNECT_FAILED || code == result_code::HOST_UNRESOLVED) {
            const int error = code == result_code::CONNECT_FAILED ? events_.connectError() : 0;
            std::fprintf(stderr, "cannot connect to %s:%d: %s (%s)\n", options_.host.c_str(),
                         options_.port,
                         error != 0 ? systemErrorText(error).c_str() : resultCodeText(code),
                         resultCodeHex(code).c_str());
        } else {
            std::fprintf(stderr, "login failed: %s\n", describeResult(code).c_str());
        }
        return code;
    }
    // The channel's media goes to sink (by default the recording writer).
    int open(int channel, MediaSink* sink = nullptr)
    {
        client_.openChannel(channel, 1, sink ? sink : &events_);
        int code = events_.wait(&EventWaiter::channelCode_, options_.timeout + 6,
                                result_code::CHANNEL_FAILED);
        if (code != result_code::OK && interrupted())
            std::fprintf(stderr, "interrupted before channel %d opened\n", channel);
        else if (code != result_code::OK)
            std::fprintf(stderr, "cannot open channel %d (camera %d): %s\n", channel, channel + 1,
                         describeResult(code, ResultEvent::Channel).c_str());
        return code;
    }
    void logout() { client_.logout(); }
    DeviceClient& client() { return client_; }
    EventWaiter& events() { return events_; }

private:
    const NetOptions& options_;
    EventWaiter events_;
    DeviceClient client_;
};

// A channel's media into whatever the command feeds: the snapshot's decoder or the clip recorder.
template <typename Target>
class FeedTo : public MediaSink {
public:
    explicit FeedTo(Target& target) : target_(target) {}
    void onStreamStarted(int) override {}
    void onMediaBytes(int, const uint8_t* bytes, int length) override
    {
        target_.push(bytes, length);
    }
    void onStreamStopped(int) override {}

private:
    Target& target_;
};

int ptzCode(const std::string& action)
{
    static const char* names[] = {"up",       "down",     "left",      "right",   "zoom-in",
                                  "zoom-out", "focus-in", "focus-out", "iris-in", "iris-out"};
    for (int i = 0; i < 10; ++i)
        if (action == names[i])
            return i;
    return -1;
}

}   // namespace

int runList(int argc, char** argv)
{
    NetOptions o;
    if (int exit = parseOptions("list", {}, argc, argv, o); exit != kGoOn)
        return exit;
    Session s(o);
    if (s.login() != 0)
        return 1;
    s.client().queryList();
    int code = s.events().wait(&EventWaiter::list_, o.timeout + 6, result_code::LIST_TIMEOUT);
    if (code != result_code::OK && interrupted()) {
        std::fprintf(stderr, "list failed: interrupted\n");
        s.logout();
        return 1;
    }
    if (code != result_code::OK) {
        std::fprintf(stderr, "list failed: %s\n", describeResult(code, ResultEvent::List).c_str());
        s.logout();
        return 1;
    }
    std::vector<std::string> names = s.events().names();
    // The channel index the commands take, the name, and the number the viewer gives it.
    for (size_t i = 0; i < names.size(); ++i)
        std::printf("%zu\t%s\tcamera %zu\n", i, names[i].c_str(), i + 1);
    std::fflush(stdout);
    s.logout();
    return 0;
}

int runSnapshot(int argc, char** argv)
{
    NetOptions o;
    if (int exit = parseOptions("snapshot", {"--channel", "--out"}, argc, argv, o); exit != kGoOn)
        return exit;
    // The picture is a PNG: a name that says otherwise is refused rather than written wrong.
    const bool toStdout = o.out == "-";
    if (!toStdout && !pngName(o.out)) {
        std::fprintf(stderr,
                     "kevractl snapshot: --out must name a .png file (the picture is saved as "
                     "PNG), not '%s'\n",
                     o.out.c_str());
        return 2;
    }
    if (toStdout && ::isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "kevractl snapshot: --out - writes the PNG picture to standard "
                             "output, which is a terminal: redirect it or give a file name\n");
        return 2;
    }
    // Declared before the session: the client (and with it the network thread) goes first.
    DecoderWorker decoder;
    FeedTo<DecoderWorker> feed(decoder);
    Session s(o);
    if (s.login() != 0)
        return 1;
    decoder.setPixelFormat(PixelFormat::Bgrx32);
    decoder.start();
    auto opened = Clock::now();
    if (s.open(o.channel, &feed) != 0) {
        s.client().stopChannel(o.channel);
        decoder.stop();
        s.logout();
        return 1;
    }
    // Ask for pictures the way the viewer's frame timer does, until the first one.
    auto until = opened + std::chrono::duration<double>(o.timeout);
    std::vector<uint8_t> copy;
    int width = 0, height = 0, undecodable = -1;
    while (Clock::now() < until && !s.events().lost() && !interrupted()) {
        // A stream no decoder here can show: say so now rather than at the time-out.
        undecodable = decoder.undecodableCodec();
        if (undecodable >= 0)
            break;
        Picture picture;
        if (decoder.takePicture(picture) && picture.width > 0 && picture.height > 0) {
            copy.assign(picture.pixels, picture.pixels + size_t(picture.stride) * picture.height);
            width = picture.width;
            height = picture.height;
            decoder.giveBack(picture);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    auto firstPicture = Clock::now();
    s.client().stopChannel(o.channel);   // no more bytes for the decoder once this returns
    decoder.stop();
    s.logout();
    if (undecodable >= 0) {
        std::fprintf(stderr, "snapshot failed: stream codec %d cannot be decoded\n", undecodable);
        return 1;
    }
    if (copy.empty() && interrupted()) {
        std::fprintf(stderr, "snapshot failed: interrupted\n");
        return 1;
    }
    if (copy.empty()) {
        std::fprintf(stderr, "snapshot failed: no picture within %.1f s\n", o.timeout);
        return 1;
    }
    if (writePng(o.out, copy.data(), width, height) != 0) {
        std::fprintf(stderr, "snapshot failed: cannot write %s\n", o.out.c_str());
        return 1;
    }
    long ms =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(firstPicture - opened).count());
    // With the picture on standard output, the line about it goes to standard error.
    std::fprintf(toStdout ? stderr : stdout, "%dx%d\t%s\tfirst picture %ld ms after open\n", width,
                 height, o.out.c_str(), ms);
    return 0;
}

namespace {

// Waits until the time is up, the connection is lost, a signal comes or `failed` says so.
template <typename Failed>
void recordFor(Session& s, double seconds, Failed failed)
{
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(seconds));
    while (Clock::now() < until && !s.events().lost() && !interrupted() && !failed())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int recordRaw(const NetOptions& o)
{
    Session s(o);
    if (s.login() != 0)
        return 1;
    s.events().startRecording(o.out, o.channel);
    if (s.open(o.channel) != 0) {
        int error = 0;
        s.events().stopRecording(error);
        s.logout();
        return 1;
    }
    recordFor(s, o.seconds, [] { return false; });
    s.client().stopChannel(o.channel);
    int error = 0;
    const int64_t bytes = s.events().stopRecording(error);
    s.logout();
    if (error != 0) {
        std::fprintf(stderr, "record failed: cannot write %s%s%s\n", o.out.c_str(),
                     error > 0 ? ": " : "", error > 0 ? systemErrorText(error).c_str() : "");
        return 1;
    }
    if (s.events().lost()) {
        std::fprintf(stderr, "record failed: connection lost after %lld bytes\n", (long long)bytes);
        return 1;
    }
    // With the stream on standard output, the line about it goes to standard error.
    std::fprintf(o.out == "-" ? stderr : stdout, "%lld\t%s\n", (long long)bytes, o.out.c_str());
    return 0;
}

int recordClip(const NetOptions& o)
{
    // Declared before the session: the client (and its network thread) goes first.
    const bool toStdout = o.out == ClipWriter::kStandardOutput;
    ClipRecorder recorder(o.out, toStdout && o.format == "mkv" ? ClipWriter::Container::Matroska
                                                               : ClipWriter::containerFor(o.out));
    FeedTo<ClipRecorder> feed(recorder);
    Session s(o);
    if (s.login() != 0)
        return 1;
    if (!recorder.start()) {
        std::fprintf(stderr, "record failed: %s\n", recorder.status().error.c_str());
        s.logout();
        return 1;
    }
    if (s.open(o.channel, &feed) != 0) {
        s.client().stopChannel(o.channel);
        recorder.stop();
        s.logout();
        return 1;
    }
    recordFor(s, o.seconds, [&] { return recorder.status().failed; });
    s.client().stopChannel(o.channel);   // no more bytes for the recording once this returns
    recorder.stop();
    s.logout();
    const ClipRecorder::Status st = recorder.status();
    if (st.failed) {
        std::fprintf(stderr, "record failed: %s\n", st.error.c_str());
        if (st.frames > 0)
            std::fprintf(stderr, "kept %lld frames (%.1f s) in %s\n", (long long)st.frames,
                         double(st.mediaUs) / 1e6, st.path.c_str());
        return 1;
    }
    if (st.frames == 0) {
        std::fprintf(stderr, "record failed: no video key frame from channel %d%s\n", o.channel,
                     s.events().lost() ? " before the connection was lost" : "");
        return 1;
    }
    for (const ClipWriter::Part& p : st.files)
        std::fprintf(toStdout ? stderr : stdout, "%lld\t%s\t%lld frames\t%.2f s\n",
                     (long long)p.bytes, p.path.c_str(), (long long)p.frames,
                     double(p.mediaUs) / 1e6);
    if (s.events().lost()) {
        std::fprintf(stderr, "record failed: connection lost after %.1f s\n",
                     double(st.mediaUs) / 1e6);
        return 1;
    }
    return 0;
}

}   // namespace

int runRecord(int argc, char** argv)
{
    NetOptions o;
    if (int exit = parseOptions("record", {"--channel", "--seconds", "--out", "--raw", "--format"},
                                argc, argv, o);
        exit != kGoOn)
        return exit;
    const bool toStdout = o.out == "-";
    if (!o.format.empty() && (!toStdout || o.raw || (o.format != "mp4" && o.format != "mkv"))) {
        std::fprintf(stderr, "kevractl record: --format is mp4 or mkv, for --out - without --raw "
                             "(a file's extension says its format)\n");
        return 2;
    }
    if (toStdout && ::isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "kevractl record: --out - writes the video to standard output, "
                             "which is a terminal: redirect it or give a file name\n");
        return 2;
    }
    // A reader that goes away (`| head -c N`) ends the recording with a message rather than
    // killing the process mid-write.
    if (toStdout)
        std::signal(SIGPIPE, SIG_IGN);
    // Said before logging in, without touching the file.
    if (int error = toStdout ? 0 : writableError(o.out); error != 0) {
        std::fprintf(stderr, "record failed: cannot write %s: %s\n", o.out.c_str(),
                     systemErrorText(error).c_str());
        return 1;
    }
    return o.raw || (!toStdout && !isClipName(o.out)) ? recordRaw(o) : recordClip(o);
}

int runPtz(int argc, char** argv)
{
    NetOptions o;
    if (int exit = parseOptions("ptz", {"--channel", "--action"}, argc, argv, o); exit != kGoOn)
        return exit;
    int code = ptzCode(o.action);
    if (code < 0) {
        std::fprintf(
            stderr,
            "kevractl ptz: --action must be one of up, down, left, right, zoom-in, zoom-out, "
            "focus-in, focus-out, iris-in, iris-out, not '%s'\n",
            o.action.c_str());
        return 2;
    }
    Session s(o);
    if (s.login() != 0)
        return 1;
    // The recorder takes PTZ commands for a channel whose media connection is up.
    if (s.open(o.channel) != 0) {
        s.logout();
        return 1;
    }
    s.client().ptz(o.channel, code, 0);
    s.logout();
    // Requests run in order on the network thread: the logout follows the PTZ command.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return 0;
}

}   // namespace kevra
