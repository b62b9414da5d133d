// AsfMuxer: writes ASF streams as the recorders send them: a header object (file and stream
// properties with the standard GUIDs, data object opening) and fixed-size data packets with
// single or multiple payloads and padding (flags 0x10/0x11, property flags 0x5D, 8 bytes of
// replicated data). Holds only its settings; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevra {

class AsfMuxer {
public:
    static constexpr int kSingleOverhead = 25;   // packet bytes before a single payload's data
    struct Payload {
        int stream = 1;
        std::vector<uint8_t> data;
    };

    // packetSize: the fixed data packet size (at least 64).
    AsfMuxer(int packetSize, int videoStream = 1, int audioStream = 2);

    // Header object with file properties and a stream properties object per stream (video
    // first unless audioFirst; no audio stream when withAudio is false), then the data object
    // header. The packet size sits 122 bytes after the header GUID.
    std::vector<uint8_t> header(bool withAudio = true, bool audioFirst = false) const;
    // One packet carrying one payload (at most packetSize - 25 bytes), padded.
    std::vector<uint8_t> singlePayloadPacket(int stream, const uint8_t* data, size_t n) const;
    // One packet carrying several payloads (they must fit), padded.
    std::vector<uint8_t> multiplePayloadPacket(const std::vector<Payload>& payloads) const;
    // A byte stream of one stream cut into single-payload packets.
    std::vector<uint8_t> packetize(int stream, const std::vector<uint8_t>& bytes) const;

    int packetSize() const { return packetSize_; }
    static size_t multipleOverhead(size_t payloadCount) { return 11 + 17 * payloadCount; }

    // GUIDs in stored byte order.
    static const uint8_t kHeaderGuid[16];
    static const uint8_t kFilePropertiesGuid[16];
    static const uint8_t kStreamPropertiesGuid[16];
    static const uint8_t kVideoMediaGuid[16];
    static const uint8_t kAudioMediaGuid[16];
    static const uint8_t kNoErrorCorrectionGuid[16];
    static const uint8_t kDataGuid[16];

private:
    void pad(std::vector<uint8_t>& packet) const;
    int packetSize_;
    int videoStream_;
    int audioStream_;
    mutable uint32_t sendTime_ = 0;
    mutable uint8_t objectNumber_ = 0;
};

}   // namespace kevra
