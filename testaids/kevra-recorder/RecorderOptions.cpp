#include "RecorderOptions.h"

#include "testkit/ProgramStreamMuxer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kevra {
namespace {

bool toInt64(const char* text, int64_t lo, int64_t hi, int64_t& out)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 0);
    if (errno || *end || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool toInt(const char* text, int lo, int hi, int& out)
{
    int64_t v;
    if (!toInt64(text, lo, hi, v))
        return false;
    out = static_cast<int>(v);
    return true;
}

bool toSeconds(const char* text, double& out)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (errno || *end || !(v >= 0) || v > 1e6)
        return false;
    out = v;
    return true;
}

std::vector<std::string> splitNames(const std::string& text)
{
    std::vector<std::string> names;
    size_t at = 0;
    for (;;) {
        size_t sep = text.find("&&", at);
        if (sep == std::string::npos) {
            names.push_back(text.substr(at));
            break;
        }
        names.push_back(text.substr(at, sep - at));
        at = sep + 2;
    }
    return names;
}

// A regular file with at least one byte that this process may read.
bool readableFile(const std::string& path, std::string& problem)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool isFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!isFile)
        problem = "it is not a file";
    else if (st.st_size == 0)
        problem = "it is empty";
    return isFile && st.st_size > 0;
}

// The option that only switches something on, or nullptr.
bool RecorderOptions::*flagOption(const std::string& name)
{
    static const std::pair<const char*, bool RecorderOptions::*> kFlags[] = {
        {"--per-frame", &RecorderOptions::perFrame},
        {"--noise", &RecorderOptions::noise},
        {"--frame-code", &RecorderOptions::frameCode},
        {"--fault-stall-list", &RecorderOptions::faultStallList},
    };
    for (const auto& [flag, member] : kFlags)
        if (name == flag)
            return member;
    return nullptr;
}

}   // namespace

std::string RecorderOptions::usage()
{
    return "usage: kevra-recorder [options]\n"
           "  --listen ADDR            address to listen on (127.0.0.1)\n"
           "  --port P                 port (34567; 0 picks a free one)\n"
           "  --user U --password W    an accepted user (repeatable; default admin / 580317)\n"
           "  --refuse REASON          refuse every login with outcome 1 and this reason\n"
           "  --outcome N              answer every login with this outcome\n"
           "  --cameras \"A&&B&&C\"      camera names, UTF-8 (Gate&&Lobby&&Parking)\n"
           "  --channels N             channel count announced at login (number of cameras)\n"
           "  --format F               media stream format (kxav):\n"
           "      kxav    KXAV packets, H.264\n"
           "      packet  0x000001Fx packets, H.264\n"
           "      ps      MPEG-2 program stream packs, H.264 (--size from the size table, e.g. "
           "704x576,\n"
           "              352x288) or MPEG-4 (any size)\n"
           "      asf     ASF header, then data packets carrying 0x000001Fx packets, H.264\n"
           "      chunk   1024-byte 0x000001F2 chunks of an MPEG-4 stream\n"
           "              (width 176, 352, 704 or 720, height 144, 240, 288, 480 or 576)\n"
           "      m4v     MPEG-4 Visual elementary stream\n"
           "      avi     RIFF/AVI header, then one 00dc chunk per MPEG-4 frame\n"
           "  --codec h264|mpeg4       video codec of kxav, packet, ps and asf (h264); chunk, m4v "
           "and avi\n"
           "                           are always mpeg4\n"
           "  --size WxH               picture size, multiples of 8 (352x288)\n"
           "  --fps N --bitrate B --gop N   frame rate (25), bit/s (512000, 0 = quality), "
           "key-frame interval (25)\n"
           "  --noise                  changing noise in the top right of the picture, so high "
           "bitrates are used\n"
           "  --frame-code             a black/white frame code strip in the lower half (camera "
           "and frame\n"
           "                           number, for scripts/read-counter.py) and a \"sent\" event "
           "per frame\n"
           "  --source FILE            stream a raw H.264 Annex B file in a loop instead of the "
           "pattern\n"
           "  --play FILE              send FILE's bytes as they are, in a loop, on every media "
           "connection\n"
           "                           (any stream file, e.g. an ffmpeg-made .m4v, .avi or .mpg), "
           "paced\n"
           "                           at its own rate (its duration, or its frames and frame "
           "rate),\n"
           "                           else at --bitrate; --format and --codec do not apply\n"
           "  --message-size N         MEDIA_DATA payload size in bytes at least 64 (4096)\n"
           "  --per-frame              one MEDIA_DATA message per frame\n"
           "  --max-clients N          connections served at once (64)\n"
           "  --queue-limit BYTES      send queue per connection before media is dropped "
           "(4194304)\n"
           "faults:\n"
           "  --fault-keepalive-stop S     stop answering keepalives S seconds after login\n"
           "  --fault-close-session S      close the session S seconds after login\n"
           "  --fault-close-session-bytes N  close the session after N bytes sent on it\n"
           "  --fault-close-media S        close each media connection S seconds after its claim\n"
           "  --fault-close-media-bytes N  close each media connection after N bytes\n"
           "  --fault-garbage N            send N random bytes on each media connection when it "
           "starts\n"
           "  --fault-session-garbage N    send N random bytes on the session after the login "
           "reply\n"
           "  --fault-absurd-length media|session  send a header announcing a 4 GiB payload\n"
           "  --fault-stall-media N        stop in the middle of the message that reaches past N "
           "bytes\n"
           "  --fault-stall-list           send half of the LIST_REPLY, then nothing more\n"
           "  --fault-big-list N           pad the LIST_REPLY with filler names to N bytes\n"
           "  --fault-burst STALL:PERIOD   media sending stalls for STALL ms at the end of every "
           "PERIOD ms,\n"
           "                               then the frames due meanwhile go out at once\n";
}

bool RecorderOptions::mpeg4() const
{
    return codec == "mpeg4" || format == "chunk" || format == "m4v" || format == "avi";
}

int RecorderOptions::parse(int argc, const char* const* argv, RecorderOptions& out,
                           std::string& message)
{
    out = RecorderOptions{};
    bool userPending = false;
    // The option chain below reads numbers through these; each remembers the rule it checked,
    // so a refused value can be answered with the rule.
    std::string rule;
    auto range = [](const char* what, int64_t lo, int64_t hi) {
        return std::string(what) + " from " + std::to_string(lo) + " to " + std::to_string(hi);
    };
    auto toInt = [&](const char* text, int lo, int hi, int& value) {
        rule = range("a whole number", lo, hi);
        return kevra::toInt(text, lo, hi, value);
    };
    auto toInt64 = [&](const char* text, int64_t lo, int64_t hi, int64_t& value) {
        rule = range("a whole number", lo, hi);
        return kevra::toInt64(text, lo, hi, value);
    };
    auto toSeconds = [&](const char* text, double& value) {
        rule = "a number of seconds from 0 to 1000000";
        return kevra::toSeconds(text, value);
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            message = usage();
            return 1;
        }
        if (bool RecorderOptions::*flag = flagOption(a)) {
            out.*flag = true;
            continue;
        }
        // An option at the end without its value is still checked for being an option at all.
        const bool missing = i + 1 >= argc;
        const char* v = missing ? "" : argv[++i];
        bool ok = true;
        rule.clear();
        if (a == "--listen")
            out.listen = v;
        else if (a == "--port")
            ok = toInt(v, 0, 65535, out.port);
        else if (a == "--user") {
            out.users.emplace_back(v, "");
            userPending = true;
        } else if (a == "--password") {
            if (!userPending)
                out.users.emplace_back("admin", v);
            else
                out.users.back().second = v;
            userPending = false;
        } else if (a == "--refuse")
            ok = toInt(v, -128, 255, out.refuseReason);
        else if (a == "--outcome")
            ok = toInt(v, -128, 255, out.outcome);
        else if (a == "--cameras")
            out.cameras = splitNames(v);
        else if (a == "--channels")
            ok = toInt(v, -128, 255, out.channelCount);
        else if (a == "--format") {
            out.format = v;
            ok = out.format == "kxav" || out.format == "packet" || out.format == "ps" ||
                 out.format == "asf" || out.format == "chunk" || out.format == "m4v" ||
                 out.format == "avi";
        } else if (a == "--codec") {
            out.codec = v;
            ok = out.codec == "h264" || out.codec == "mpeg4";
        } else if (a == "--size") {
            int w = 0, h = 0;
            char tail = 0;
            ok = std::sscanf(v, "%dx%d%c", &w, &h, &tail) == 2 && w >= 16 && h >= 16 && w <= 2040 &&
                 h <= 2040 && w % 8 == 0 && h % 8 == 0;
            out.width = w;
            out.height = h;
        } else if (a == "--fps")
            ok = toInt(v, 1, 100, out.fps);
        else if (a == "--bitrate")
            ok = toInt(v, 0, 100000000, out.bitrate);
        else if (a == "--gop")
            ok = toInt(v, 1, 3000, out.gop);
        else if (a == "--source")
            out.source = v;
        else if (a == "--play")
            out.play = v;
        else if (a == "--message-size")
            ok = toInt(v, kMinMessageSize, 1 << 20, out.messageSize);
        else if (a == "--max-clients")
            ok = toInt(v, 1, 1000, out.maxClients);
        else if (a == "--queue-limit")
            ok = toInt64(v, 65536, int64_t(1) << 30, out.queueLimit);
        else if (a == "--fault-keepalive-stop")
            ok = toSeconds(v, out.faultKeepaliveStop);
        else if (a == "--fault-close-session")
            ok = toSeconds(v, out.faultCloseSession);
        else if (a == "--fault-close-session-bytes")
            ok = toInt64(v, 0, INT64_MAX / 2, out.faultCloseSessionBytes);
        else if (a == "--fault-close-media")
            ok = toSeconds(v, out.faultCloseMedia);
        else if (a == "--fault-close-media-bytes")
            ok = toInt64(v, 0, INT64_MAX / 2, out.faultCloseMediaBytes);
        else if (a == "--fault-garbage")
            ok = toInt64(v, 0, int64_t(1) << 40, out.faultGarbage);
        else if (a == "--fault-session-garbage")
            ok = toInt64(v, 0, int64_t(1) << 40, out.faultSessionGarbage);
        else if (a == "--fault-absurd-length") {
            out.faultAbsurdLength = v;
            ok = out.faultAbsurdLength == "media" || out.faultAbsurdLength == "session";
        } else if (a == "--fault-stall-media")
            ok = toInt64(v, 0, INT64_MAX / 2, out.faultStallMedia);
        else if (a == "--fault-burst") {
            int stall = 0, period = 0;
            char tail = 0;
            rule = "STALL_MS:PERIOD_MS, whole milliseconds with 0 < STALL_MS < PERIOD_MS <= "
                   "3600000";
            ok = std::sscanf(v, "%d:%d%c", &stall, &period, &tail) == 2 && stall > 0 &&
                 period > stall && period <= 3600000;
            out.burstStallMs = ok ? stall : 0;
            out.burstPeriodMs = ok ? period : 0;
        } else if (a == "--fault-big-list")
            ok = toInt64(v, 0, int64_t(256) << 20, out.faultBigList);
        else {
            message = "unknown option '" + a + "' ('kevra-recorder --help' lists the options)";
            return -1;
        }
        if (missing) {
            message = a + " needs a value";
            return -1;
        }
        if (!ok) {
            if (a == "--format")
                rule = "one of kxav, packet, ps, asf, chunk, m4v, avi";
            else if (a == "--size")
                rule = "WIDTHxHEIGHT, each a multiple of 8 from 16 to 2040";
            else if (a == "--fault-absurd-length")
                rule = "media or session";
            else if (a == "--codec")
                rule = "h264 or mpeg4";
            message = a + " must be " + rule + ", not '" + v + "'";
            if (a == "--message-size")
                message += " (smaller messages make a stream no client can play)";
            return -1;
        }
    }
    if (out.users.empty())
        out.users.emplace_back("admin", "580317");
    const bool mpeg4Only = out.format == "chunk" || out.format == "m4v" || out.format == "avi";
    if (mpeg4Only && out.codec == "h264") {
        message = "--format " + out.format + " carries MPEG-4 only, not --codec h264";
        return -1;
    }
    if (out.mpeg4() && !out.source.empty()) {
        message = "--source streams H.264; it cannot be sent as MPEG-4";
        return -1;
    }
    // Program streams give the H.264 picture size as a code of a fixed size table.
    if (out.format == "ps" && out.source.empty() && out.play.empty() && !out.mpeg4() &&
        ProgramStreamMuxer::sizeCodeFor(out.width, out.height) < 0) {
        message = "--format ps needs a picture size of its size table (704x576, 352x576, 704x288, "
                  "352x288, 176x144, 640x480, 320x240, 480x480, 800x592, 1024x768, 1280x800, "
                  "1280x1024, 1600x1024, 1600x1200), not " +
                  std::to_string(out.width) + "x" + std::to_string(out.height);
        return -1;
    }
    // Chunk headers give the size in units of 16; clients recognise only the usual sizes.
    if (out.format == "chunk") {
        auto oneOf = [](int v, std::initializer_list<int> set) {
            for (int s : set)
                if (v == s)
                    return true;
            return false;
        };
        if (!oneOf(out.width, {176, 352, 704, 720}) ||
            !oneOf(out.height, {144, 240, 288, 480, 576})) {
            message =
                "--format chunk needs a width of 176, 352, 704 or 720 and a height of 144, 240, "
                "288, 480 or 576, not " +
                std::to_string(out.width) + "x" + std::to_string(out.height);
            return -1;
        }
    }
    // A file to play that is not there is refused now, not found missing by the first client.
    if (!out.play.empty()) {
        std::string problem;
        if (!readableFile(out.play, problem)) {
            message = "--play " + out.play + ": " + problem;
            return -1;
        }
    }
    if (out.cameras.size() > 127) {
        message =
            "--cameras must name at most 127 cameras, not " + std::to_string(out.cameras.size());
        return -1;
    }
    // Clients read the list as names between "&&": an empty name leaves them without the list.
    for (size_t i = 0; i < out.cameras.size(); ++i) {
        if (out.cameras[i].empty()) {
            message = "--cameras must not hold an empty name (camera " + std::to_string(i) +
                      " is empty): give names separated by &&, e.g. \"Gate&&Lobby\"";
            return -1;
        }
    }
    return 0;
}

}   // namespace kevra
