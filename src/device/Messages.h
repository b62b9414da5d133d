// Byte layouts of the recorder protocol: the 32-byte message header, the request builders, the
// reply-header parser and the camera name-list splitter. Stateless, no I/O; any thread may call
// them (in practice the network worker). Builders return an owned block; empty = nothing built.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kevra {

namespace cmd {
constexpr int LOGIN = 0x0A;
constexpr int KEEPALIVE = 0xA1;
constexpr int LIST_QUERY = 0xA8;
constexpr int STREAM_CONTROL = 0x11;
constexpr int PTZ_CONTROL = 0x12;
constexpr int CHANNEL_CLAIM = 0xF1;
constexpr int LOGIN_REPLY = 0xB0;
constexpr int KEEPALIVE_REPLY = 0xB1;
constexpr int LIST_REPLY = 0xB8;
constexpr int MEDIA_DATA = 0xBC;
}   // namespace cmd

// The fixed header that starts every message (little-endian integers).
struct MessageHeader {
    static constexpr size_t kSize = 32;
    std::array<uint8_t, kSize> bytes{};
};

// What an accepted login tells the client: its channel count and the session identifier,
// kept as the four bytes received.
struct LoginInfo {
    int32_t channelCount = 0;
    std::array<uint8_t, 4> sessionId{};
};

// A parsed received header.
struct ReplyHeader {
    int32_t command = 0;
    uint32_t payloadLength = 0;
    int32_t status = 0;
    std::optional<LoginInfo> loginInfo;
};

// LOGIN: short form (32 bytes) when both texts fit 8 bytes, else the long form with
// "user&&password" as payload. Nothing when either text is missing.
std::vector<uint8_t> buildLogin(const char* user, const char* password);
std::vector<uint8_t> buildKeepalive();
std::vector<uint8_t> buildListQuery();
// CHANNEL_CLAIM for a 0-based channel; idBytes (normally the 4-byte session id) go to offset 8.
std::vector<uint8_t> buildChannelClaim(int channel, const uint8_t* idBytes, int idLength);
// STREAM_CONTROL: binary form for channels 0-15, text form above; nothing for a negative channel.
std::vector<uint8_t> buildStreamControl(int channel, int stream, int operate);
// PTZ_CONTROL with the command code mapped to the recorder's action code.
std::vector<uint8_t> buildPtzControl(int channel, int code, int parameter);
// Action code byte for a PTZ command code (0-9; any other code maps to 0).
int ptzActionCode(int code);

// Parses 32 header bytes; never fails. LOGIN_REPLY gets status and (when accepted) login info.
void parseReplyHeader(const uint8_t* header, ReplyHeader& out);

// Splits a LIST_REPLY payload on "&&". Returns the item count; block receives a copy of the
// n bytes plus a terminating zero with every separator zeroed (empty when there is no list).
int splitNameList(const uint8_t* data, int length, std::vector<uint8_t>& block);
// The items of a split block, read the way the block is laid out: each item runs to its first
// zero and the next starts two bytes later. Never reads outside the block.
std::vector<std::string> nameListItems(const uint8_t* block, int length, int count);

}   // namespace kevra
