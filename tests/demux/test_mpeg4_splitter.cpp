// MPEG-4 elementary stream splitter: frame cutting, key-frame search, picture fields from
// the layer header, interleaved packets, AVI audio chunks, block splits and limits.
#include "DemuxTestSupport.h"

#include "demux/Mpeg4EsParser.h"
#include "demux/StreamDemuxer.h"
#include "testkit/Mpeg4EsWriter.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kevra;
using namespace kevra::demuxtest;
using W = Mpeg4EsWriter;

namespace {

struct Splitter {
    explicit Splitter(int mode, const MediaFrame* tmpl = nullptr)
        : buffer(new uint8_t[FrameParser::kWorkBufferSize]),
          parser(buffer.get(), FrameParser::kWorkBufferSize, mode, tmpl)
    {
    }
    std::unique_ptr<uint8_t[]> buffer;
    Mpeg4EsParser parser;
};

W::Vol vol(int w, int h, int rate)
{
    W::Vol v;
    v.width = w;
    v.height = h;
    v.resolution = rate;
    return v;
}

// key, P, P, key(640x480), P, then one more VOP that closes the last P.
Bytes sampleStream()
{
    return cat({W::keyFrame(vol(352, 288, 25), 10, 31, 42, 300), W::vop(false, 120, 0x33),
                W::vop(false, 90, 0x44), W::keyFrame(vol(640, 480, 30), 1, 2, 3, 250),
                W::vop(false, 70, 0x55), W::vop(false, 10)});
}

}   // namespace

TEST(Mpeg4Splitter, KeyFramesStartAtTheirHeadersAndCarryPictureFields)
{
    Splitter s(0);
    const Bytes stream = sampleStream();
    auto frames = feedParser(s.parser, stream, {});
    ASSERT_EQ(frames.size(), 5u);
    const Bytes key1 = W::keyFrame(vol(352, 288, 25), 10, 31, 42, 300);
    EXPECT_EQ(frames[0].kind, 1);
    EXPECT_EQ(frames[0].subtype, 0);
    EXPECT_EQ(frames[0].codec, 1);
    EXPECT_EQ(frames[0].payload, key1);   // from 0x000001B0 up to the next VOP
    EXPECT_EQ(frames[0].width, 352);
    EXPECT_EQ(frames[0].height, 288);
    EXPECT_EQ(frames[0].frameRate, 25);
    EXPECT_EQ(frames[0].timeOfDay, 10 * 3600 + 31 * 60 + 42);
    EXPECT_EQ(frames[1].subtype, 1);
    EXPECT_EQ(frames[1].payload, W::vop(false, 120, 0x33));
    EXPECT_EQ(frames[2].payload, W::vop(false, 90, 0x44));
    EXPECT_EQ(frames[3].subtype, 0);
    EXPECT_EQ(frames[3].width, 640);
    EXPECT_EQ(frames[3].height, 480);
    EXPECT_EQ(frames[3].frameRate, 30);
    EXPECT_EQ(frames[3].timeOfDay, 3600 + 120 + 3);
    EXPECT_EQ(frames[4].payload, W::vop(false, 70, 0x55));
    for (const auto& f : frames)
        EXPECT_EQ(f.packetLength, f.payloadLength);
    // The last frame stays in progress until the next start code arrives.
    EXPECT_EQ(s.parser.readyCount(), 0);
}

TEST(Mpeg4Splitter, VopOnlyStreamYieldsOnlyEmptyRecords)
{
    Splitter s(0);
    Bytes stream;
    for (int i = 0; i < 8; ++i)
        stream = cat({stream, W::vop(i % 3 == 0, 100 + i)});
    auto frames = feedParser(s.parser, stream, {37});
    EXPECT_EQ(frames.size(), 7u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.kind, 1);
        EXPECT_EQ(f.subtype, 1);
        EXPECT_EQ(f.payloadLength, 0);
    }
    EXPECT_FALSE(s.parser.headerSeen());
}

TEST(Mpeg4Splitter, HeaderGroupWithinAndBeyondSixtyBytes)
{
    const Bytes layer = W::videoObjectLayer(vol(176, 144, 15));
    auto build = [&](size_t userBytes) {
        Bytes user{0x00, 0x00, 0x01, 0xB2};
        user.resize(user.size() + userBytes, 'u');
        return cat({W::visualObjectSequence(), W::videoObject(), layer, user, W::vop(true, 50),
                    W::vop(false, 20)});
    };
    // Distance from the VOP back to 0x000001B0: 5 + 4 + layer + (4 + user bytes).
    const size_t fixed = 5 + 4 + layer.size() + 4;
    const size_t vopSize = W::vop(true, 50).size();
    ASSERT_LT(fixed, 60u);
    {
        Splitter s(0);
        auto f = feedParser(s.parser, build(60 - fixed), {});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].subtype, 0);
        EXPECT_EQ(f[0].payload.size(), 60u + vopSize);   // starts at the 0x000001B0 code
        EXPECT_EQ(f[0].width, 176);
        EXPECT_EQ(f[0].frameRate, 15);
    }
    {
        // One byte more: 0x000001B0 is out of reach, the video object code still counts.
        Splitter s(0);
        auto f = feedParser(s.parser, build(61 - fixed), {});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].subtype, 0);
        EXPECT_EQ(f[0].payload.size(), 61u - 5u + vopSize);
    }
    {
        // Video object code beyond 60 bytes too: the layer header alone makes no key frame.
        Splitter s(0);
        auto f = feedParser(s.parser, build(66 - fixed), {});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].subtype, 1);
        EXPECT_EQ(f[0].payloadLength, 0);
    }
}

TEST(Mpeg4Splitter, EncoderFrameRateLayouts)
{
    // Layout b0 = 0, b1 = 0x86 declares the resolution at once; above 30 it reads as 25, but
    // the header reader then reaches the real resolution and overwrites it.
    W::Vol v = vol(352, 288, 50);
    v.controlParameters = true;
    const Bytes layer = W::videoObjectLayer(v);
    ASSERT_EQ(layer[4], 0x00);
    ASSERT_EQ(layer[5], 0x86);
    {
        Splitter s(0);
        auto f = feedParser(s.parser,
                            cat({W::videoObject(), layer, W::vop(true, 30), W::vop(false, 9)}), {});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].frameRate, 50);
        EXPECT_EQ(f[0].width, 352);
    }
    // Layout b1 = 0xC8, b2 = 0x88 with a type the reader refuses: the rate is A / B and the
    // picture falls back to 352 x 288. A zero divisor gives no rate and must not fault.
    auto odd = [](uint8_t b5, uint8_t b6) {
        return Bytes{0x00, 0x00, 0x01, 0x20, 0x05, 0xC8, 0x88, 0x00, 25, b5, b6, 0x00, 0x5A, 0x5A};
    };
    {
        Splitter s(0);
        auto f = feedParser(
            s.parser, cat({W::videoObject(), odd(0x00, 0x01), W::vop(true, 30), W::vop(false, 9)}),
            {});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].subtype, 0);
        EXPECT_EQ(f[0].frameRate, 12);   // 50 / 4, truncated
        EXPECT_EQ(f[0].width, 352);
        EXPECT_EQ(f[0].height, 288);
    }
    {
        Splitter s(0);
        auto f = feedParser(
            s.parser, cat({W::videoObject(), odd(0x00, 0x00), W::vop(true, 30), W::vop(false, 9)}),
            {});
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].width, 352);
    }
}

TEST(Mpeg4Splitter, InterleavedAudioAndAuxiliaryPackets)
{
    Splitter s(0);
    const Bytes pcm(320, 0x7E);
    const Bytes stream =
        cat({W::keyFrame(vol(352, 288, 25), 0, 0, 1, 100), W::audioPacket(7, 2, pcm),
             W::auxPacket(1, 1, {9, 22, 18}, Bytes(20, 0x42)),
             W::auxPacket(6, 1, {2026, 12, 704, 576}, Bytes{13, 14, 15, 0x42}),
             W::auxPacket(9, 0, {}), W::audioPacket(10, 9, Bytes(100, 0x11)), W::vop(false, 40)});
    auto f = feedParser(s.parser, stream, {64});
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[1].kind, 2);
    EXPECT_EQ(f[1].codec, 7);
    EXPECT_EQ(f[1].sampleRate, 8000);
    EXPECT_EQ(f[1].bitsPerSample, 8);
    EXPECT_EQ(f[1].channels, 1);
    EXPECT_EQ(f[1].payload, pcm);
    EXPECT_EQ(f[2].kind, 3);
    EXPECT_EQ(f[2].subtype, 1);
    EXPECT_EQ(f[2].param1, 9);
    EXPECT_EQ(f[2].width, 22 * 16);
    EXPECT_EQ(f[2].height, 18 * 16);
    EXPECT_EQ(f[2].param2, 1);
    EXPECT_EQ(f[2].payloadLength, 20);
    EXPECT_EQ(f[3].subtype, 6);
    EXPECT_EQ(f[3].width, 704);
    EXPECT_EQ(f[3].height, 576);
    EXPECT_EQ(f[3].hour, 13);
    EXPECT_EQ(f[3].second, 15);
    EXPECT_EQ(f[3].payloadLength, f[3].packetLength);
    EXPECT_EQ(f[4].payloadLength, 2);
    EXPECT_EQ(f[4].param2, 0);
    EXPECT_EQ(f[5].codec, 10);
    EXPECT_EQ(f[5].sampleRate, 48000);
    EXPECT_EQ(f[5].bitsPerSample, 16);
}

TEST(Mpeg4Splitter, ShortOrLyingPacketHeadersStayInsideThePacket)
{
    Splitter s(0);
    // An audio packet that declares 5000 bytes but is followed by a VOP after 10, and
    // auxiliary packets too short for their fields.
    Bytes audio{0x00, 0x00, 0x01, 0xF0, 7, 2, 0x88, 0x13};
    audio.resize(18, 0x21);
    const Bytes stream =
        cat({W::keyFrame(vol(352, 288, 25), 0, 0, 0, 40), audio,
             Bytes{0x00, 0x00, 0x01, 0xF1, 0x01}, Bytes{0x00, 0x00, 0x01, 0xF1, 0x01, 0x01, 0x02},
             Bytes{0x00, 0x00, 0x01, 0xF1}, W::vop(false, 20)});
    auto f = feedParser(s.parser, stream, {});
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[1].payloadLength, 10);
    EXPECT_EQ(f[2].payloadLength, 0);
    EXPECT_EQ(f[3].payloadLength, 0);
    EXPECT_EQ(f[4].payloadLength, 0);
}

TEST(Mpeg4Splitter, AviAudioChunksUseTheTemplate)
{
    MediaFrame tmpl{};
    tmpl.width = 704;
    tmpl.height = 576;
    tmpl.frameRate = 12;
    tmpl.sampleRate = 8000;
    tmpl.bitsPerSample = 16;
    Splitter s(2, &tmpl);
    const Bytes big(2048, 0x30);
    const Bytes stream =
        cat({W::aviVideoChunk(W::keyFrame(vol(352, 288, 25), 0, 0, 0, 80)),
             W::aviAudioChunk(Bytes(16, 0x31)), W::aviAudioChunk(big),
             W::aviVideoChunk(W::vop(false, 50)), W::aviVideoChunk(W::vop(false, 5))});
    auto f = feedParser(s.parser, stream, {100});
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0].subtype, 0);
    EXPECT_EQ(f[0].width, 704);   // the template wins over the layer header
    EXPECT_EQ(f[0].height, 576);
    EXPECT_EQ(f[0].frameRate, 12);
    EXPECT_EQ(f[1].kind, 3);
    EXPECT_EQ(f[1].packetLength, 0);
    EXPECT_EQ(f[2].kind, 2);
    EXPECT_EQ(f[2].codec, 31);
    EXPECT_EQ(f[2].payloadLength, 2048);
    EXPECT_EQ(f[2].payload, big);
    EXPECT_EQ(f[2].sampleRate, 8000);
    EXPECT_EQ(f[2].bitsPerSample, 16);
    EXPECT_EQ(f[2].channels, 1);
    EXPECT_EQ(f[3].kind, 1);
    EXPECT_EQ(f[3].subtype, 1);
}

TEST(Mpeg4Splitter, AnyBlockSplitGivesTheSameFrames)
{
    const Bytes stream =
        cat({sampleStream(), W::audioPacket(2, 4, Bytes(64, 9)), W::vop(false, 3)});
    Splitter whole(0);
    const auto reference = feedParser(whole.parser, stream, {});
    ASSERT_EQ(reference.size(), 7u);
    auto same = [&](const std::vector<Taken>& got, const std::string& what) {
        ASSERT_EQ(got.size(), reference.size()) << what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, reference[i].kind) << what << " frame " << i;
            EXPECT_EQ(got[i].subtype, reference[i].subtype) << what << " frame " << i;
            EXPECT_EQ(got[i].width, reference[i].width) << what << " frame " << i;
            EXPECT_EQ(got[i].payload, reference[i].payload) << what << " frame " << i;
        }
    };
    // Two blocks, cut at every position: start codes and header groups split every way.
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Splitter s(0);
        same(feedParser(s.parser, stream, {cut, stream.size()}), "cut " + std::to_string(cut));
        if (HasFailure())
            return;
    }
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        Splitter s(0);
        same(feedParser(s.parser, stream, randomSizes(rng, 400, 40)),
             "random " + std::to_string(round));
        if (HasFailure())
            return;
    }
}

TEST(Mpeg4Splitter, StartCodeSplitOverTwoBlocksIsFoundInTheBuffer)
{
    Splitter s(0);
    const Bytes key = W::keyFrame(vol(352, 288, 25), 0, 0, 0, 60);
    const Bytes p1 = W::vop(false, 30);
    const Bytes stream = cat({key, p1, W::vop(false, 5)});
    const size_t cut = key.size() + 2;   // 00 00 | 01 B6
    Bytes a(stream.begin(), stream.begin() + static_cast<long>(cut));
    Bytes b(stream.begin() + static_cast<long>(cut), stream.end());
    s.parser.input(a.data(), static_cast<int>(a.size()));
    EXPECT_EQ(s.parser.nextFrame(), nullptr);
    s.parser.input(b.data(), static_cast<int>(b.size()));
    MediaFrame* k = s.parser.nextFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->subtype, 0);
    EXPECT_EQ(Bytes(k->payload, k->payload + k->payloadLength), key);
    // The key frame ends where the split code begins: it lies in the work buffer.
    EXPECT_EQ(k->packetStart, s.buffer.get());
    MediaFrame* p = s.parser.nextFrame();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p->payload, p->payload + p->payloadLength), p1);
    EXPECT_EQ(s.parser.nextFrame(), nullptr);
}

TEST(Mpeg4Splitter, EmptyInputMovesNothing)
{
    Splitter s(0);
    const Bytes stream = cat({W::keyFrame(vol(352, 288, 25), 0, 0, 0, 60), W::vop(false, 30)});
    s.parser.input(stream.data(), static_cast<int>(stream.size()));
    EXPECT_EQ(s.parser.readyCount(), 1);
    EXPECT_EQ(s.parser.input(stream.data(), 0), 0);
    EXPECT_EQ(s.parser.input(nullptr, 10), 0);
    EXPECT_EQ(s.parser.input(stream.data(), -5), 0);
    EXPECT_EQ(s.parser.readyCount(), 1);
}

TEST(Mpeg4Splitter, FrameReachingTheKeepLimitIsDroppedAndCollectionRestarts)
{
    Splitter s(0);
    const Bytes key = W::keyFrame(vol(352, 288, 25), 0, 0, 0, 60);
    std::vector<Taken> got;
    auto feed = [&](const Bytes& b) {
        s.parser.input(b.data(), static_cast<int>(b.size()));
        while (MediaFrame* r = s.parser.nextFrame())
            got.push_back(copyRecord(r));
    };
    feed(key);
    const Bytes filler(100000, 0x5A);
    for (int i = 0; i < 6; ++i)   // 600 KB without a start code
        feed(filler);
    feed(cat({W::vop(false, 40), key, W::vop(false, 8)}));
    // The oversized frame is gone; the P frame has no frame before it any more, the next key
    // frame and the P frame after it come out whole.
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payload, W::vop(false, 40));
    EXPECT_EQ(got[1].payload, key);
    EXPECT_LE(s.parser.heldBytes(), Mpeg4EsParser::kKeepLimit);
}

TEST(Mpeg4Splitter, FlushWithAndWithoutKeep)
{
    Splitter s(1);
    MediaFrame container{};
    container.width = 720;
    container.height = 576;
    container.frameRate = 6;
    container.timeOfDay = 4242;
    s.parser.setContainerRecord(container);
    const Bytes key = W::keyFrame(vol(352, 288, 25), 0, 0, 0, 60);
    s.parser.input(key.data(), static_cast<int>(key.size()));
    const Bytes p = W::vop(false, 20);
    s.parser.input(p.data(), static_cast<int>(p.size()));
    s.parser.flush(true);   // the P frame in progress moves to the buffer start
    EXPECT_EQ(s.parser.heldBytes(), static_cast<int>(p.size()));
    const Bytes next = W::vop(false, 9);
    s.parser.input(next.data(), static_cast<int>(next.size()));
    MediaFrame* r = s.parser.nextFrame();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Bytes(r->payload, r->payload + r->payloadLength), p);
    s.parser.flush(false);
    EXPECT_EQ(s.parser.heldBytes(), 0);
    EXPECT_FALSE(s.parser.headerSeen());
    s.parser.input(p.data(), static_cast<int>(p.size()));
    s.parser.input(key.data(), static_cast<int>(key.size()));
    s.parser.input(p.data(), static_cast<int>(p.size()));
    r = s.parser.nextFrame();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->payloadLength, 0);   // the VOP before the new key frame is discarded
    r = s.parser.nextFrame();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->subtype, 0);
    EXPECT_EQ(r->width, 720);   // mode 1: picture fields from the container record
    EXPECT_EQ(r->frameRate, 6);
    EXPECT_EQ(r->timeOfDay, 4242);
}

TEST(Mpeg4Splitter, RandomGarbageNeverBreaksTheSplitter)
{
    std::mt19937 rng(11);
    for (int mode = 0; mode < 3; ++mode) {
        MediaFrame tmpl{};
        Splitter s(mode, &tmpl);
        for (int round = 0; round < 40; ++round) {
            Bytes junk(1 + rng() % 5000);
            for (auto& b : junk) {
                const unsigned v = rng() % 16;
                b = v < 6
                        ? 0x00
                        : (v < 8 ? 0x01
                                 : (v == 8 ? 0xB6 : (v == 9 ? 0x20 : static_cast<uint8_t>(rng()))));
            }
            auto f = feedParser(s.parser, junk, randomSizes(rng, 64, 700));
            for (const auto& t : f) {
                EXPECT_GE(t.payloadLength, 0);
                EXPECT_GE(t.packetLength, 0);
            }
        }
    }
}

TEST(Mpeg4Splitter, AviFileThroughTheDemuxer)
{
    for (uint32_t period : {40000u, 0u}) {
        const Bytes stream =
            cat({W::aviHeader(period, 320, 240, true, 16000, 16),
                 W::aviVideoChunk(W::keyFrame(vol(352, 288, 25), 0, 0, 0, 400)),
                 W::aviAudioChunk(Bytes(640, 0x41)), W::aviVideoChunk(W::vop(false, 90)),
                 W::aviVideoChunk(W::vop(false, 9))});
        StreamDemuxer d;
        auto got = feedDemuxer(d, stream, 65536);
        EXPECT_EQ(d.format(), StreamFormat::Mpeg4Es);
        ASSERT_EQ(got.size(), 3u) << period;
        EXPECT_EQ(got[0].subtype, 0);
        EXPECT_EQ(got[0].width, 320);   // from the AVI header, not the layer header
        EXPECT_EQ(got[0].height, 240);
        if (period != 0) {
            EXPECT_EQ(got[0].frameRate, 25);
        }
        EXPECT_EQ(got[1].kind, 2);
        EXPECT_EQ(got[1].sampleRate, 16000);
        EXPECT_EQ(got[1].bitsPerSample, 16);
        EXPECT_EQ(got[1].payloadLength, 640);
        EXPECT_EQ(got[2].subtype, 1);
    }
}

TEST(Mpeg4Splitter, MarkerSearchAgreesWithByteByByteReading)
{
    // Blocks of three bytes are read one byte at a time; whole and random blocks jump from
    // marker to marker. Streams dense in codes, near-codes (00 00 00 01, 01wb inside VOPs)
    // and markers must give the same records either way, in every mode.
    const Bytes pieces[] = {{0, 0, 1, 0xB6},
                            {0, 0, 1, 0xF0, 1, 2, 0, 8},
                            {0, 0, 1, 0xF1, 1, 1},
                            {'0', '1', 'w', 'b', 64, 0},
                            {0, 0, 0, 1},
                            {0, 0, 1},
                            {1, 'w'},
                            {0, 0, 1, 0x20}};
    std::mt19937 rng(19);
    for (int mode = 0; mode < 3; ++mode) {
        for (int round = 0; round < 20; ++round) {
            Bytes stream;
            while (stream.size() < 3000) {
                const Bytes& p = pieces[rng() % std::size(pieces)];
                stream.insert(stream.end(), p.begin(), p.end());
                for (unsigned n = rng() % 40; n > 0; --n)
                    stream.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng()));
            }
            MediaFrame tmpl{};
            tmpl.width = 320;
            Splitter bytewise(mode, &tmpl), whole(mode, &tmpl), random(mode, &tmpl);
            const auto expect = feedParser(bytewise.parser, stream, {3});
            for (const auto& got : {feedParser(whole.parser, stream, {}),
                                    feedParser(random.parser, stream, randomSizes(rng, 40, 700))}) {
                ASSERT_EQ(got.size(), expect.size()) << "mode " << mode << " round " << round;
                for (size_t i = 0; i < got.size(); ++i) {
                    EXPECT_EQ(got[i].kind, expect[i].kind);
                    EXPECT_EQ(got[i].payload, expect[i].payload)
                        << "mode " << mode << " frame " << i;
                }
            }
        }
    }
}
