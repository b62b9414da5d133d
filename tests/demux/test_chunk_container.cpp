// Chunked container: 1024-byte video chunks reassembled by the inner MPEG-4 splitter, chunk
// counter continuity, audio in stream order, block splits.
#include "DemuxTestSupport.h"

#include "demux/ChunkParser.h"
#include "testkit/ChunkMuxer.h"
#include "testkit/Mpeg4EsWriter.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kevra;
using namespace kevra::demuxtest;
using W = Mpeg4EsWriter;

namespace {

struct Container {
    Container()
        : buffer(new uint8_t[FrameParser::kWorkBufferSize]),
          parser(buffer.get(), FrameParser::kWorkBufferSize)
    {
    }
    std::unique_ptr<uint8_t[]> buffer;
    ChunkParser parser;
};

W::Vol vol(int w, int h)
{
    W::Vol v;
    v.width = w;
    v.height = h;
    return v;
}

// Elementary stream of `frames` frames (key frame first and every 4th), sizes 700..2600.
std::vector<Bytes> esFrames(int frames)
{
    std::vector<Bytes> out;
    for (int i = 0; i < frames; ++i) {
        const int body = 700 + (i * 733) % 1900;
        out.push_back(i % 4 == 0 ? W::keyFrame(vol(352, 288), 0, 0, i, body)
                                 : W::vop(false, body, static_cast<uint8_t>(0x20 + i)));
    }
    return out;
}

Bytes joined(const std::vector<Bytes>& frames)
{
    Bytes es;
    for (const auto& f : frames)
        es.insert(es.end(), f.begin(), f.end());
    return es;
}

// Cuts an elementary stream into chunks with the given counters (zero-padded last chunk).
Bytes chunks(const Bytes& es, const std::vector<uint32_t>& counters)
{
    Bytes out;
    for (size_t i = 0; i < counters.size(); ++i) {
        const size_t at = i * ChunkMuxer::kChunkPayload;
        const size_t n =
            at < es.size() ? std::min<size_t>(ChunkMuxer::kChunkPayload, es.size() - at) : 0;
        auto c =
            ChunkMuxer::chunk(counters[i], 352, 288, 25, es.data() + std::min(at, es.size()), n);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

}   // namespace

TEST(ChunkContainer, ReassemblesFramesWithAudioInStreamOrder)
{
    const auto frames = esFrames(9);
    ChunkMuxer mux(352, 288, 25, 100);
    const Bytes audio(160, 0x66);
    for (const auto& f : frames) {
        mux.addVideo(f);
        mux.addAudio(7, 2, audio);
    }
    mux.addVideo(W::vop(false, 8));
    mux.flush();
    const Bytes stream = mux.take();
    Container c;
    auto got = feedParser(c.parser, stream, {3000});
    auto video = videoOnly(got);
    ASSERT_EQ(video.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(video[i].payload, frames[i]) << i;
        EXPECT_EQ(video[i].subtype, i % 4 == 0 ? 0 : 1) << i;
    }
    int audioCount = 0;
    for (const auto& t : got) {
        if (t.kind != 2)
            continue;
        ++audioCount;
        EXPECT_EQ(t.payload, audio);
        EXPECT_EQ(t.sampleRate, 8000);
        EXPECT_EQ(t.bitsPerSample, 8);
    }
    EXPECT_EQ(audioCount, static_cast<int>(frames.size()));
    // An audio packet is written when its frame's last chunk is still being filled, so it
    // comes out before that frame.
    EXPECT_EQ(got.front().kind, 2);
}

TEST(ChunkContainer, KeyFrameTakesThePictureOfTheChunkWithItsStartCode)
{
    ChunkMuxer mux(352, 288, 25, 1);
    const Bytes lead = W::vop(false, 1020);   // exactly chunk 1
    const Bytes key = W::keyFrame(vol(176, 144), 0, 0, 0, 2600);
    mux.addVideo(lead);
    mux.setPicture(704, 576, 12);   // the key frame's headers and VOP code: chunk 2
    mux.addVideo(Bytes(key.begin(), key.begin() + 1024));
    mux.setPicture(176, 144, 5);
    mux.addVideo(Bytes(key.begin() + 1024, key.end()));
    mux.addVideo(W::vop(false, 4));
    mux.flush();
    Container c;
    auto got = feedParser(c.parser, mux.take(), {1040});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].payload, key);   // the key frame spans three chunks and comes out once
    EXPECT_EQ(got[1].width, 704);
    EXPECT_EQ(got[1].height, 576);
    EXPECT_EQ(got[1].frameRate, 12);
}

TEST(ChunkContainer, CounterRepeatIsKeptGapRestarts)
{
    // A frame of ~3 chunks behind a key frame; counters 7, 8, 8, 9 feed every chunk.
    const Bytes key = W::keyFrame(vol(352, 288), 0, 0, 0, 300);
    const Bytes p = W::vop(false, 2500, 0x31);
    const Bytes es = cat({key, p, W::vop(false, 1000)});
    {
        Container c;
        auto got = videoOnly(feedParser(c.parser, chunks(es, {7, 8, 9, 10}), {}));
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[1].payload, p);
    }
    {
        Container c;
        auto got = videoOnly(feedParser(c.parser, chunks(es, {7, 8, 8, 9}), {}));
        ASSERT_EQ(got.size(), 2u);   // the repeated counter is fed like any other chunk
        EXPECT_EQ(got[0].payload, key);
        EXPECT_EQ(got[1].payload.size(), p.size());
    }
    {
        // 7, 9: the second chunk is dropped with the frame being collected; collection starts
        // again at 10 and waits for a key frame. The key frame finished in chunk 7 stays.
        const Bytes es2 = cat({key, p, W::vop(false, 600, 0x32),
                               W::keyFrame(vol(352, 288), 0, 0, 1, 500), W::vop(false, 2000)});
        Container c;
        auto got = feedParser(c.parser, chunks(es2, {7, 9, 10, 11, 12, 13}), {});
        ASSERT_GE(got.size(), 3u);
        EXPECT_EQ(got[0].payload, key);
        EXPECT_EQ(got[1].payloadLength, 0);   // the P frame after the gap, before a key frame
        EXPECT_EQ(got[2].subtype, 0);
        EXPECT_EQ(got[2].payload, W::keyFrame(vol(352, 288), 0, 0, 1, 500));
        EXPECT_EQ(c.parser.chunkCounter(), 13u);
    }
}

TEST(ChunkContainer, AnyBlockSplitGivesTheSameFrames)
{
    const auto frames = esFrames(6);
    ChunkMuxer mux(352, 288, 25, 5);
    for (const auto& f : frames) {
        mux.addVideo(f);
        mux.addAudio(2, 7, Bytes(288, 3));
    }
    mux.addVideo(W::vop(false, 8));
    mux.flush();
    const Bytes stream = mux.take();
    Container whole;
    const auto reference = feedParser(whole.parser, stream, {});
    ASSERT_EQ(videoOnly(reference).size(), frames.size());
    std::mt19937 rng(3);
    for (int round = 0; round < 30; ++round) {
        Container c;
        auto got = feedParser(c.parser, stream, randomSizes(rng, 2000, 1500));
        ASSERT_EQ(got.size(), reference.size()) << round;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, reference[i].kind);
            EXPECT_EQ(got[i].payload, reference[i].payload) << round << " " << i;
        }
    }
}

TEST(ChunkContainer, NextKeyFrameComesFromTheInnerSplitter)
{
    const auto frames = esFrames(6);
    ChunkMuxer mux(352, 288, 25, 1);
    mux.addVideo(joined(frames));
    mux.addVideo(W::vop(false, 8));
    mux.flush();
    const Bytes stream = mux.take();
    Container c;
    c.parser.input(stream.data(), static_cast<int>(stream.size()));
    MediaFrame* k = c.parser.nextKeyFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(Bytes(k->payload, k->payload + k->payloadLength), frames[0]);
    k = c.parser.nextKeyFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(Bytes(k->payload, k->payload + k->payloadLength), frames[4]);
    EXPECT_EQ(c.parser.nextFrame()->payloadLength, static_cast<int>(frames[5].size()));
}

TEST(ChunkContainer, ChosenByTheProbeAndGarbageIsHarmless)
{
    ChunkMuxer mux(352, 288, 25, 1);
    mux.addVideo(joined(esFrames(5)));
    mux.addVideo(W::vop(false, 8));
    mux.flush();
    Bytes stream = mux.take();
    for (size_t block : {size_t(4096), size_t(1), size_t(3), size_t(17)}) {
        StreamDemuxer d;
        auto got = feedDemuxer(d, stream, block);
        EXPECT_EQ(d.format(), StreamFormat::Chunk) << block;
        EXPECT_EQ(videoOnly(got).size(), 5u) << block;
    }

    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        Bytes bad = stream;
        for (int k = 0; k < 40; ++k)
            bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
        Container c;
        auto f = feedParser(c.parser, bad, randomSizes(rng, 500, 900));
        for (const auto& t : f)
            EXPECT_GE(t.payloadLength, 0);
    }
}
