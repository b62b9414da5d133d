// Recognises a media stream's format from its first bytes: collects the evidence of every
// format, reads an AVI file header into a template record, and builds the parser of a format.
// Stateless (a Scan carries the state of one stream's probe); the StreamDemuxer calls it on the
// decoder thread.
#pragma once
#include "demux/FrameParser.h"
#include "demux/MediaFrame.h"

#include <cstdint>
#include <memory>

namespace kevra {

class FormatProbe {
public:
    // Evidence is judged for the whole block only up to this many bytes.
    static constexpr int kWholeBlockLimit = 51200;

    struct Evidence {
        bool chunk = false;           // format 5
        bool asf = false;             // format 9
        bool avi = false;             // format 1, mode 2
        bool kxav = false;            // format 8
        bool packet = false;          // format 4
        bool programStream = false;   // format 7
        bool vop = false;             // format 1, mode 0
        bool audioOnly = false;       // 0x000001F0 packets (format 6)
        int vopCount = 0;             // VOP start codes seen
        int asfPacketSize = 0;
        int asfVideoStream = 1;
        int riffEnd = -1;   // index just after "RIFF" of the AVI evidence
        bool any() const { return chunk || asf || avi || kxav || packet || programStream || vop; }
    };

    // The probe of a stream that arrives in pieces. The bytes seen so far are scanned once, from
    // where the last call stopped; a code whose header runs past the bytes at hand, or an ASF
    // or AVI file header not yet complete leave the scan `waiting`,
    // so the caller keeps the bytes and scans again when more have come. `finished` once the
    // scan cannot change any more (decided at once, or evidence past the window).
    struct Scan {
        Evidence evidence;
        uint32_t word = 0xFFFFFFFFu;
        int next = 0;           // index of the next byte to read
        int headerEnd = -1;     // end of an ASF or AVI file header to wait for
        bool waiting = false;   // more bytes could change the decision
        bool finished = false;
    };

    // Continues `scan` over data[0, length), which starts with the bytes given before. With
    // `whole` set the bytes are judged as they are: a header cut by the end gives no evidence
    // and nothing is waited for.
    static void scanMore(Scan& scan, const uint8_t* data, int length, bool whole);

    // Collects the evidence of one block judged as a whole. Formats whose parser this build
    // lacks give none.
    static Evidence scan(const uint8_t* data, int length);

    // The format the evidence chooses, in priority order; PacketAudioOnly for audio-only
    // evidence, None for none.
    static StreamFormat choose(const Evidence& evidence);

    // Fills a zeroed template from the AVI header that follows "RIFF" (riffEnd = index of the
    // byte after the tag): frame rate, picture size, audio bits and sample rate. Reads only
    // inside the block. A frame period of 0 gives kDefaultAviRate.
    static void readAviHeader(const uint8_t* data, int length, int riffEnd, MediaFrame* tmpl);
    static constexpr int kDefaultAviRate = 25;

    // What a parser is built with: the demultiplexer's work buffer, and the findings of the
    // probe its format uses (the MPEG-4 splitter's mode and AVI template, the ASF packet size
    // and video stream).
    struct ParserSetup {
        uint8_t* buffer = nullptr;
        size_t capacity = 0;
        int mpeg4Mode = 0;
        const MediaFrame* tmpl = nullptr;
        int asfPacketSize = 0;
        int asfVideoStream = 1;
    };

    // Builds the parser of a format; nullptr for None, a number that is no format, no buffer,
    // or no memory.
    static std::unique_ptr<FrameParser> createParser(StreamFormat format, const ParserSetup& setup);

    // "kxav", "program-stream", ...; "none" for None, "unknown" for a number that is no format.
    static const char* name(StreamFormat format);
};

}   // namespace kevra
