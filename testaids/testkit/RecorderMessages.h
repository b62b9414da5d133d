// Recorder side of the message layouts: builds the replies a recorder sends and parses the
// requests a client sends. Stateless; any thread may call it. Used by the simulated recorder
// and by the scripted recorder of the device tests. Nothing read from the wire is trusted.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class RecorderMessages {
public:
    static constexpr size_t kHeaderSize = 32;

    // Command codes as they appear in byte 0 of every header.
    static constexpr uint8_t kLogin = 0x0A;
    static constexpr uint8_t kKeepalive = 0xA1;
    static constexpr uint8_t kListQuery = 0xA8;
    static constexpr uint8_t kStreamControl = 0x11;
    static constexpr uint8_t kPtzControl = 0x12;
    static constexpr uint8_t kChannelClaim = 0xF1;
    static constexpr uint8_t kLoginReply = 0xB0;
    static constexpr uint8_t kKeepaliveReply = 0xB1;
    static constexpr uint8_t kListReply = 0xB8;
    static constexpr uint8_t kMediaData = 0xBC;

    // One start or stop order from a STREAM_CONTROL request (channel 0-based).
    struct StreamOrder {
        int channel = 0;
        int stream = 0;
        int operate = 0;   // 1 start, 0 stop
        bool operator==(const StreamOrder&) const = default;
    };

    // A parsed client request. Only the fields of its command are filled.
    struct Request {
        int command = -1;               // byte 0; -1 when nothing could be parsed
        uint32_t payloadLength = 0;     // as announced in the header
        std::vector<uint8_t> header;    // the 32 header bytes
        std::vector<uint8_t> payload;   // the payload bytes given to the parser
        // LOGIN (short and long form)
        std::string user, password;
        bool longForm = false;
        // CHANNEL_CLAIM
        std::array<uint8_t, 4> claimId{};
        int claimChannel = 0;   // 1-based, as sent
        // STREAM_CONTROL (binary form: one order per channel whose flag or stream byte is set)
        std::vector<StreamOrder> streams;
        bool textForm = false;
        // PTZ_CONTROL
        int ptzChannel = 0, ptzAction = 0, ptzParam = 0;
    };

    // A header with the given command and payload length; when raw is given, its 32 bytes are
    // the template and only bytes 0 and 4-7 are overwritten.
    static std::vector<uint8_t> buildHeader(uint8_t command, uint32_t payloadLength,
                                            const uint8_t* raw = nullptr);
    // LOGIN_REPLY: byte 8 outcome, byte 9 reason, byte 10 channel count, bytes 16-19 session id.
    static std::vector<uint8_t> buildLoginReply(int outcome, int reason, int channelCount,
                                                const std::array<uint8_t, 4>& sessionId);
    static std::vector<uint8_t> buildKeepaliveReply();
    // LIST_REPLY with the names joined by "&&" (no terminator).
    static std::vector<uint8_t> buildListReply(const std::vector<std::string>& names);
    // LIST_REPLY carrying exactly the given payload bytes.
    static std::vector<uint8_t> buildListReplyRaw(const std::string& payload);
    // MEDIA_DATA carrying the given payload (length 0 allowed).
    static std::vector<uint8_t> buildMediaData(const uint8_t* data, size_t length);

    // Total size (header + payload) of the message at the start of data when all of it is
    // present, 0 when more bytes are needed. A payload announced above maxPayload makes it
    // return -1 (the caller should drop the connection).
    static int64_t completeLength(const uint8_t* data, size_t available,
                                  uint32_t maxPayload = 1u << 20);

    // Parses one request: the 32 header bytes plus the payload bytes that were received for it.
    // Returns 0, or -1 when the header is missing. Fields that do not fit the bytes present
    // are left at their defaults.
    static int parseRequest(const uint8_t* header, const uint8_t* payload, size_t payloadLength,
                            Request& out);
};

}   // namespace kevra
