#include "testkit/Mpeg4EsWriter.h"

#include "testkit/BitWriter.h"

#include <cstddef>

namespace kevra {

namespace {

using Bytes = Mpeg4EsWriter::Bytes;

Bytes startCode(uint8_t code)
{
    return Bytes{0x00, 0x00, 0x01, code};
}

// A start code and the header written into `w`, stuffed to a whole byte.
Bytes header(uint8_t code, BitWriter& w)
{
    w.stuff();
    Bytes b = startCode(code);
    Mpeg4EsWriter::append(b, w.take());
    return b;
}

void putLe16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void putLe32(Bytes& b, uint32_t v)
{
    putLe16(b, v & 0xFFFF);
    putLe16(b, v >> 16);
}

void putTag(Bytes& b, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(tag[i]));
}

// An AVI chunk: tag, length, the bytes, padded to an even size.
Bytes aviChunk(const char* tag, const Bytes& data)
{
    Bytes b;
    putTag(b, tag);
    putLe32(b, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (b.size() & 1)
        b.push_back(0);
    return b;
}

void setLe32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int incrementBits(int resolution)
{
    if (resolution <= 1)
        return 1;
    int bits = 0;
    for (uint32_t v = static_cast<uint32_t>(resolution - 1); v != 0; v >>= 1)
        ++bits;
    return bits;
}

}   // namespace

Bytes Mpeg4EsWriter::visualObjectSequence(int profile)
{
    Bytes b = startCode(0xB0);
    b.push_back(static_cast<uint8_t>(profile));
    return b;
}

Bytes Mpeg4EsWriter::visualObject()
{
    BitWriter w;
    w.put(0, 1);   // is_visual_object_identifier
    w.put(1, 4);   // visual_object_type: video
    w.put(0, 1);   // video_signal_type
    return header(0xB5, w);
}

Bytes Mpeg4EsWriter::videoObject(int id)
{
    return startCode(static_cast<uint8_t>(id & 0x1F));
}

Bytes Mpeg4EsWriter::videoObjectLayer(const Vol& v)
{
    BitWriter w;
    w.put(0, 1);   // random_accessible_vol
    w.put(static_cast<uint32_t>(v.typeIndication), 8);
    w.put(v.layerIdentifier ? 1 : 0, 1);
    if (v.layerIdentifier) {
        w.put(static_cast<uint32_t>(v.verid), 4);
        w.put(1, 3);   // priority
    }
    w.put(static_cast<uint32_t>(v.aspect), 4);
    if (v.aspect == 15) {
        w.put(12, 8);
        w.put(11, 8);
    }
    w.put(v.controlParameters ? 1 : 0, 1);
    if (v.controlParameters) {
        w.put(1, 2);   // chroma_format 4:2:0
        w.put(1, 1);   // low_delay
        w.put(v.vbvParameters ? 1 : 0, 1);
        if (v.vbvParameters) {
            // 79 bits: bit rate halves, buffer size halves, occupancy halves, with markers.
            w.put(0x1234, 15);
            w.putMarker();
            w.put(0x0567, 15);
            w.putMarker();
            w.put(0x0ABC, 15);
            w.putMarker();
            w.put(0x5, 3);
            w.put(0x3FF, 11);
            w.putMarker();
            w.put(0x2AAA, 15);
            w.putMarker();
        }
    }
    w.put(static_cast<uint32_t>(v.shape), 2);
    const int verid = v.layerIdentifier ? v.verid : 1;
    if (v.shape == 3 && verid != 1)
        w.put(0, 4);
    w.putMarker();
    w.put(static_cast<uint32_t>(v.resolution), 16);
    w.putMarker();
    w.put(v.fixedRate ? 1 : 0, 1);
    if (v.fixedRate)
        w.put(static_cast<uint32_t>(v.fixedIncrement), incrementBits(v.resolution));
    if (v.shape == 2) {
        // The header reader stops here for this shape and goes on with the next start code.
        if (verid != 1)
            w.put(0, 1);
        w.put(1, 1);
        return header(0x20, w);
    }
    if (v.shape == 0) {
        w.putMarker();
        w.put(static_cast<uint32_t>(v.width), 13);
        w.putMarker();
        w.put(static_cast<uint32_t>(v.height), 13);
        w.putMarker();
    }
    w.put(0, 1);   // interlaced
    w.put(1, 1);   // obmc_disable
    w.put(0, 1);   // sprite_enable
    w.put(0, 1);   // not_8_bit
    w.put(0, 1);   // quant_type
    w.put(1, 1);   // complexity_estimation_disable
    w.put(1, 1);   // resync_marker_disable
    w.put(0, 1);   // data_partitioned
    w.put(0, 1);   // scalability
    return header(0x20, w);
}

Bytes Mpeg4EsWriter::groupOfVops(int hour, int minute, int second)
{
    BitWriter w;
    w.put(static_cast<uint32_t>(hour), 5);
    w.put(static_cast<uint32_t>(minute), 6);
    w.putMarker();
    w.put(static_cast<uint32_t>(second), 6);
    w.put(1, 1);   // closed_gov
    w.put(0, 1);   // broken_link
    return header(0xB3, w);
}

Bytes Mpeg4EsWriter::vop(bool intra, int bodyBytes, uint8_t fill)
{
    Bytes b = startCode(0xB6);
    b.push_back(intra ? 0x15 : 0x55);   // vop_coding_type in the top two bits
    if (fill == 0 || fill == 1)
        fill = 0x5A;
    for (int i = 1; i < bodyBytes; ++i)
        b.push_back(fill);
    return b;
}

Bytes Mpeg4EsWriter::keyFrame(const Vol& vol, int hour, int minute, int second, int bodyBytes)
{
    Bytes b = visualObjectSequence();
    append(b, visualObject());
    append(b, videoObject());
    append(b, videoObjectLayer(vol));
    append(b, groupOfVops(hour, minute, second));
    append(b, vop(true, bodyBytes));
    return b;
}

Bytes Mpeg4EsWriter::frame(int index, int gop, const Vol& vol, int bodyBytes)
{
    if (gop < 1)
        gop = 1;
    const int body = bodyBytes + (index * 37) % 64;
    if (index % gop == 0) {
        const int seconds = index / 25;
        return keyFrame(vol, (seconds / 3600) % 24, (seconds / 60) % 60, seconds % 60, body * 4);
    }
    return vop(false, body, static_cast<uint8_t>(0x20 + index % 0x30));
}

Bytes Mpeg4EsWriter::audioPacket(int codec, int rateCode, const Bytes& payload)
{
    Bytes b = startCode(0xF0);
    b.push_back(static_cast<uint8_t>(codec));
    b.push_back(static_cast<uint8_t>(rateCode));
    putLe16(b, static_cast<uint32_t>(payload.size()));
    append(b, payload);
    return b;
}

Bytes Mpeg4EsWriter::auxPacket(int subtype, int flag, const std::vector<uint16_t>& fields,
                               const Bytes& tail)
{
    Bytes b = startCode(0xF1);
    b.push_back(static_cast<uint8_t>(subtype));
    b.push_back(static_cast<uint8_t>(flag));
    for (uint16_t f : fields)
        putLe16(b, f);
    append(b, tail);
    return b;
}

Bytes Mpeg4EsWriter::aviAudioChunk(const Bytes& payload)
{
    return aviChunk("01wb", payload);
}

Bytes Mpeg4EsWriter::aviVideoChunk(const Bytes& frame)
{
    return aviChunk("00dc", frame);
}

Bytes Mpeg4EsWriter::aviHeader(uint32_t usPerFrame, int width, int height, bool audio,
                               int sampleRate, int bitsPerSample)
{
    Bytes b;
    putTag(b, "RIFF");
    putLe32(b, 0x7FFFFFF0);   // streamed: the real size is unknown
    putTag(b, "AVI ");
    putTag(b, "LIST");
    const size_t hdrlSize = b.size();
    putLe32(b, 0);
    putTag(b, "hdrl");

    putTag(b, "avih");
    putLe32(b, 56);
    putLe32(b, usPerFrame);
    putLe32(b, 1000000);   // max bytes per second
    putLe32(b, 0);         // padding granularity
    putLe32(b, 0x10);      // flags: has index
    putLe32(b, 0);         // total frames
    putLe32(b, 0);         // initial frames
    putLe32(b, audio ? 2 : 1);
    putLe32(b, 0x10000);   // suggested buffer size
    putLe32(b, static_cast<uint32_t>(width));
    putLe32(b, static_cast<uint32_t>(height));
    for (int i = 0; i < 4; ++i)
        putLe32(b, 0);

    auto streamList = [&](bool isAudio) {
        putTag(b, "LIST");
        const size_t at = b.size();
        putLe32(b, 0);
        putTag(b, "strl");
        putTag(b, "strh");
        putLe32(b, 56);
        putTag(b, isAudio ? "auds" : "vids");
        if (isAudio)
            putLe32(b, 1);
        else
            putTag(b, "FMP4");
        for (int i = 0; i < 3; ++i)
            putLe32(b, 0);   // flags, priority+language, initial frames
        putLe32(b, isAudio ? 1 : (usPerFrame ? usPerFrame : 1));             // scale
        putLe32(b, isAudio ? static_cast<uint32_t>(sampleRate) : 1000000);   // rate
        for (int i = 0; i < 7; ++i)
            putLe32(b, 0);
        putTag(b, "strf");
        if (isAudio) {
            putLe32(b, 18);
            const int block = bitsPerSample / 8;
            putLe16(b, 1);   // PCM
            putLe16(b, 1);   // mono
            putLe32(b, static_cast<uint32_t>(sampleRate));
            putLe32(b, static_cast<uint32_t>(sampleRate * block));
            putLe16(b, static_cast<uint32_t>(block));
            putLe16(b, static_cast<uint32_t>(bitsPerSample));
            putLe16(b, 0);
        } else {
            putLe32(b, 40);
            putLe32(b, 40);
            putLe32(b, static_cast<uint32_t>(width));
            putLe32(b, static_cast<uint32_t>(height));
            putLe16(b, 1);
            putLe16(b, 24);
            putTag(b, "FMP4");
            for (int i = 0; i < 5; ++i)
                putLe32(b, 0);
        }
        setLe32(b, at, static_cast<uint32_t>(b.size() - at - 4));
    };
    streamList(false);
    if (audio)
        streamList(true);
    setLe32(b, hdrlSize, static_cast<uint32_t>(b.size() - hdrlSize - 4));

    putTag(b, "LIST");
    putLe32(b, 0x7FFFFF00);
    putTag(b, "movi");
    return b;
}

}   // namespace kevra
