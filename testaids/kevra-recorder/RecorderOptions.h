// Everything the simulated recorder is told on its command line, and the parser that fills it.
// Built once by main() before the event loop starts; read-only afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kevra {

struct RecorderOptions {
    static constexpr int kNoValue = -1000000;
    // Smaller MEDIA_DATA payloads give a stream no client can play.
    static constexpr int kMinMessageSize = 64;

    std::string listen = "127.0.0.1";
    int port = 34567;
    // Accepted user name / password pairs; admin / 580317 when none is given.
    std::vector<std::pair<std::string, std::string>> users;
    // Forced login answers: --refuse R answers outcome 1 with reason R; --outcome N answers
    // outcome N (reason from --refuse, else 0). kNoValue = not forced.
    int refuseReason = kNoValue;
    int outcome = kNoValue;
    std::vector<std::string> cameras{"Gate", "Lobby", "Parking"};
    int channelCount = kNoValue;   // channel count byte of LOGIN_REPLY; default: number of cameras

    std::string format = "kxav";   // kxav | packet | ps | asf | chunk | m4v | avi
    // h264 | mpeg4; "" = the format's own (H.264, MPEG-4 Visual for chunk, m4v and avi).
    std::string codec;
    int width = 352;
    int height = 288;
    int fps = 25;
    int bitrate = 512000;
    int gop = 25;
    bool noise = false;       // changing noise in part of the picture, to fill high bitrates
    bool frameCode = false;   // frame code strip in the picture, a "sent" event per frame
    std::string source;       // raw H.264 Annex B file, looped, instead of the pattern
    std::string play;         // any stream file, sent as it is in a loop (no --format wrapping)
    int messageSize = 4096;   // MEDIA_DATA payload size
    bool perFrame = false;    // one MEDIA_DATA message per frame
    int maxClients = 64;
    int64_t queueLimit = 4 << 20;   // bytes queued per connection before media is dropped

    // Faults (disabled when negative / zero).
    double faultKeepaliveStop = -1;        // stop answering keepalives N s after login
    double faultCloseSession = -1;         // close the session N s after login
    int64_t faultCloseSessionBytes = -1;   // close the session after N bytes sent on it
    double faultCloseMedia = -1;           // close a media connection N s after its claim
    int64_t faultCloseMediaBytes = -1;     // close a media connection after N bytes
    int64_t faultGarbage = 0;              // N random bytes on a media connection when it starts
    int64_t faultSessionGarbage = 0;       // N random bytes on the session after the login reply
    std::string faultAbsurdLength;         // "media" or "session": a header announcing ~4 GiB
    int64_t faultStallMedia = -1;   // stall in the middle of the message reaching past N bytes
    bool faultStallList = false;    // LIST_REPLY: header and half the payload, then silence
    int64_t faultBigList = 0;       // LIST_REPLY padded with filler names to N bytes
    // Bursts: media sending stalls for burstStallMs at the end of every burstPeriodMs, then the
    // frames that fell due meanwhile go out at once (0 = off).
    int burstStallMs = 0;
    int burstPeriodMs = 0;

    // Parses argv. Returns 0, 1 when help was asked (text in message), -1 on an error (message:
    // one line naming the option, the value and the rule, without the usage).
    static int parse(int argc, const char* const* argv, RecorderOptions& out, std::string& message);
    static std::string usage();
    // True when the cameras send MPEG-4 Visual.
    bool mpeg4() const;
};

}   // namespace kevra
