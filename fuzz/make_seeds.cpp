// Writes the small seed corpora of the fuzz targets from the test kit's muxers and message
// builders: make_seeds <fuzz/seeds directory>. Each seed starts with the block-size header its
// target reads (see fuzz_driver.h) and stays below 4 KB. Run by hand when the formats change.
#include "testkit/ChunkMuxer.h"
#include "testkit/KxavMuxer.h"
#include "testkit/KxptMuxer.h"
#include "testkit/Mpeg4EsWriter.h"
#include "testkit/PacketMuxer.h"
#include "testkit/PatternEncoder.h"
#include "testkit/ProgramStreamMuxer.h"
#include "testkit/RecorderMessages.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace kevra;
using Bytes = std::vector<uint8_t>;

namespace {

std::string g_root;

void append(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

void write(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::string dir = g_root + "/" + target;
    ::mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (bytes.size() >= 4096)
        std::fprintf(stderr, "warning: %s is %zu bytes\n", path.c_str(), bytes.size());
}

// Block-size header: two sizes, cycled (0 = the rest).
Bytes blocks(uint8_t extraFlags, int first, int second, std::vector<uint8_t> between = {})
{
    Bytes b{static_cast<uint8_t>(0x01 | extraFlags)};
    append(b, between);
    b.push_back(first & 0xFF);
    b.push_back(first >> 8);
    b.push_back(second & 0xFF);
    b.push_back(second >> 8);
    return b;
}

Bytes body(int n, uint8_t fill)
{
    Bytes b(n);
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(fill + i * 7) | 0x80;   // never forms 00 00 01
    return b;
}

Bytes kxavStream()
{
    KxavMuxer m;
    const uint32_t t = KxavMuxer::packTime(2026, 12, 7, 10, 30, 0);
    Bytes s;
    append(s, m.videoFrame(body(300, 1), true, 2, 352, 288, 25, t));
    append(s, m.videoFrame(body(120, 2), false, 2, 352, 288, 25, t));
    const Bytes pcm = body(64, 3);
    append(s, m.audioFrame(pcm.data(), pcm.size(), 1, 0x0E, 2, t));
    append(s, m.textPacket("camera 1", -1, t));
    append(s, m.videoFrame(body(100, 4), false, 2, 352, 288, 25, t));
    return s;
}

Bytes packetStream()
{
    PacketMuxer m;
    Bytes s;
    append(s, m.keyFrame(body(300, 5), 352, 288, 25, 0));
    append(s, m.dependentFrame(body(100, 6)));
    append(s, PacketMuxer::audioPacket(body(80, 7), 0x0E, 2));
    append(s, m.dependentFrame(body(90, 8), 0xFA));
    const Bytes aux = body(12, 9);
    append(s, PacketMuxer::auxPacket(aux.data(), aux.size()));
    append(s, m.dependentFrame(body(60, 10)));
    return s;
}

Bytes kxptStream()
{
    Bytes s;
    append(s, KxptMuxer::video(KxptMuxer::keyPayload(352, 288, 10, 30, 0, 25, body(300, 11))));
    append(s, KxptMuxer::video(KxptMuxer::dependentPayload(body(100, 12))));
    append(s, KxptMuxer::audio(body(80, 13), 0x0E, 2));
    append(s, KxptMuxer::video(KxptMuxer::dependentPayload(body(80, 14))));
    return s;
}

Bytes mpeg4Stream()
{
    Mpeg4EsWriter::Vol vol;
    Bytes s = Mpeg4EsWriter::keyFrame(vol, 10, 30, 0, 300);
    append(s, Mpeg4EsWriter::vop(false, 100));
    append(s, Mpeg4EsWriter::audioPacket(0x0E, 2, body(64, 15)));
    append(s, Mpeg4EsWriter::vop(false, 80));
    append(s, Mpeg4EsWriter::auxPacket(1, 1, {1, 22, 18}, body(8, 16)));
    append(s, Mpeg4EsWriter::keyFrame(vol, 10, 30, 1, 200));
    append(s, Mpeg4EsWriter::vop(false, 60));
    return s;
}

Bytes aviStream()
{
    Mpeg4EsWriter::Vol vol;
    Bytes s = Mpeg4EsWriter::aviHeader(40000, 352, 288, true, 8000, 16);
    append(s, Mpeg4EsWriter::aviVideoChunk(Mpeg4EsWriter::keyFrame(vol, 10, 30, 0, 300)));
    append(s, Mpeg4EsWriter::aviAudioChunk(body(64, 17)));
    append(s, Mpeg4EsWriter::aviVideoChunk(Mpeg4EsWriter::vop(false, 100)));
    append(s, Mpeg4EsWriter::aviVideoChunk(Mpeg4EsWriter::vop(false, 90)));
    return s;
}

Bytes chunkStream()
{
    ChunkMuxer m(352, 288, 25);
    Mpeg4EsWriter::Vol vol;
    m.addVideo(Mpeg4EsWriter::keyFrame(vol, 10, 30, 0, 900));
    m.addAudio(0x0E, 2, body(64, 18));
    m.addVideo(Mpeg4EsWriter::vop(false, 700));
    m.flush();
    return m.take();
}

// MPEG-2 program stream: pack header, then a PES of stream 0xE0 carrying an MPEG-4 key frame,
// then a second pack with a dependent frame.
Bytes programStream()
{
    Mpeg4EsWriter::Vol vol;
    Bytes s;
    for (int i = 0; i < 2; ++i) {
        const Bytes es =
            i == 0 ? Mpeg4EsWriter::keyFrame(vol, 10, 30, 0, 400) : Mpeg4EsWriter::vop(false, 200);
        append(s, {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3,
                   0xF8});
        const int pesLength = static_cast<int>(es.size()) + 3 + 5;
        append(s,
               {0x00, 0x00, 0x01, 0xE0, static_cast<uint8_t>(pesLength >> 8),
                static_cast<uint8_t>(pesLength), 0x80, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01});
        append(s, es);
    }
    return s;
}

// ASF data packets of 256 bytes, single payload: 0x10 0x5D flags, padding length, send time,
// duration, stream number (1 = video, carrying a 0x000001Fx packet stream; 2 = audio), media
// object number, offset, replicated data, payload from byte 25.
Bytes asfPacket(int stream, const uint8_t* payload, size_t n, int object)
{
    Bytes p(256, 0);
    const size_t padding = 231 - n;
    const uint8_t head[] = {0x10,
                            0x5D,
                            static_cast<uint8_t>(padding),
                            static_cast<uint8_t>(padding >> 8),
                            0,
                            0,
                            0,
                            0,
                            0x28,
                            0x00,
                            static_cast<uint8_t>(stream),
                            static_cast<uint8_t>(object),
                            0,
                            0,
                            0,
                            0,
                            0x08,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0};
    std::copy(head, head + sizeof head, p.begin());
    std::copy(payload, payload + n, p.begin() + 25);
    return p;
}

Bytes asfStream()
{
    const Bytes video = packetStream();
    Bytes s;
    int object = 0;
    for (size_t at = 0; at < video.size(); at += 231) {
        const size_t n = std::min<size_t>(231, video.size() - at);
        append(s, asfPacket(1, video.data() + at, n, object++));
        if (object == 2) {
            const Bytes pcm = body(160, 21);
            append(s, asfPacket(2, pcm.data(), pcm.size(), object));
        }
    }
    return s;
}

void parserSeeds(const std::string& target, const Bytes& stream, const Bytes& lead = {})
{
    Bytes a = blocks(0, 0, 0, lead);   // one block
    append(a, stream);
    write(target, "whole", a);
    Bytes b = blocks(8, 97, 500, lead);   // odd block sizes, key-frame draining
    append(b, stream);
    write(target, "split", b);
    Bytes c = blocks(16, 1, 3, lead);   // tiny blocks with resets
    append(c, Bytes(stream.begin(), stream.begin() + std::min<size_t>(stream.size(), 600)));
    write(target, "tiny", c);
}

}   // namespace

// Real frames of the pattern camera, in decoding order, with their key-frame flags.
std::vector<std::pair<Bytes, bool>> encoded(PatternEncoder::Codec codec, int width, int height,
                                            int frames)
{
    PatternEncoder enc;
    std::vector<std::pair<Bytes, bool>> out;
    if (enc.open(2, width, height, 25, 0, 3, codec) != 0)
        return out;
    for (int i = 0; i < frames; ++i) {
        Bytes f;
        bool key = false;
        if (enc.encodeNext(f, key) == 0 && !f.empty())
            out.emplace_back(std::move(f), key);
    }
    return out;
}

// Decode-path seeds: real H.264 and MPEG-4 frames in each container, so the fuzzer starts
// from streams that reach the decoders and the conversion.
void decodeSeeds()
{
    using Codec = PatternEncoder::Codec;
    const std::string target = "fuzz_decode_path";
    for (Codec codec : {Codec::H264, Codec::Mpeg4}) {
        const bool mpeg4 = codec == Codec::Mpeg4;
        const std::string name = mpeg4 ? "mpeg4" : "h264";
        {
            KxavMuxer m;
            Bytes s = blocks(0, 600, 0);
            for (const auto& [f, key] : encoded(codec, 32, 32, 5))
                append(s, m.videoFrame(f, key, mpeg4 ? 1 : 8, 32, 32, 25, 0));
            write(target, "kxav_" + name, s);
        }
        {
            PacketMuxer m;
            Bytes s = blocks(0x08, 300, 0);   // 16-bit display
            for (const auto& [f, key] : encoded(codec, 32, 32, 5))
                append(s, key ? m.keyFrame(f.data(), f.size(), 32, 32, 25, 0, mpeg4 ? 0xFB : 0xFD,
                                           mpeg4 ? 0 : 1)
                              : m.dependentFrame(f, mpeg4 ? 0xFA : 0xFC));
            write(target, "packet_" + name, s);
        }
        {
            ProgramStreamMuxer m(mpeg4 ? ProgramStreamMuxer::Codec::Mpeg4
                                       : ProgramStreamMuxer::Codec::H264,
                                 ProgramStreamMuxer::sizeCodeFor(176, 144), 25);
            Bytes s = blocks(0, 2048, 0);
            for (const auto& [f, key] : encoded(codec, mpeg4 ? 32 : 176, mpeg4 ? 32 : 144, 3))
                append(s, m.videoFrame(f, key));
            write(target, "ps_" + name, s);
        }
    }
    Bytes es = blocks(0, 256, 0);
    Bytes avi = blocks(0, 0, 0);
    append(avi, Mpeg4EsWriter::aviHeader(40000, 32, 32, false, 0, 0));
    for (const auto& [f, key] : encoded(Codec::Mpeg4, 32, 32, 5)) {
        append(es, f);
        append(avi, Mpeg4EsWriter::aviVideoChunk(f));
    }
    write(target, "m4v", es);
    write(target, "avi", avi);
    ChunkMuxer chunks(176, 144, 25);
    for (const auto& [f, key] : encoded(Codec::Mpeg4, 176, 144, 2)) {
        chunks.addVideo(f);
        chunks.flush();
    }
    Bytes c = blocks(0, 1040, 0);
    append(c, chunks.take());
    write(target, "chunk", c);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <fuzz/seeds directory>\n");
        return 2;
    }
    g_root = argv[1];
    ::mkdir(g_root.c_str(), 0755);

    parserSeeds("fuzz_parser_kxav", kxavStream());
    parserSeeds("fuzz_parser_packet", packetStream());
    parserSeeds("fuzz_parser_kxpt", kxptStream());
    parserSeeds("fuzz_parser_mpeg4", mpeg4Stream(), {0});
    {
        Bytes m1 = blocks(0, 1040, 0, {1});
        append(m1, mpeg4Stream());
        write("fuzz_parser_mpeg4", "mode1", m1);
        Bytes m2 = blocks(0, 700, 0, {2});
        append(m2, aviStream());
        write("fuzz_parser_mpeg4", "avi", m2);
    }
    parserSeeds("fuzz_parser_chunk", chunkStream());
    parserSeeds("fuzz_parser_ps", programStream());
    parserSeeds("fuzz_parser_asf", asfStream(), {0x00, 0x01, 0x01});   // packet size 256, stream 1
    decodeSeeds();

    const std::pair<const char*, Bytes> probe[] = {
        {"kxav", kxavStream()},   {"packet", packetStream()}, {"kxpt", kxptStream()},
        {"mpeg4", mpeg4Stream()}, {"avi", aviStream()},       {"chunk", chunkStream()},
        {"ps", programStream()},
    };
    for (const auto& [name, stream] : probe) {
        Bytes s = blocks(0, 700, 0);
        append(s, stream);
        write("fuzz_demux_probe", name, s);
    }

    const std::array<uint8_t, 4> id{1, 2, 3, 4};
    Bytes login = RecorderMessages::buildLoginReply(0, 0, 4, id);
    append(login, {'G', 'a', 't', 'e', '&', '&', 'L', 'o', 'b', 'b', 'y', '&', '&', '&', 'P'});
    write("fuzz_reply_header", "login_list", login);
    write("fuzz_reply_header", "refused", RecorderMessages::buildLoginReply(1, 9, 0, id));
    write("fuzz_reply_header", "list",
          RecorderMessages::buildListReply({"Gate", "Lobby", "Parking"}));

    // Framing: growing 512-byte buffer, pieces of 7 and 100 bytes.
    Bytes session{0x09, 0x00, 0x02, 7, 0, 100, 0};
    append(session, RecorderMessages::buildLoginReply(0, 0, 3, id));
    append(session, RecorderMessages::buildListReply({"Gate", "Lobby", "Parking"}));
    append(session, RecorderMessages::buildKeepaliveReply());
    const Bytes media = body(900, 19);
    append(session, RecorderMessages::buildMediaData(media.data(), media.size()));
    append(session, RecorderMessages::buildMediaData(nullptr, 0));
    write("fuzz_framing", "session", session);
    Bytes absurd{0x00, 0x20, 0x00, 0, 0};   // 32-byte fixed buffer, one piece
    append(absurd, RecorderMessages::buildHeader(0xBC, 0xFFFFFFF0u));
    append(absurd, body(1000, 20));
    write("fuzz_framing", "absurd_length", absurd);

    Mpeg4EsWriter::Vol vol;
    Bytes v{25};
    append(v, Mpeg4EsWriter::videoObject(0));
    append(v, Mpeg4EsWriter::videoObjectLayer(vol));
    write("fuzz_vol_reader", "vol", v);
    Mpeg4EsWriter::Vol odd;
    odd.layerIdentifier = true;
    odd.verid = 2;
    odd.aspect = 15;
    odd.controlParameters = true;
    odd.vbvParameters = true;
    odd.shape = 3;
    odd.fixedRate = true;
    odd.resolution = 30000;
    Bytes v2{25};
    append(v2, Mpeg4EsWriter::visualObjectSequence());
    append(v2, Mpeg4EsWriter::visualObject());
    append(v2, Mpeg4EsWriter::videoObject(0));
    append(v2, Mpeg4EsWriter::videoObjectLayer(odd));
    write("fuzz_vol_reader", "vol_options", v2);
    return 0;
}
