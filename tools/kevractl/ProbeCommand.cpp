// kevractl probe [--block N] FILE: feeds FILE to a fresh demultiplexer in blocks of N bytes
// (default 4096) and prints one JSON object per frame record taken after each block.
#include "Commands.h"

#include "demux/StreamDemuxer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

void printRecord(const MediaFrame& r, int format, const Crc32& crc)
{
    const uint32_t sum =
        (r.payload && r.payloadLength > 0) ? crc.of(r.payload, static_cast<size_t>(r.payloadLength))
                                           : crc.of(nullptr, 0);
    std::printf("{\"format\":%d,\"kind\":%d,\"subtype\":%d,\"codec\":%d,\"width\":%d,\"height\":%d,"
                "\"frameRate\":%d,\"payloadLength\":%d,\"packetLength\":%d,\"year\":%d,\"month\":%d,"
                "\"day\":%d,\"hour\":%d,\"minute\":%d,\"second\":%d,\"timeOfDay\":%d,\"channels\":%d,"
                "\"bitsPerSample\":%d,\"sampleRate\":%d,\"param1\":%d,\"param2\":%d,\"crc32\":\"%08x\"}\n",
                format, r.kind, r.subtype, r.codec, r.width, r.height, r.frameRate, r.payloadLength,
                r.packetLength, r.year, r.month, r.day, r.hour, r.minute, r.second, r.timeOfDay,
                r.channels, r.bitsPerSample, r.sampleRate, r.param1, r.param2, sum);
}

int usageError(const char* message)
{
    std::fprintf(stderr, "kevractl probe: %s (usage: kevractl probe [--block N] FILE)\n", message);
    return 2;
}

} // namespace

int runProbe(int argc, char** argv)
{
    long block = 4096;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--block") == 0) {
            if (i + 1 >= argc)
                return usageError("--block needs a size");
            char* end = nullptr;
            errno = 0;
            block = std::strtol(argv[++i], &end, 10);
            if (errno != 0 || !end || *end != '\0' || block < 1 || block > 0x7FFFFFFF)
                return usageError("the block size must be a positive number");
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
        return 2;
    }
    StreamDemuxer demuxer(0);
    const Crc32 crc;
    std::vector<uint8_t> buf(static_cast<size_t>(block));
    int status = 0;
    for (;;) {
        const size_t got = std::fread(buf.data(), 1, buf.size(), f);
        if (got == 0)
            break;
        if (demuxer.feed(buf.data(), static_cast<int>(got)) == 0) {
            while (const MediaFrame* r = demuxer.nextFrame())
                printRecord(*r, demuxer.format(), crc);
        }
        if (got < buf.size())
            break;
    }
    if (std::ferror(f)) {
        std::fprintf(stderr, "kevractl probe: read error on %s\n", path);
        status = 2;
    }
    std::fclose(f);
    std::fflush(stdout);
    return status;
}

} // namespace kevra
