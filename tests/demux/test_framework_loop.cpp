// The generic input loop, the record pool and the record validity rules, exercised through
// the packet-stream parser (the simplest format that uses the loop).
#include "DemuxTestSupport.h"

#include "demux/FramePool.h"
#include "demux/PacketParser.h"
#include "demux/StreamDemuxer.h"
#include "testkit/PacketMuxer.h"

#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::demuxtest;

namespace {

struct Rig {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(FrameParser::kWorkBufferSize);
    PacketParser parser{buffer.data(), buffer.size()};
    bool inBuffer(const uint8_t* p) const
    {
        return p >= buffer.data() && p < buffer.data() + buffer.size();
    }
};

// Key frame, two dependent frames, audio, auxiliary, key frame.
std::vector<uint8_t> mixedStream()
{
    PacketMuxer mux;
    std::vector<uint8_t> s;
    append(s, mux.keyFrame(payloadBytes(40, 1), 352, 288, 25, 0));
    append(s, mux.dependentFrame(payloadBytes(17, 2)));
    append(s, PacketMuxer::audioPacket(payloadBytes(20, 3), 10, 2));
    append(s, mux.dependentFrame(payloadBytes(33, 4)));
    const auto aux = payloadBytes(9, 5);
    append(s, PacketMuxer::auxPacket(aux.data(), aux.size()));
    append(s, mux.keyFrame(payloadBytes(25, 6), 704, 576, 30, 0));
    return s;
}

void expectSame(const std::vector<Taken>& a, const std::vector<Taken>& b, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].kind, b[i].kind) << what << " record " << i;
        EXPECT_EQ(a[i].subtype, b[i].subtype) << what << " record " << i;
        EXPECT_EQ(a[i].payloadLength, b[i].payloadLength) << what << " record " << i;
        EXPECT_EQ(a[i].packetLength, b[i].packetLength) << what << " record " << i;
        EXPECT_EQ(a[i].payload, b[i].payload) << what << " record " << i;
    }
}

}   // namespace

TEST(FrameworkLoop, WholeStreamInOneBlock)
{
    Rig rig;
    const auto s = mixedStream();
    const auto got = feedInBlocks(rig.parser, s, {s.size()});
    // The last key frame has nothing after it: it is complete and delivered.
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].payload, payloadBytes(40, 1));
    EXPECT_EQ(got[2].kind, 2);
    EXPECT_EQ(got[4].kind, 3);
    EXPECT_EQ(got[5].payload, payloadBytes(25, 6));
}

TEST(FrameworkLoop, EverySplitIntoTwoAndThreeBlocksGivesTheSameFrames)
{
    const auto s = mixedStream();
    Rig whole;
    const auto expected = feedInBlocks(whole.parser, s, {s.size()});
    for (size_t a = 1; a < s.size(); ++a) {
        Rig rig;
        expectSame(feedInBlocks(rig.parser, s, {a}), expected, "two blocks");
    }
    for (size_t a = 1; a < s.size(); a += 3) {
        for (size_t b = 1; a + b < s.size(); b += 2) {
            Rig rig;
            expectSame(feedInBlocks(rig.parser, s, {a, b}), expected, "three blocks");
        }
    }
}

TEST(FrameworkLoop, FrameSplitOverThreeBlocksComesOutWholeFromTheWorkBuffer)
{
    Rig rig;
    PacketMuxer mux;
    const auto body = payloadBytes(3000, 9);
    auto s = mux.keyFrame(body, 352, 288, 25, 0);
    append(s, mux.dependentFrame(payloadBytes(100, 10)));

    EXPECT_EQ(rig.parser.input(s.data(), 1000), 0);
    EXPECT_EQ(rig.parser.nextFrame(), nullptr);
    EXPECT_EQ(rig.parser.input(s.data() + 1000, 1000), 0);
    EXPECT_EQ(rig.parser.nextFrame(), nullptr);
    std::vector<uint8_t> third(s.begin() + 2000, s.begin() + 3020);
    EXPECT_EQ(rig.parser.input(third.data(), static_cast<int>(third.size())), 0);
    const MediaFrame* r = rig.parser.nextFrame();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->payloadLength, 3000);
    EXPECT_EQ(r->packetLength, 3016);
    EXPECT_TRUE(rig.inBuffer(r->packetStart));
    EXPECT_TRUE(rig.inBuffer(r->payload));
    EXPECT_EQ(r->payload, r->packetStart + 16);
    EXPECT_EQ(std::vector<uint8_t>(r->payload, r->payload + 3000), body);
    EXPECT_EQ(rig.parser.nextFrame(), nullptr);
}

TEST(FrameworkLoop, FramesInsideOneBlockPointIntoTheBlock)
{
    Rig rig;
    PacketMuxer mux;
    auto s = mux.keyFrame(payloadBytes(500, 1), 352, 288, 25, 0);
    append(s, mux.dependentFrame(payloadBytes(100, 2)));
    ASSERT_EQ(rig.parser.input(s.data(), static_cast<int>(s.size())), 0);
    const MediaFrame* r = rig.parser.nextFrame();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->packetStart, s.data());
    EXPECT_EQ(r->payload, s.data() + 16);
}

TEST(FrameworkLoop, RecordsNotTakenBeforeTheNextFeedAreNeverHandedOut)
{
    StreamDemuxer d(StreamFormat::Packet);
    PacketMuxer mux;
    std::vector<uint8_t> first;
    append(first, mux.keyFrame(payloadBytes(30, 1), 352, 288, 25, 0));
    append(first, mux.dependentFrame(payloadBytes(31, 2)));
    append(first, mux.dependentFrame(payloadBytes(32, 3)));
    append(first, mux.dependentFrame(payloadBytes(33, 4)));
    ASSERT_EQ(d.feed(first.data(), static_cast<int>(first.size())), 0);
    const MediaFrame* r = d.nextFrame();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->payloadLength, 30);
    EXPECT_EQ(d.parser()->readyCount(), 3);

    auto second = mux.dependentFrame(payloadBytes(44, 5));
    ASSERT_EQ(d.feed(second.data(), static_cast<int>(second.size())), 0);
    const auto got = drain(d);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payloadLength, 44);
}

TEST(FrameworkLoop, NextKeyFrameSkipsToTheKeyAndLeavesTheRestQueued)
{
    StreamDemuxer d(StreamFormat::Packet);
    PacketMuxer mux;
    std::vector<uint8_t> s;
    append(s, mux.dependentFrame(payloadBytes(10, 1)));
    append(s, mux.dependentFrame(payloadBytes(11, 2)));
    append(s, mux.keyFrame(payloadBytes(12, 3), 352, 288, 25, 0));
    append(s, mux.dependentFrame(payloadBytes(13, 4)));
    ASSERT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    const MediaFrame* k = d.nextKeyFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->subtype, 0);
    EXPECT_EQ(k->payloadLength, 12);
    EXPECT_EQ(d.parser()->readyCount(), 1);
    const MediaFrame* p = d.nextFrame();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->payloadLength, 13);
    EXPECT_EQ(d.nextKeyFrame(), nullptr);
}

TEST(FrameworkLoop, NextKeyFrameIgnoresAudioRecordsThatReuseAKeyFrameRecord)
{
    // Audio packets do not set subtype, so a reused record keeps 0 from an earlier key frame;
    // such a record must not be taken for a key frame.
    StreamDemuxer d(StreamFormat::Packet);
    PacketMuxer mux;
    std::vector<uint8_t> keys;
    for (int i = 0; i < FramePool::kInitialRecords; ++i)
        append(keys, mux.keyFrame(payloadBytes(20, i), 352, 288, 25, 0));
    ASSERT_EQ(d.feed(keys.data(), static_cast<int>(keys.size())), 0);
    EXPECT_EQ(drain(d).size(), size_t(FramePool::kInitialRecords));

    std::vector<uint8_t> s;
    append(s, PacketMuxer::audioPacket(payloadBytes(16, 50), 10, 2));
    append(s, mux.keyFrame(payloadBytes(21, 51), 352, 288, 25, 0));
    ASSERT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    const MediaFrame* k = d.nextKeyFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->kind, 1);
    EXPECT_EQ(k->payloadLength, 21);
}

TEST(FrameworkLoop, ResetModeTwoKeepsEverythingModeOneDropsTheFrameInProgress)
{
    PacketMuxer mux;
    std::vector<uint8_t> s;
    append(s, mux.keyFrame(payloadBytes(50, 1), 352, 288, 25, 0));
    const size_t splitFrameAt = s.size();
    append(s, mux.keyFrame(payloadBytes(400, 2), 352, 288, 25, 0));
    const size_t cut = splitFrameAt + 100;   // the second frame is in progress after block 1
    std::vector<uint8_t> tail(s.begin() + cut, s.end());
    auto next = mux.keyFrame(payloadBytes(60, 3), 352, 288, 25, 0);
    append(tail, next);

    {
        StreamDemuxer d(StreamFormat::Packet);
        ASSERT_EQ(d.feed(s.data(), static_cast<int>(cut)), 0);
        EXPECT_EQ(d.control(2, StreamFormat::None), 0);
        EXPECT_EQ(d.parser()->readyCount(), 1);
        ASSERT_EQ(d.feed(tail.data(), static_cast<int>(tail.size())), 0);
        const auto got = drain(d);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].payload, payloadBytes(400, 2));
    }
    {
        StreamDemuxer d(StreamFormat::Packet);
        ASSERT_EQ(d.feed(s.data(), static_cast<int>(cut)), 0);
        EXPECT_EQ(d.control(1, StreamFormat::None), 0);
        EXPECT_EQ(d.parser()->readyCount(), 0);
        EXPECT_EQ(d.nextFrame(), nullptr);
        ASSERT_EQ(d.feed(tail.data(), static_cast<int>(tail.size())), 0);
        const auto got = drain(d);
        ASSERT_EQ(got.size(), 1u);   // the rest of the dropped frame is skipped as garbage
        EXPECT_EQ(got[0].payload, payloadBytes(60, 3));
    }
}

TEST(FrameworkLoop, HeldBytesPlusBlockAbove512KDropEverything)
{
    StreamDemuxer d(StreamFormat::Packet);
    PacketMuxer mux;
    const int frame = 250000;   // below the 256 KB rule
    const auto big = mux.keyFrame(payloadBytes(frame, 1), 352, 288, 25, 0);
    ASSERT_EQ(d.feed(big.data(), 1016), 0);
    std::vector<uint8_t> part(big.begin() + 1016, big.begin() + 201016);
    ASSERT_EQ(d.feed(part.data(), static_cast<int>(part.size())), 0);
    EXPECT_EQ(d.parser()->heldBytes(), 201016);

    // 201016 held + 400000 new > 512 KB: the frame in progress and the block are dropped.
    std::vector<uint8_t> block(400000, 'x');
    const auto small = mux.keyFrame(payloadBytes(30, 2), 352, 288, 25, 0);
    std::copy(small.begin(), small.end(), block.begin() + 1000);
    ASSERT_EQ(d.feed(block.data(), static_cast<int>(block.size())), 0);
    EXPECT_EQ(d.nextFrame(), nullptr);
    EXPECT_EQ(d.parser()->heldBytes(), 0);
    EXPECT_EQ(d.parser()->neededBytes(), 0);

    auto again = mux.keyFrame(payloadBytes(31, 3), 352, 288, 25, 0);
    ASSERT_EQ(d.feed(again.data(), static_cast<int>(again.size())), 0);
    const auto got = drain(d);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, payloadBytes(31, 3));
}

TEST(FrameworkLoop, IncompleteFrameOf256KIsGivenUpButACompleteOneIsDelivered)
{
    PacketMuxer mux;
    const auto big = mux.keyFrame(payloadBytes(0x40000, 1), 352, 288, 25, 0);
    {
        StreamDemuxer d(StreamFormat::Packet);
        std::vector<uint8_t> head(big.begin(), big.begin() + 5000);
        ASSERT_EQ(d.feed(head.data(), static_cast<int>(head.size())), 0);
        const auto got = drain(d);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].payloadLength, 0);
        EXPECT_EQ(d.parser()->heldBytes(), 0);
        EXPECT_EQ(d.parser()->neededBytes(), 0);
    }
    {
        StreamDemuxer d(StreamFormat::Packet);
        ASSERT_EQ(d.feed(big.data(), static_cast<int>(big.size())), 0);
        const auto got = drain(d);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].payloadLength, 0x40000);
    }
    {
        // One byte less than the limit is carried over to the next block.
        const auto almost = mux.keyFrame(payloadBytes(0x3FFFF, 2), 352, 288, 25, 0);
        StreamDemuxer d(StreamFormat::Packet);
        const auto got = feedInBlocks(d, almost, {5000});
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].payload, payloadBytes(0x3FFFF, 2));
    }
}

TEST(FrameworkLoop, LargestFramesAcrossBlocksNeverOverrunTheBuffer)
{
    // Frames just below 256 KB in blocks that keep held + block just under 512 KB: the second
    // block is read from the work buffer (nearly 512 KB in use) and leaves almost a whole
    // frame to keep, which goes behind the bytes in use.
    PacketMuxer mux;
    std::vector<uint8_t> s;
    for (int i = 0; i < 6; ++i)
        append(s, mux.keyFrame(payloadBytes(0x3FF00 - i * 7, 10 + i), 352, 288, 25, 0));
    StreamDemuxer d(StreamFormat::Packet);
    const size_t frame0 = 0x3FF00 + 16;
    const size_t second = (frame0 - 0x20000) + 261000;   // rest of frame 0, most of frame 1
    const auto got = feedInBlocks(
        d, s, {0x20000, second, 0x80000 - 261000, 200000, 200000, 200000, 200000, 200000});
    ASSERT_EQ(got.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(got[i].payload, payloadBytes(0x3FF00 - i * 7, 10 + i)) << i;
}

TEST(FrameworkLoop, EmptyBlocksAndGarbage)
{
    StreamDemuxer none;
    const uint8_t byte = 0;
    EXPECT_EQ(none.feed(&byte, 0), -1);
    EXPECT_EQ(none.feed(nullptr, 10), -1);
    StreamDemuxer d(StreamFormat::Packet);
    EXPECT_EQ(d.feed(&byte, 0), -1);

    // Garbage before, between and after packets is skipped.
    PacketMuxer mux;
    std::vector<uint8_t> s = payloadBytes(37, 1);
    append(s, mux.keyFrame(payloadBytes(20, 2), 352, 288, 25, 0));
    append(s, payloadBytes(50, 3));
    append(s, mux.dependentFrame(payloadBytes(21, 4)));
    append(s, payloadBytes(50, 5));
    ASSERT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    const auto got = drain(d);
    // A frame followed by garbage does not line up with a sync code: delivered empty.
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payloadLength, 0);
    EXPECT_EQ(got[1].payloadLength, 0);
}

TEST(FrameworkLoop, RejectedFrameResumesTheSearchInsideIt)
{
    // A header that declares too short a payload: the end check fails, and the scan finds the
    // packet hidden in what was taken for its payload.
    auto inner = PacketMuxer::audioPacket(payloadBytes(30, 1), 10, 2);
    std::vector<uint8_t> payload = payloadBytes(10, 2);
    append(payload, inner);
    auto s =
        PacketMuxer::keyPacket(0xFD, payload.data(), payload.size(), 352, 288, 25, 0, 1, 0, 0, 5);
    StreamDemuxer d(StreamFormat::Packet);
    ASSERT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    const auto got = drain(d);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payloadLength, 0);
    EXPECT_EQ(got[1].kind, 2);
    EXPECT_EQ(got[1].payload, payloadBytes(30, 1));
}

TEST(FramePool, StartsWithTenRecordsAndReusesThemWithoutClearing)
{
    FramePool pool;
    EXPECT_EQ(pool.freeCount(), 10);
    std::vector<MediaFrame*> taken;
    for (int i = 0; i < 12; ++i)
        taken.push_back(pool.take());
    EXPECT_EQ(pool.totalCount(), 12);
    EXPECT_EQ(taken[11]->width, 0);
    taken[0]->width = 704;
    pool.release(taken[0]);
    MediaFrame* again = pool.take();
    EXPECT_EQ(again, taken[0]);
    EXPECT_EQ(again->width, 704);
    pool.pushReady(taken[1]);
    pool.pushReady(taken[2]);
    EXPECT_EQ(pool.popReady(), taken[1]);
    pool.releaseAllReady();
    EXPECT_EQ(pool.readyCount(), 0);
    EXPECT_EQ(pool.freeCount(), 1);
}
