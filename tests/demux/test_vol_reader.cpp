// Bit reader and MPEG-4 layer header reader.
#include "demux/BitReader.h"
#include "demux/VolReader.h"
#include "testkit/Mpeg4EsWriter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kevra;
using Bytes = std::vector<uint8_t>;
using Vol = Mpeg4EsWriter::Vol;

namespace {

struct VolResult {
    int result = 99, width = -1, height = -1, rate = -1;
};

VolResult readVol(const Bytes& b, int limit = -1)
{
    VolResult r;
    r.result = VolReader::read(b.data(), limit < 0 ? static_cast<int>(b.size()) : limit,
                               static_cast<int>(b.size()), &r.width, &r.height, &r.rate);
    return r;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}   // namespace

TEST(BitReader, PeekSkipAcrossWordsAndOverrun)
{
    const Bytes b{0xA5, 0xF0, 0x0F, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    BitReader br(b.data(), static_cast<int>(b.size()));
    EXPECT_EQ(br.peek(4), 0xAu);
    EXPECT_EQ(br.peek(32), 0xA5F00F12u);
    br.skip(4);
    EXPECT_EQ(br.read(8), 0x5Fu);
    br.skip(40);   // across the word boundary
    EXPECT_EQ(br.consumed(), 6);
    EXPECT_EQ(br.read(12), 0x89Au);
    EXPECT_FALSE(br.overrun());
    EXPECT_EQ(br.peek(16), 0xBC00u);   // eight bits past the end read as 0
    EXPECT_TRUE(br.overrun());
}

TEST(VolReader, TimeIncrementWidth)
{
    EXPECT_EQ(VolReader::timeIncrementBits(0), 1);
    EXPECT_EQ(VolReader::timeIncrementBits(1), 1);
    EXPECT_EQ(VolReader::timeIncrementBits(2), 1);
    EXPECT_EQ(VolReader::timeIncrementBits(25), 5);
    EXPECT_EQ(VolReader::timeIncrementBits(30000), 15);
    EXPECT_EQ(VolReader::timeIncrementBits(65535), 16);
}

TEST(VolReader, SimpleLayerWithAndWithoutVbvParameters)
{
    Vol v;
    VolResult r = readVol(Mpeg4EsWriter::videoObjectLayer(v));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 352);
    EXPECT_EQ(r.height, 288);
    EXPECT_EQ(r.rate, 25);

    // The 79-bit VBV block must be skipped exactly, or the size comes out wrong.
    v.controlParameters = true;
    v.vbvParameters = true;
    v.width = 704;
    v.height = 576;
    v.resolution = 30000;
    v.fixedRate = true;
    v.fixedIncrement = 1001;
    r = readVol(Mpeg4EsWriter::videoObjectLayer(v));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 704);
    EXPECT_EQ(r.height, 576);
    EXPECT_EQ(r.rate, 30000);

    // Layer identifier, extended aspect ratio and grayscale-extension-free shapes.
    v = Vol{};
    v.layerIdentifier = true;
    v.verid = 2;
    v.aspect = 15;
    v.width = 176;
    v.height = 144;
    r = readVol(Mpeg4EsWriter::videoObjectLayer(v));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 176);
    EXPECT_EQ(r.height, 144);

    // The advanced simple object (what encoders write for B-VOPs) has the same layout.
    v.typeIndication = VolReader::kAdvancedSimpleObject;
    v.width = 640;
    v.height = 480;
    r = readVol(Mpeg4EsWriter::videoObjectLayer(v));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 640);
    EXPECT_EQ(r.height, 480);
}

TEST(VolReader, WalksOverLeadingHeadersAndStopsAtPictureData)
{
    Vol v;
    v.width = 640;
    v.height = 480;
    const Bytes full = Mpeg4EsWriter::keyFrame(v, 10, 31, 42, 20);
    VolResult r = readVol(full);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 640);
    EXPECT_EQ(r.height, 480);

    const Bytes vopFirst = cat({Mpeg4EsWriter::visualObjectSequence(), Mpeg4EsWriter::vop(true, 8),
                                Mpeg4EsWriter::videoObjectLayer(v)});
    EXPECT_EQ(readVol(vopFirst).result, -1);

    // A visual object that is not video is refused.
    Bytes still = Mpeg4EsWriter::visualObject();
    still[4] = 0x11;   // identifier 0, type 2 (still texture)
    EXPECT_EQ(readVol(cat({still, Mpeg4EsWriter::videoObjectLayer(v)})).result, -1);
}

TEST(VolReader, RejectedLayers)
{
    Vol v;
    v.typeIndication = 2;
    VolResult r = readVol(Mpeg4EsWriter::videoObjectLayer(v));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.rate, -1);   // nothing written before the refusal

    v = Vol{};
    v.shape = 1;   // binary shape: the rate is read, the size is not
    v.resolution = 15;
    r = readVol(Mpeg4EsWriter::videoObjectLayer(v));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.rate, 15);
    EXPECT_EQ(r.width, -1);
}

TEST(VolReader, BinaryOnlyShapeGoesOnToTheNextLayer)
{
    Vol binary;
    binary.shape = 2;
    binary.resolution = 10;
    Vol rect;
    rect.width = 320;
    rect.height = 240;
    rect.resolution = 30;
    VolResult r = readVol(
        cat({Mpeg4EsWriter::videoObjectLayer(binary), Mpeg4EsWriter::videoObjectLayer(rect)}));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 320);
    EXPECT_EQ(r.rate, 30);
}

TEST(VolReader, WindowLimitAndDataEnd)
{
    Vol v;
    const Bytes layer = Mpeg4EsWriter::videoObjectLayer(v);
    // 100 bytes of user data (start code + 6 bytes each walked as one step) before the layer.
    Bytes lead;
    for (int i = 0; i < 10; ++i) {
        Bytes user{0x00, 0x00, 0x01, 0xB2, 'L', 'a', 'v', 'c', '5', '9'};
        lead.insert(lead.end(), user.begin(), user.end());
    }
    EXPECT_EQ(readVol(cat({lead, layer}), 100).result, -1);
    // A layer that begins inside the window is read to its end.
    Bytes shortLead(lead.begin(), lead.begin() + 90);
    VolResult r = readVol(cat({shortLead, layer}), 100);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.width, 352);

    // Truncated layer: reads stop at the bytes present.
    for (size_t n = 0; n < layer.size(); ++n) {
        Bytes cut(layer.begin(), layer.begin() + n);
        r = readVol(cut, 100);
        if (n < 10) {
            EXPECT_EQ(r.result, -1) << n;
        }
    }
    EXPECT_EQ(VolReader::read(nullptr, 100, 0, nullptr, nullptr, nullptr), -1);
}
