#include "testkit/RecorderMessages.h"

#include <cstdlib>
#include <cstring>

namespace kevra {

namespace {

void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t getLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Text of a fixed field up to its first zero byte (or the field's end).
std::string fieldText(const uint8_t* p, size_t width)
{
    size_t n = 0;
    while (n < width && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Value after "key:" in a CR LF separated text, or fallback when absent or not a number.
int textValue(const std::string& text, const std::string& key, int fallback)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == ':') {
            std::string number = line.substr(key.size() + 1);
            char* stop = nullptr;
            long v = std::strtol(number.c_str(), &stop, 10);
            if (stop != number.c_str() && v >= -1000000 && v <= 1000000)
                return static_cast<int>(v);
            return fallback;
        }
        at = end + 2;
    }
    return fallback;
}

}   // namespace

std::vector<uint8_t> RecorderMessages::buildHeader(uint8_t command, uint32_t payloadLength,
                                                   const uint8_t* raw)
{
    std::vector<uint8_t> h(kHeaderSize, 0);
    if (raw)
        std::memcpy(h.data(), raw, kHeaderSize);
    h[0] = command;
    putLe32(&h[4], payloadLength);
    return h;
}

std::vector<uint8_t> RecorderMessages::buildLoginReply(int outcome, int reason, int channelCount,
                                                       const std::array<uint8_t, 4>& sessionId)
{
    std::vector<uint8_t> h = buildHeader(kLoginReply, 0);
    h[8] = static_cast<uint8_t>(outcome);
    h[9] = static_cast<uint8_t>(reason);
    h[10] = static_cast<uint8_t>(channelCount);
    std::memcpy(&h[16], sessionId.data(), 4);
    return h;
}

std::vector<uint8_t> RecorderMessages::buildKeepaliveReply()
{
    return buildHeader(kKeepaliveReply, 0);
}

std::vector<uint8_t> RecorderMessages::buildListReply(const std::vector<std::string>& names)
{
    std::string joined;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i)
            joined += "&&";
        joined += names[i];
    }
    return buildListReplyRaw(joined);
}

std::vector<uint8_t> RecorderMessages::buildListReplyRaw(const std::string& payload)
{
    std::vector<uint8_t> m = buildHeader(kListReply, static_cast<uint32_t>(payload.size()));
    m.insert(m.end(), payload.begin(), payload.end());
    return m;
}

std::vector<uint8_t> RecorderMessages::buildMediaData(const uint8_t* data, size_t length)
{
    std::vector<uint8_t> m = buildHeader(kMediaData, static_cast<uint32_t>(length));
    if (data && length)
        m.insert(m.end(), data, data + length);
    return m;
}

int64_t RecorderMessages::completeLength(const uint8_t* data, size_t available, uint32_t maxPayload)
{
    if (!data || available < kHeaderSize)
        return 0;
    uint32_t payload = getLe32(data + 4);
    if (payload > maxPayload)
        return -1;
    uint64_t total = kHeaderSize + uint64_t(payload);
    return available >= total ? static_cast<int64_t>(total) : 0;
}

int RecorderMessages::parseRequest(const uint8_t* header, const uint8_t* payload,
                                   size_t payloadLength, Request& out)
{
    out = Request{};
    if (!header)
        return -1;
    if (!payload)
        payloadLength = 0;
    out.header.assign(header, header + kHeaderSize);
    out.payload.assign(payload, payload + payloadLength);
    out.command = header[0];
    out.payloadLength = getLe32(header + 4);

    switch (out.command) {
    case kLogin:
        if (out.payloadLength == 0) {
            out.user = fieldText(header + 8, 8);
            out.password = fieldText(header + 16, 8);
        } else {
            out.longForm = true;
            std::string text(out.payload.begin(), out.payload.end());
            size_t sep = text.find("&&");
            if (sep == std::string::npos) {
                out.user = text;
            } else {
                out.user = text.substr(0, sep);
                out.password = text.substr(sep + 2);
            }
        }
        break;
    case kChannelClaim:
        std::memcpy(out.claimId.data(), header + 8, 4);
        out.claimChannel = header[13];
        break;
    case kStreamControl:
        if (header[26] == 8) {
            out.textForm = true;
            std::string text(out.payload.begin(), out.payload.end());
            StreamOrder o;
            o.channel = textValue(text, "ChannelName", -1);
            o.stream = textValue(text, "Stream", 0);
            o.operate = textValue(text, "Operate", 0);
            if (o.channel >= 0)
                out.streams.push_back(o);
        } else {
            for (int c = 0; c < 16; ++c) {
                int flag = header[8 + c];
                int stream = static_cast<size_t>(c) < out.payload.size() ? out.payload[c] : 0;
                if (flag || stream)
                    out.streams.push_back(StreamOrder{c, stream, flag ? 1 : 0});
            }
        }
        break;
    case kPtzControl:
        out.ptzChannel = header[9];
        out.ptzAction = header[10];
        out.ptzParam = header[16];
        break;
    default: break;
    }
    return 0;
}

}   // namespace kevra
