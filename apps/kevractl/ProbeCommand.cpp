// kevractl probe [--block N] FILE: feeds FILE to a fresh demultiplexer in blocks of N bytes
// (default 4096) and prints one JSON object per frame record taken after each block. Exit
// status 1 when no record was found at all (an empty file, or no stream the demultiplexer knows)
// and for a common container or picture (MP4, Matroska, ...), which standard error names.
#include "Commands.h"

#include "demux/FrameNames.h"
#include "demux/StreamDemuxer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace kevra {

namespace {

// CRC-32 as used by zip and PNG: reflected polynomial 0xEDB88320, initial and final
// value 0xFFFFFFFF.
class Crc32 {
public:
    Crc32()
    {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table_[n] = c;
        }
    }
    uint32_t of(const uint8_t* data, size_t n) const
    {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i)
            c = table_[(c ^ data[i]) & 0xFF] ^ (c >> 8);
        return c ^ 0xFFFFFFFFu;
    }

private:
    uint32_t table_[256];
};

void printRecord(const MediaFrame& r, StreamFormat format, const Crc32& crc)
{
    const uint32_t sum = (r.payload && r.payloadLength > 0)
                             ? crc.of(r.payload, static_cast<size_t>(r.payloadLength))
                             : crc.of(nullptr, 0);
    std::printf(
        "{\"format\":%d,\"formatName\":\"%s\",\"kind\":%d,\"subtype\":%d,\"codec\":%d,"
        "\"codecName\":\"%s\",\"width\":%d,\"height\":%d,"
        "\"frameRate\":%d,\"payloadLength\":%d,\"packetLength\":%d,\"year\":%d,\"month\":%d,"
        "\"day\":%d,\"hour\":%d,\"minute\":%d,\"second\":%d,\"timeOfDay\":%d,\"channels\":%d,"
        "\"bitsPerSample\":%d,\"sampleRate\":%d,\"param1\":%d,\"param2\":%d,\"crc32\":\"%08x\"}\n",
        recordCode(format), streamFormatName(format), r.kind, r.subtype, r.codec,
        codecName(r.kind, r.codec), r.width, r.height, r.frameRate, r.payloadLength, r.packetLength,
        r.year, r.month, r.day, r.hour, r.minute, r.second, r.timeOfDay, r.channels,
        r.bitsPerSample, r.sampleRate, r.param1, r.param2, sum);
}

// What a file that is not a recorder's stream is, from its first bytes: the common containers
// and pictures people hand to probe by mistake (a clip kevractl wrote, a snapshot). nullptr
// for anything else. AVI is only named when the demultiplexer found nothing in it.
const char* commonFileKind(const uint8_t* h, size_t n, bool demuxerFoundNothing)
{
    auto at = [&](size_t off, const char* magic, size_t len) {
        return n >= off + len && std::memcmp(h + off, magic, len) == 0;
    };
    if (at(4, "ftyp", 4) || at(4, "moov", 4) || at(4, "moof", 4) || at(4, "styp", 4))
        return "an MP4 (ISO media) file";
    if (at(0, "\x1A\x45\xDF\xA3", 4))
        return "a Matroska/WebM file";
    if (at(0, "\x89PNG\r\n\x1A\n", 8))
        return "a PNG picture";
    if (at(0, "\xFF\xD8\xFF", 3))
        return "a JPEG picture";
    if (n >= 377 && h[0] == 0x47 && h[188] == 0x47 && h[376] == 0x47)
        return "an MPEG transport stream";
    if (demuxerFoundNothing && at(0, "RIFF", 4) && at(8, "AVI ", 4))
        return "an AVI file without a stream probe reads";
    return nullptr;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "kevractl probe: %s (try 'kevractl probe --help')\n", message.c_str());
    return 2;
}

int notARecorderStream(const char* path, const char* kind)
{
    std::fprintf(stderr,
                 "kevractl probe: %s is %s, not a recorder's stream: probe reads the raw media "
                 "bytes recorders send (as 'kevractl record --raw' saves them); open this file "
                 "with a player or ffprobe\n",
                 path, kind);
    return 1;
}

}   // namespace

int runProbe(int argc, char** argv)
{
    long block = 4096;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return printCommandHelp("probe");
        if (std::strcmp(argv[i], "--block") == 0) {
            if (i + 1 >= argc)
                return usageError("--block needs a value");
            char* end = nullptr;
            errno = 0;
            const char* text = argv[++i];
            block = std::strtol(text, &end, 10);
            if (errno != 0 || !end || *end != '\0' || block < 1 || block > 0x7FFFFFFF)
                return usageError(
                    std::string(
                        "--block must be a whole number of bytes from 1 to 2147483647, not '") +
                    text + "'");
        } else if (argv[i][0] == '-' && argv[i][1] != '\0' && !path) {
            return usageError(std::string("unknown option '") + argv[i] + "'");
        } else if (!path) {
            path = argv[i];
        } else {
            return usageError("only one file can be probed");
        }
    }
    if (!path)
        return usageError("no file given");

    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "kevractl probe: cannot open %s: %s\n", path, std::strerror(errno));
        return 1;   // a failure like any other; 2 is for wrong arguments
    }
    // A common container is said for what it is rather than searched for recorder packets.
    uint8_t head[400];
    const ssize_t headBytes = ::pread(fileno(f), head, sizeof head, 0);
    const size_t headSize = headBytes > 0 ? static_cast<size_t>(headBytes) : 0;
    if (const char* kind = commonFileKind(head, headSize, false)) {
        std::fclose(f);
        return notARecorderStream(path, kind);
    }
    StreamDemuxer demuxer;
    const Crc32 crc;
    std::vector<uint8_t> buf(static_cast<size_t>(block));
    int status = 0;
    long long records = 0, bytes = 0;
    for (;;) {
        const size_t got = std::fread(buf.data(), 1, buf.size(), f);
        if (got == 0)
            break;
        bytes += static_cast<long long>(got);
        if (demuxer.feed(buf.data(), static_cast<int>(got)) == 0) {
            while (const MediaFrame* r = demuxer.nextFrame()) {
                printRecord(*r, demuxer.format(), crc);
                ++records;
            }
        }
        if (got < buf.size())
            break;
    }
    // No block follows the file's last frame to confirm its end: the end of the file does.
    if (!std::ferror(f) && demuxer.finish() == 0) {
        while (const MediaFrame* r = demuxer.nextFrame()) {
            printRecord(*r, demuxer.format(), crc);
            ++records;
        }
    }
    if (std::ferror(f)) {
        std::fprintf(stderr, "kevractl probe: read error on %s\n", path);
        status = 2;
    }
    std::fclose(f);
    std::fflush(stdout);
    if (status == 0 && records == 0) {
        if (const char* kind = commonFileKind(head, headSize, true))
            return notARecorderStream(path, kind);
        if (bytes == 0)
            std::fprintf(stderr, "kevractl probe: %s is empty: 0 frame records\n", path);
        else if (demuxer.format() == StreamFormat::None)
            std::fprintf(stderr,
                         "kevractl probe: no stream format recognised in the %lld bytes of %s: 0 "
                         "frame records\n",
                         bytes, path);
        else
            std::fprintf(stderr,
                         "kevractl probe: 0 frame records in the %lld bytes of %s (format %s)\n",
                         bytes, path, streamFormatName(demuxer.format()));
        status = 1;
    }
    return status;
}

}   // namespace kevra
