// Hostile input: random bytes, mutated streams of every format and random block splits must
// never crash or read outside the data (run under the address sanitizer), and a valid stream
// gives the same frames however it is cut into blocks once its format is known.
#include "DemuxTestSupport.h"

#include "demux/KxptParser.h"
#include "testkit/AsfMuxer.h"
#include "testkit/ChunkMuxer.h"
#include "testkit/KxavMuxer.h"
#include "testkit/KxptMuxer.h"
#include "testkit/Mpeg4EsWriter.h"
#include "testkit/PacketMuxer.h"
#include "testkit/ProgramStreamMuxer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace kevra;
using namespace kevra::demuxtest;

namespace {

// Reads every byte a record claims, so a record pointing outside live memory is caught.
uint32_t touch(const MediaFrame* r)
{
    uint32_t sum = 0;
    EXPECT_GE(r->payloadLength, 0);
    if (r->payload && r->payloadLength > 0)
        for (int i = 0; i < r->payloadLength; ++i)
            sum += r->payload[i];
    return sum;
}

void feedRandomly(StreamDemuxer& d, const std::vector<uint8_t>& s, std::mt19937& rng,
                  size_t maxBlock)
{
    size_t pos = 0;
    while (pos < s.size()) {
        size_t n = 1 + rng() % maxBlock;
        n = std::min(n, s.size() - pos);
        std::vector<uint8_t> block(s.begin() + pos, s.begin() + pos + n);
        pos += n;
        d.feed(block.data(), static_cast<int>(block.size()));
        const bool keyOnly = rng() % 4 == 0;
        for (int guard = 0; guard < 100000; ++guard) {
            const MediaFrame* r = keyOnly ? d.nextKeyFrame() : d.nextFrame();
            if (!r)
                break;
            touch(r);
        }
        if (rng() % 50 == 0)
            d.control(1 + rng() % 2, StreamFormat::None);
    }
}

std::vector<uint8_t> kxavStream(std::mt19937& rng, int frames)
{
    KxavMuxer mux;
    std::vector<uint8_t> s;
    for (int i = 0; i < frames; ++i) {
        const auto body = payloadBytes(1 + rng() % 3000, rng());
        switch (rng() % 5) {
        case 0: append(s, mux.videoFrame(body, true, 8, 704, 576, 25, rng())); break;
        case 1: append(s, mux.audioFrame(body.data(), body.size(), 1, 10, 2)); break;
        case 2:
            append(s, mux.textPacket(std::string(
                          body.begin(), body.begin() + std::min<size_t>(body.size(), 40))));
            break;
        default: append(s, mux.videoFrame(body, false, 0, 0, 0, 0, 0)); break;
        }
    }
    return s;
}

std::vector<uint8_t> packetStream(std::mt19937& rng, int frames)
{
    PacketMuxer mux;
    std::vector<uint8_t> s;
    for (int i = 0; i < frames; ++i) {
        const auto body = payloadBytes(1 + rng() % 3000, rng());
        switch (rng() % 5) {
        case 0: append(s, mux.keyFrame(body, 352, 288, 25, rng())); break;
        case 1: append(s, PacketMuxer::audioPacket(body, 10, 2)); break;
        case 2: append(s, PacketMuxer::auxPacket(body.data(), body.size())); break;
        default: append(s, mux.dependentFrame(body)); break;
        }
    }
    return s;
}

std::vector<uint8_t> kxptStream(std::mt19937& rng, int frames)
{
    std::vector<uint8_t> s;
    for (int i = 0; i < frames; ++i) {
        const auto body = payloadBytes(1 + rng() % 2000, rng());
        switch (rng() % 3) {
        case 0:
            append(s, KxptMuxer::video(KxptMuxer::keyPayload(352, 288, 1, 2, 3, 25, body)));
            break;
        case 1: append(s, KxptMuxer::audio(body, 10, 2)); break;
        default: append(s, KxptMuxer::video(KxptMuxer::dependentPayload(body))); break;
        }
    }
    return s;
}

void mutate(std::vector<uint8_t>& s, std::mt19937& rng, int edits)
{
    static const uint8_t codes[][4] = {{0, 0, 1, 0xFD}, {0, 0, 1, 0xF0},   {0, 0, 1, 0xF1},
                                       {0, 0, 1, 0xFA}, {0, 0, 1, 0xB6},   {0, 0, 1, 0xBA},
                                       {0, 0, 1, 0xE0}, {0, 0, 1, 0xF2},   {'K', 'X', 'A', 'V'},
                                       {0, 0, 1, 0x20}, {0x11, 0x5D, 0, 0}};
    if (s.size() < 8)
        return;
    for (int i = 0; i < edits; ++i) {
        const size_t at = rng() % (s.size() - 4);
        switch (rng() % 4) {
        case 0: s[at] = uint8_t(rng()); break;
        case 1: std::memcpy(s.data() + at, codes[rng() % 11], 4); break;
        case 2:
            s[at] = 0xFF;
            s[at + 1] = 0xFF;
            s[at + 2] = 0xFF;
            break;
        default: s.erase(s.begin() + at, s.begin() + at + rng() % 4); break;
        }
    }
}

}   // namespace

TEST(ProbeRobustness, RandomBytesInRandomBlocks)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> s(1 + rng() % 150000);
        for (auto& b : s)
            b = uint8_t(rng() % (round % 3 == 0 ? 4 : 256));   // some rounds mostly 0..3
        StreamDemuxer d;
        feedRandomly(d, s, rng, 1 + rng() % 70000);
    }
}

TEST(ProbeRobustness, MutatedStreamsOfEveryFormat)
{
    std::mt19937 rng(777);
    for (int round = 0; round < 120; ++round) {
        std::vector<uint8_t> s;
        switch (round % 5) {
        case 0: s = kxavStream(rng, 40); break;
        case 1: s = packetStream(rng, 40); break;
        case 2: s = kxptStream(rng, 40); break;
        case 3: {
            ChunkMuxer mux(352, 288, 25);
            mux.addVideo(payloadBytes(30000, rng()));
            mux.addAudio(10, 2, payloadBytes(300, rng()));
            mux.flush();
            s = mux.take();
            break;
        }
        default: {
            // Elementary stream, program stream and ASF starts followed by stream-like bytes.
            s = payloadBytes(40000, rng());
            static const uint8_t asf[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
            if (rng() % 2)
                std::memcpy(s.data(), asf, 16);
            else
                std::memcpy(s.data(), "RIFF\0\0\0\0AVI LISTxxxxhdrlavih", 28);
            break;
        }
        }
        mutate(s, rng, 1 + rng() % 60);
        const int initial = (round % 7 == 0) ? int(1 + rng() % 5) : 0;
        StreamDemuxer d{StreamFormat(initial)};
        feedRandomly(d, s, rng, 1 + rng() % 20000);
    }
}

TEST(ProbeRobustness, ValidStreamsGiveTheSameFramesInAnyBlockSplit)
{
    std::mt19937 rng(4242);
    for (int round = 0; round < 40; ++round) {
        const bool kxav = round % 2 == 0;
        std::vector<uint8_t> s = kxav ? kxavStream(rng, 30) : packetStream(rng, 30);
        // A first packet the probe recognises at once.
        std::vector<uint8_t> head;
        if (kxav) {
            KxavMuxer mux;
            head = mux.auxPacket(0xF1, 5, nullptr, 0);
        } else {
            PacketMuxer mux;
            head = mux.keyFrame(payloadBytes(10, 1), 352, 288, 25, 0);
        }
        std::vector<uint8_t> all = head;
        append(all, s);

        StreamDemuxer whole;
        const auto expected = feedInBlocks(whole, all, {all.size()});
        ASSERT_EQ(whole.format(), kxav ? StreamFormat::Kxav : StreamFormat::Packet);

        std::vector<size_t> sizes = {head.size()};
        for (size_t used = head.size(); used < all.size();) {
            const size_t n = 1 + rng() % (rng() % 2 ? 40 : 6000);
            sizes.push_back(n);
            used += n;
        }
        // Random blocks after a first one that decides, and tiny blocks from the start: the
        // probe judges the bytes it keeps together with the next block.
        std::vector<std::vector<Taken>> runs;
        StreamDemuxer d;
        runs.push_back(feedInBlocks(d, all, sizes));
        if (round < 6)
            for (size_t block : {size_t(1), size_t(3), size_t(17)}) {
                StreamDemuxer tiny;
                runs.push_back(feedDemuxer(tiny, all, block));
            }
        for (const auto& got : runs) {
            ASSERT_EQ(got.size(), expected.size()) << "round " << round;
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].kind, expected[i].kind) << round << "/" << i;
                // Audio and most auxiliary packets leave subtype as the reused record had it.
                if (got[i].kind == 1) {
                    EXPECT_EQ(got[i].subtype, expected[i].subtype) << round << "/" << i;
                }
                EXPECT_EQ(got[i].payloadLength, expected[i].payloadLength) << round << "/" << i;
                EXPECT_EQ(got[i].payload, expected[i].payload) << round << "/" << i;
            }
        }
    }
}

namespace {

constexpr int kFileFrames = 12;

// Frame i of the files below: a key frame every fifth, bodies of varying size, the last one
// the smallest a recorder sends (a few bytes), where a held-back tail hides a whole frame.
Bytes fileBody(int i)
{
    return payloadBytes(i == kFileFrames - 1 ? 3 : 40 + (i * 37) % 300, uint32_t(i));
}

Bytes packetFile()
{
    PacketMuxer mux;
    Bytes s;
    for (int i = 0; i < kFileFrames; ++i)
        append(s, i % 5 == 0 ? mux.keyFrame(fileBody(i), 352, 288, 25)
                             : mux.dependentFrame(fileBody(i)));
    return s;
}

Bytes mpeg4Frame(int i)
{
    return Mpeg4EsWriter::frame(i, 5, Mpeg4EsWriter::Vol{}, i == kFileFrames - 1 ? 2 : 60 + i * 13);
}

struct FileCase {
    const char* name;
    StreamFormat format;   // None: read by the parser alone (the probe never picks it)
    Bytes (*make)();
};

const FileCase kFileCases[] = {
    {"packet", StreamFormat::Packet, packetFile},
    {"kxav", StreamFormat::Kxav,
     [] {
         KxavMuxer mux;
         Bytes s;
         for (int i = 0; i < kFileFrames; ++i)
             append(s, mux.videoFrame(fileBody(i), i % 5 == 0, 8, 352, 288, 25, 0));
         return s;
     }},
    {"kxpt", StreamFormat::None,
     [] {
         Bytes s;
         for (int i = 0; i < kFileFrames; ++i)
             append(s, KxptMuxer::video(
                           i % 5 == 0 ? KxptMuxer::keyPayload(352, 288, 1, 2, 3, 25, fileBody(i))
                                      : KxptMuxer::dependentPayload(fileBody(i))));
         return s;
     }},
    {"asf", StreamFormat::Asf,
     [] {
         AsfMuxer am(1024, 1, 2);
         return cat({am.header(false), am.packetize(1, packetFile())});
     }},
    {"program-stream", StreamFormat::ProgramStream,
     [] {
         ProgramStreamMuxer ps(ProgramStreamMuxer::Codec::H264, 0, 25);
         Bytes s;
         for (int i = 0; i < kFileFrames; ++i) {
             Bytes frame = {0, 0, 0, 1, uint8_t(i % 5 == 0 ? 0x65 : 0x41)};
             append(frame, fileBody(i));
             append(s, ps.videoFrame(frame, i % 5 == 0));
         }
         return s;
     }},
    {"mpeg4-es", StreamFormat::Mpeg4Es,
     [] {
         Bytes s;
         for (int i = 0; i < kFileFrames; ++i)
             append(s, mpeg4Frame(i));
         return s;
     }},
    {"avi", StreamFormat::Mpeg4Es,
     [] {
         Bytes s = Mpeg4EsWriter::aviHeader(40000, 352, 288, false, 0, 0);
         for (int i = 0; i < kFileFrames; ++i)
             append(s, Mpeg4EsWriter::aviVideoChunk(mpeg4Frame(i)));
         // The index chunk that closes an AVI file.
         append(s, {'i',  'd', 'x', '1', 16, 0, 0, 0, '0', '0', 'd', 'c',
                    0x10, 0,   0,   0,   4,  0, 0, 0, 8,   0,   0,   0});
         return s;
     }},
    {"chunk", StreamFormat::Chunk,
     [] {
         ChunkMuxer mux(352, 288, 25, 1);
         for (int i = 0; i < kFileFrames; ++i)
             mux.addVideo(mpeg4Frame(i));
         mux.flush();
         return mux.take();
     }},
};

template <class Source>
std::vector<Taken> readToTheEnd(Source& s, const Bytes& file, size_t block)
{
    std::vector<size_t> sizes((file.size() + block - 1) / block, block);
    auto got = feedInBlocks(s, file, sizes);
    s.finish();
    const auto last = drain(s);
    got.insert(got.end(), last.begin(), last.end());
    return got;
}

}   // namespace

// A file has no block after its last frame to confirm where that frame ends: the end of the
// input does. Every frame comes out, read in one block or in small ones, whatever the format.
TEST(ProbeRobustness, LastFrameOfAFileComesOutAtItsEnd)
{
    for (const FileCase& c : kFileCases) {
        const Bytes file = c.make();
        for (size_t block : {file.size(), size_t(4096), size_t(1), size_t(3), size_t(17)}) {
            std::vector<Taken> got;
            if (c.format == StreamFormat::None) {
                std::vector<uint8_t> buffer(FrameParser::kWorkBufferSize);
                KxptParser parser(buffer.data(), buffer.size());
                got = readToTheEnd(parser, file, block);
            } else {
                StreamDemuxer d;
                got = readToTheEnd(d, file, block);
                EXPECT_EQ(d.format(), c.format) << c.name << " in blocks of " << block;
            }
            // (H.264 key frames without their parameter sets count as other records here.)
            const auto frames = std::count_if(got.begin(), got.end(), [](const Taken& t) {
                return t.kind != 2 && t.payloadLength > 0;
            });
            EXPECT_EQ(frames, kFileFrames) << c.name << " in blocks of " << block;
        }
    }
}
