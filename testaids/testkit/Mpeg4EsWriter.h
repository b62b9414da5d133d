// Mpeg4EsWriter: builds MPEG-4 Visual elementary-stream pieces (sequence, object, layer,
// group and VOP headers), interleaved 0x000001F0/0x000001F1 packets and AVI files for tests
// and the simulated recorder. Stateless; any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace kevra {

class Mpeg4EsWriter {
public:
    using Bytes = std::vector<uint8_t>;

    // Video object layer header fields (the ones the header reader looks at).
    struct Vol {
        int width = 352;
        int height = 288;
        int resolution = 25;            // vop_time_increment_resolution
        int typeIndication = 1;         // video_object_type_indication
        bool layerIdentifier = false;   // is_object_layer_identifier
        int verid = 1;
        int aspect = 1;   // 15 adds par_width/par_height
        bool controlParameters = false;
        bool vbvParameters = false;   // adds the 79-bit VBV block
        int shape = 0;                // 0 rectangular, 1 binary, 2 binary only, 3 grayscale
        bool fixedRate = false;
        int fixedIncrement = 1;
    };

    static Bytes visualObjectSequence(int profile = 1);           // 00 00 01 B0 + profile byte
    static Bytes visualObject();                                  // 00 00 01 B5, video type
    static Bytes videoObject(int id = 0);                         // 00 00 01 0x
    static Bytes videoObjectLayer(const Vol& vol);                // 00 00 01 20 ...
    static Bytes groupOfVops(int hour, int minute, int second);   // 00 00 01 B3 + time code
    // 00 00 01 B6 + coding type + bodyBytes filler bytes that never form a start code.
    static Bytes vop(bool intra, int bodyBytes, uint8_t fill = 0x5A);
    // B0 B5 00 20 B3 B6: a complete key frame as an encoder writes it.
    static Bytes keyFrame(const Vol& vol, int hour, int minute, int second, int bodyBytes);
    // Frame `index` of a synthetic stream: a key frame every `gop` frames (the group time counts
    // seconds at 25 frames per second), dependent VOPs between them, bodies of varying size.
    static Bytes frame(int index, int gop, const Vol& vol, int bodyBytes);
    // 00 00 01 F0, codec, sample-rate code, 16-bit length, payload.
    static Bytes audioPacket(int codec, int rateCode, const Bytes& payload);
    // 00 00 01 F1, sub-type, flag, then the given 16-bit little-endian fields and trailing bytes.
    static Bytes auxPacket(int subtype, int flag, const std::vector<uint16_t>& fields,
                           const Bytes& tail = {});
    // "01wb" chunk: tag, 32-bit size, payload (padded to an even length).
    static Bytes aviAudioChunk(const Bytes& payload);
    // "00dc" chunk around one frame (padded to an even length).
    static Bytes aviVideoChunk(const Bytes& frame);
    // RIFF/AVI header with avih and, when audio is set, an "auds" stream with its strf;
    // ends with the "movi" list opening. usPerFrame 0 is written as it is.
    static Bytes aviHeader(uint32_t usPerFrame, int width, int height, bool audio, int sampleRate,
                           int bitsPerSample);

    static void append(Bytes& to, const Bytes& from)
    {
        to.insert(to.end(), from.begin(), from.end());
    }
};

}   // namespace kevra
