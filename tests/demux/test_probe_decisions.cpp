// Format recognition: evidence of each format, the priority order, the 51,200-byte rule,
// the provisional audio-only format, the AVI header read and the demultiplexer's control.
#include "DemuxTestSupport.h"

#include "demux/FormatProbe.h"
#include "testkit/ChunkMuxer.h"
#include "testkit/KxavMuxer.h"
#include "testkit/PacketMuxer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kevra;
using namespace kevra::demuxtest;

namespace {

std::vector<uint8_t> keyHeader(int code, int width, int height, int fps)
{
    const auto body = payloadBytes(8, 7);
    return PacketMuxer::keyPacket(code, body.data(), body.size(), width, height, fps, 0, 1);
}

std::vector<uint8_t> chunkHeader()
{
    const auto body = payloadBytes(ChunkMuxer::kChunkPayload, 3);
    return ChunkMuxer::chunk(1, 352, 288, 25, body.data(), body.size());
}

void put(std::vector<uint8_t>& block, size_t at, const std::vector<uint8_t>& bytes)
{
    ASSERT_LE(at + bytes.size(), block.size());
    std::copy(bytes.begin(), bytes.end(), block.begin() + at);
}

int probeFormat(const std::vector<uint8_t>& block)
{
    StreamDemuxer d;
    const int result = d.feed(block.data(), static_cast<int>(block.size()));
    return result < 0 ? -1 : recordCode(d.format());
}

void le32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = uint8_t(x >> (8 * i));
}

// RIFF/AVI header with an avih chunk and, optionally, an audio stream format.
std::vector<uint8_t> aviHeader(uint32_t period, uint32_t width, uint32_t height, bool audio,
                               uint16_t blockAlign, uint32_t rate)
{
    std::vector<uint8_t> v(400, 0);
    std::memcpy(v.data(), "RIFF", 4);
    std::memcpy(v.data() + 8, "AVI LIST", 8);
    std::memcpy(v.data() + 20, "hdrlavih", 8);
    le32(v, 28, 56);
    le32(v, 32, period);   // 4 bytes after the tag
    le32(v, 64, width);    // 36 after
    le32(v, 68, height);   // 40 after
    if (audio) {
        std::memcpy(v.data() + 200, "strh", 4);
        std::memcpy(v.data() + 208, "auds", 4);
        std::memcpy(v.data() + 260, "strf", 4);
        le32(v, 264, 18);
        v[268] = 1;                     // PCM
        v[270] = 1;                     // channels
        le32(v, 272, rate);             // 8 bytes after the tag
        v[280] = uint8_t(blockAlign);   // 16 bytes after the tag
        v[281] = uint8_t(blockAlign >> 8);
    }
    return v;
}

const uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kAsfVideo[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                               0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const uint8_t kAsfAudio[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                               0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

// ASF header object, file properties with the packet size, one stream properties object.
std::vector<uint8_t> asfHeader(uint32_t packetSize, const uint8_t* mediaGuid, int streamNumber)
{
    std::vector<uint8_t> v(600, 0);
    std::memcpy(v.data(), kAsfHeader, 16);
    le32(v, 122, packetSize);
    if (mediaGuid) {
        const size_t sp = 200;   // stream properties object: type GUID at +24, flags at +72
        std::memcpy(v.data() + sp + 24, mediaGuid, 16);
        v[sp + 72] = uint8_t(streamNumber);
    }
    return v;
}

}   // namespace

TEST(ProbeDecision, PriorityBeatsPosition)
{
    std::vector<uint8_t> block = payloadBytes(30000, 1);
    put(block, 100, keyHeader(0xFD, 352, 288, 25));
    put(block, 10100, keyHeader(0xFD, 352, 288, 25));
    put(block, 25000, chunkHeader());
    EXPECT_EQ(probeFormat(block), 5);

    // KXAV before packet stream before program stream before elementary stream.
    std::vector<uint8_t> mixed = payloadBytes(4000, 2);
    put(mixed, 10, {0, 0, 1, 0xB6});
    put(mixed, 100, {0, 0, 1, 0xBA});
    put(mixed, 300, keyHeader(0xFD, 352, 288, 25));
    KxavMuxer kx;
    put(mixed, 2000, kx.videoFrame(payloadBytes(10, 3), true, 8, 352, 288, 25, 0));
    EXPECT_EQ(probeFormat(mixed), 8);
    put(mixed, 2000, payloadBytes(60, 4));
    EXPECT_EQ(probeFormat(mixed), 4);
    put(mixed, 300, payloadBytes(30, 5));
    EXPECT_EQ(probeFormat(mixed), 7);
    put(mixed, 100, payloadBytes(4, 6));
    StreamDemuxer d;
    EXPECT_EQ(d.feed(mixed.data(), static_cast<int>(mixed.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::Mpeg4Es);
    EXPECT_EQ(d.vopCount(), 0);   // counted, then cleared when the stream parser is chosen
}

TEST(ProbeDecision, VopStartCodesAreCountedWhenAnotherFormatWins)
{
    std::vector<uint8_t> block = payloadBytes(2000, 1);
    put(block, 10, {0, 0, 1, 0xB6});
    put(block, 500, {0, 0, 1, 0xB6});
    put(block, 900, {0, 0, 1, 0xB6});
    put(block, 1000, keyHeader(0xFD, 352, 288, 25));
    StreamDemuxer d;
    ASSERT_EQ(d.feed(block.data(), static_cast<int>(block.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::Packet);
    EXPECT_EQ(d.vopCount(), 3);
}

TEST(ProbeDecision, EvidenceAfter51200BytesEndsTheScan)
{
    std::vector<uint8_t> late = payloadBytes(60000, 1);
    put(late, 52000, keyHeader(0xFD, 352, 288, 25));
    put(late, 55000, chunkHeader());
    EXPECT_EQ(probeFormat(late), 4);

    std::vector<uint8_t> early = payloadBytes(60000, 1);
    put(early, 40000, keyHeader(0xFD, 352, 288, 25));
    put(early, 55000, chunkHeader());
    EXPECT_EQ(probeFormat(early), 5);

    // The code that ends exactly at byte 51200 is still judged with the whole block.
    std::vector<uint8_t> edge = payloadBytes(60000, 1);
    put(edge, 51200 - 4, keyHeader(0xFD, 352, 288, 25));
    put(edge, 55000, chunkHeader());
    EXPECT_EQ(probeFormat(edge), 5);

    // Late audio-only evidence ends the scan too.
    std::vector<uint8_t> audio = payloadBytes(60000, 1);
    put(audio, 52000, PacketMuxer::audioPacket(payloadBytes(16, 2), 10, 2));
    put(audio, 53000, keyHeader(0xFD, 352, 288, 25));
    EXPECT_EQ(probeFormat(audio), 6);
}

TEST(ProbeDecision, KeyFrameSizeChecks)
{
    std::vector<uint8_t> block = payloadBytes(200, 1);
    put(block, 10, keyHeader(0xFD, 1984, 288, 25));
    EXPECT_EQ(probeFormat(block), -1);
    put(block, 10, keyHeader(0xFB, 352, 288, 0));
    EXPECT_EQ(probeFormat(block), -1);
    put(block, 10, keyHeader(0xFB, 1920, 1216, 100));
    EXPECT_EQ(probeFormat(block), 4);
    // The same bytes under the dependent-frame code are taken without checks.
    std::vector<uint8_t> dep = payloadBytes(200, 1);
    put(dep, 10, keyHeader(0xFD, 1984, 288, 25));
    dep[13] = 0xFA;
    EXPECT_EQ(probeFormat(dep), 4);
    // Fewer than 12 bytes after the code are not enough.
    std::vector<uint8_t> shortTail = payloadBytes(20, 1);
    put(shortTail, 20 - 15, {0, 0, 1, 0xFA});
    EXPECT_EQ(probeFormat(shortTail), -1);
}

TEST(ProbeDecision, ChunkHeaderSizeChecks)
{
    for (auto [w, h, fps, expected] :
         {std::tuple{352, 288, 25, 5}, {720, 576, 1, 5}, {640, 480, 25, -1}, {352, 288, 0, -1}}) {
        std::vector<uint8_t> block = payloadBytes(1500, 1);
        const auto body = payloadBytes(1024, 2);
        put(block, 10, ChunkMuxer::chunk(1, w, h, fps, body.data(), body.size()));
        EXPECT_EQ(probeFormat(block), expected) << w << "x" << h << "@" << fps;
    }
}

TEST(ProbeDecision, RiffAviDecidesAtOnce)
{
    std::vector<uint8_t> block = payloadBytes(3000, 1);
    put(block, 0, aviHeader(40000, 352, 288, false, 0, 0));
    put(block, 1000, chunkHeader());
    EXPECT_EQ(probeFormat(block), 1);
    // Chunk evidence before the AVI header still has the higher priority.
    std::vector<uint8_t> chunkFirst = payloadBytes(3000, 1);
    put(chunkFirst, 0, chunkHeader());
    put(chunkFirst, 1500, aviHeader(40000, 352, 288, false, 0, 0));
    EXPECT_EQ(probeFormat(chunkFirst), 5);
    // "RIFF" without "AVI " is nothing.
    std::vector<uint8_t> wave = payloadBytes(100, 1);
    put(wave, 0, {'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    EXPECT_EQ(probeFormat(wave), -1);
}

TEST(ProbeDecision, AviHeaderTemplate)
{
    MediaFrame t{};
    auto h = aviHeader(40000, 704, 576, true, 2, 16000);
    FormatProbe::readAviHeader(h.data(), static_cast<int>(h.size()), 4, &t);
    EXPECT_EQ(t.frameRate, 25);
    EXPECT_EQ(t.width, 704);
    EXPECT_EQ(t.height, 576);
    EXPECT_EQ(t.bitsPerSample, 16);
    EXPECT_EQ(t.sampleRate, 16000);

    // A frame period of 0 must not fault; the stream then plays at the default rate.
    h = aviHeader(0, 352, 288, true, 3, 96000);
    FormatProbe::readAviHeader(h.data(), static_cast<int>(h.size()), 4, &t);
    EXPECT_EQ(t.frameRate, FormatProbe::kDefaultAviRate);
    EXPECT_EQ(t.bitsPerSample, 8);   // 24 bits is not a choice
    EXPECT_EQ(t.sampleRate, 8000);   // above 48000

    h = aviHeader(33366, 352, 288, false, 0, 0);
    FormatProbe::readAviHeader(h.data(), static_cast<int>(h.size()), 4, &t);
    EXPECT_EQ(t.frameRate, 29);
    EXPECT_EQ(t.bitsPerSample, 8);
    EXPECT_EQ(t.sampleRate, 8000);

    // The header cut short inside avih: only what is in the block is read.
    for (int n = 20; n <= 80; ++n) {
        std::vector<uint8_t> cut(h.begin(), h.begin() + n);
        MediaFrame u{};
        FormatProbe::readAviHeader(cut.data(), n, 4, &u);
        if (n < 36) {
            EXPECT_EQ(u.frameRate, 0) << n;
        }
        if (n < 72) {
            EXPECT_EQ(u.width, 0) << n;
        }
    }
}

TEST(ProbeDecision, AsfHeaderAndMediaGuids)
{
    {
        auto h = asfHeader(3200, kAsfVideo, 2);
        const auto ev = FormatProbe::scan(h.data(), static_cast<int>(h.size()));
        EXPECT_TRUE(ev.asf);
        EXPECT_EQ(ev.asfPacketSize, 3200);
        EXPECT_EQ(ev.asfVideoStream, 2);
        EXPECT_EQ(FormatProbe::choose(ev), StreamFormat::Asf);
        EXPECT_EQ(probeFormat(h), 9);
    }
    {
        auto h = asfHeader(1024, kAsfAudio, 1);
        const auto ev = FormatProbe::scan(h.data(), static_cast<int>(h.size()));
        EXPECT_EQ(ev.asfVideoStream, 2);   // audio is stream 1, so video is stream 2
        auto h2 = asfHeader(1024, kAsfAudio, 3);
        EXPECT_EQ(FormatProbe::scan(h2.data(), static_cast<int>(h2.size())).asfVideoStream, 1);
    }
    {
        auto h = asfHeader(1024, nullptr, 0);
        const auto ev = FormatProbe::scan(h.data(), static_cast<int>(h.size()));
        EXPECT_TRUE(ev.asf);
        EXPECT_EQ(ev.asfVideoStream, 1);
        // The header object needs 131 bytes after its first four.
        std::vector<uint8_t> cut(h.begin(), h.begin() + 134);
        EXPECT_FALSE(FormatProbe::scan(cut.data(), static_cast<int>(cut.size())).asf);
        std::vector<uint8_t> enough(h.begin(), h.begin() + 135);
        EXPECT_TRUE(FormatProbe::scan(enough.data(), static_cast<int>(enough.size())).asf);
    }
    {
        // A media GUID without the header object first is nothing.
        auto h = asfHeader(1024, kAsfVideo, 1);
        std::memset(h.data(), 0x55, 16);
        EXPECT_EQ(probeFormat(h), -1);
    }
}

TEST(ProbeDecision, AudioOnlyIsProvisional)
{
    StreamDemuxer d;
    auto audio = PacketMuxer::audioPacket(payloadBytes(100, 1), 10, 2);
    append(audio, PacketMuxer::audioPacket(payloadBytes(100, 2), 10, 2));
    ASSERT_EQ(d.feed(audio.data(), static_cast<int>(audio.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::PacketAudioOnly);
    const FrameParser* first = d.parser();
    EXPECT_EQ(drain(d).size(), 2u);

    // More audio: the same parser stays, with what it collected.
    ASSERT_EQ(d.feed(audio.data(), static_cast<int>(audio.size())), 0);
    EXPECT_EQ(d.parser(), first);
    EXPECT_EQ(d.format(), StreamFormat::PacketAudioOnly);
    // A block without evidence still goes to the provisional parser.
    auto tail = payloadBytes(50, 3);
    EXPECT_EQ(d.feed(tail.data(), static_cast<int>(tail.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::PacketAudioOnly);

    // Key frames switch to the packet stream for good.
    PacketMuxer mux;
    auto video = mux.keyFrame(payloadBytes(100, 4), 352, 288, 25, 0);
    append(video, mux.dependentFrame(payloadBytes(100, 5)));
    ASSERT_EQ(d.feed(video.data(), static_cast<int>(video.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::Packet);
    const auto got = drain(d);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payload, payloadBytes(100, 4));
}

TEST(ProbeDecision, NoEvidenceChangesNothing)
{
    StreamDemuxer d;
    const auto junk = payloadBytes(5000, 1);
    EXPECT_EQ(d.feed(junk.data(), static_cast<int>(junk.size())), -1);
    EXPECT_EQ(d.format(), StreamFormat::None);
    EXPECT_EQ(d.parser(), nullptr);
    EXPECT_EQ(d.feed(junk.data(), 0), -1);

    auto video = keyHeader(0xFD, 352, 288, 25);
    ASSERT_EQ(d.feed(video.data(), static_cast<int>(video.size())), 0);
    const FrameParser* p = d.parser();
    EXPECT_EQ(d.control(0, StreamFormat::None),
              0);   // back to "no format"; the parser stays for now
    EXPECT_EQ(d.format(), StreamFormat::None);
    EXPECT_EQ(d.nextFrame(), nullptr);
    EXPECT_EQ(d.feed(junk.data(), static_cast<int>(junk.size())), -1);
    EXPECT_EQ(d.parser(), p);
    ASSERT_EQ(d.feed(video.data(), static_cast<int>(video.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::Packet);
}

TEST(ProbeDecision, ConstructionAndControl)
{
    for (int f : {1, 3, 4, 5}) {
        StreamDemuxer d{StreamFormat(f)};
        EXPECT_EQ(d.format(), StreamFormat(f));
        EXPECT_NE(d.parser(), nullptr);
    }
    for (int f : {0, 2, 6, 7, 8, 9, -1}) {
        StreamDemuxer d{StreamFormat(f)};
        EXPECT_EQ(d.format(), StreamFormat::None);
        EXPECT_EQ(d.parser(), nullptr);
    }
    {
        StreamDemuxer d;
        EXPECT_EQ(d.control(1, StreamFormat::None), -1);
        EXPECT_EQ(d.control(0, StreamFormat::Packet), -1);   // chooses format 4 all the same
        EXPECT_EQ(d.format(), StreamFormat::Packet);
        ASSERT_NE(d.parser(), nullptr);
        EXPECT_EQ(d.control(1, StreamFormat::None), 0);
        const FrameParser* before = d.parser();
        EXPECT_EQ(d.control(0, StreamFormat::Packet), 0);
        EXPECT_NE(d.parser(), nullptr);
        EXPECT_EQ(d.format(), StreamFormat::Packet);
        (void)before;
        EXPECT_EQ(d.control(0, StreamFormat::ProgramStream), 0);
        EXPECT_EQ(d.format(), StreamFormat::None);
    }
    {
        // A forced format is not probed: the first block goes to the parser as it is.
        StreamDemuxer d(StreamFormat::Packet);
        auto audio = PacketMuxer::audioPacket(payloadBytes(20, 1), 10, 2);
        ASSERT_EQ(d.feed(audio.data(), static_cast<int>(audio.size())), 0);
        EXPECT_EQ(d.format(), StreamFormat::Packet);
    }
}
