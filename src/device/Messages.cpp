#include "device/Messages.h"

#include "device/ResultCode.h"

#include <cstdio>
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

}   // namespace

std::vector<uint8_t> buildLogin(const char* user, const char* password)
{
    if (!user || !password)
        return {};
    const size_t u = std::strlen(user);
    const size_t p = std::strlen(password);
    std::vector<uint8_t> m(MessageHeader::kSize, 0);
    m[0] = cmd::LOGIN;
    m[3] = 0x60;
    m[24] = 4;
    m[25] = 1;
    m[30] = 0xA1;
    m[31] = 0xAA;
    if (u <= 8 && p <= 8) {
        std::memcpy(&m[8], user, u);
        std::memcpy(&m[16], password, p);
        return m;
    }
    putLe32(&m[4], static_cast<uint32_t>(u + p + 2));
    m.insert(m.end(), user, user + u);
    m.push_back('&');
    m.push_back('&');
    m.insert(m.end(), password, password + p);
    return m;
}

std::vector<uint8_t> buildKeepalive()
{
    std::vector<uint8_t> m(MessageHeader::kSize, 0);
    m[0] = cmd::KEEPALIVE;
    return m;
}

std::vector<uint8_t> buildListQuery()
{
    std::vector<uint8_t> m(MessageHeader::kSize, 0);
    m[0] = cmd::LIST_QUERY;
    m[8] = 1;
    return m;
}

std::vector<uint8_t> buildChannelClaim(int channel, const uint8_t* idBytes, int idLength)
{
    std::vector<uint8_t> m(MessageHeader::kSize, 0);
    m[0] = cmd::CHANNEL_CLAIM;
    // The identifier occupies offsets 8-11; anything longer would run into the channel fields.
    if (idBytes && idLength > 0)
        std::memcpy(&m[8], idBytes, static_cast<size_t>(idLength < 4 ? idLength : 4));
    m[12] = 1;
    m[13] = static_cast<uint8_t>(channel + 1);
    return m;
}

std::vector<uint8_t> buildStreamControl(int channel, int stream, int operate)
{
    if (channel < 0)
        return {};
    std::vector<uint8_t> m(160, 0);
    m[0] = cmd::STREAM_CONTROL;
    if (channel <= 15) {
        if (operate != 0)
            m[8 + channel] = 1;
        if (stream != 0)
            m[32 + channel] = static_cast<uint8_t>(stream);
        putLe32(&m[4], 16);
        m.resize(48);
        return m;
    }
    m[26] = 8;
    char text[128];
    int n = std::snprintf(text, sizeof text,
                          "ChannelName:%d\r\nStream:%d\r\nOperate:%d\r\nProtocol:tcp\r\n\r\n",
                          channel, stream, operate);
    if (n < 0 || n >= static_cast<int>(sizeof text))
        return {};
    putLe32(&m[4], static_cast<uint32_t>(n));
    std::memcpy(&m[32], text, static_cast<size_t>(n));
    m.resize(32 + static_cast<size_t>(n));
    return m;
}

int ptzActionCode(int code)
{
    static const int kActions[10] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10};
    return code >= 0 && code <= 9 ? kActions[code] : 0;
}

std::vector<uint8_t> buildPtzControl(int channel, int code, int parameter)
{
    std::vector<uint8_t> m(MessageHeader::kSize, 0);
    m[0] = cmd::PTZ_CONTROL;
    m[9] = static_cast<uint8_t>(channel);
    m[10] = static_cast<uint8_t>(ptzActionCode(code));
    m[11] = 0;
    m[12] = 3;
    m[16] = static_cast<uint8_t>(parameter);
    return m;
}

void parseReplyHeader(const uint8_t* h, ReplyHeader& out)
{
    out.command = h[0];
    out.status = 0;
    out.loginInfo.reset();
    out.payloadLength =
        uint32_t(h[4]) | uint32_t(h[5]) << 8 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 24;
    if (out.command == cmd::LOGIN_REPLY) {
        const int outcome = static_cast<int8_t>(h[8]);
        const int reason = static_cast<int8_t>(h[9]);
        if (outcome == 0) {
            LoginInfo info;
            info.channelCount = static_cast<int8_t>(h[10]);
            std::memcpy(info.sessionId.data(), &h[16], 4);
            out.loginInfo = info;
        } else if (outcome == 1) {
            out.status = result_code::refusedWithReason(reason);
        } else if (outcome == 3) {
            out.status = result_code::REFUSED_REASON_3;
        } else {
            out.status = result_code::REFUSED;
        }
    } else if (out.command == cmd::CHANNEL_CLAIM) {
        out.status = h[14];
    }
}

int splitNameList(const uint8_t* data, int length, std::vector<uint8_t>& block)
{
    block.clear();
    if (!data || length < 1)
        return 0;
    const size_t n = static_cast<size_t>(length);
    block.assign(data, data + n);
    block.push_back(0);
    int separators = 0;
    size_t start = 0;
    size_t i = 0;
    while (i < n) {
        if (block[i] == '&' && i + 1 < n && block[i + 1] == '&') {
            block[i] = 0;
            block[i + 1] = 0;
            ++separators;
            start = i + 2;
            i += 2;
        } else {
            ++i;
        }
    }
    return separators + (start < n ? 1 : 0);
}

std::vector<std::string> nameListItems(const uint8_t* block, int length, int count)
{
    std::vector<std::string> items;
    if (!block || length < 0)
        return items;
    // An item starts only inside the block: an empty block, or one that ends right after a
    // separator, names no further camera.
    const size_t end = static_cast<size_t>(length);
    size_t at = 0;
    for (int k = 0; k < count && at < end; ++k) {
        size_t stop = at;
        while (stop < end && block[stop] != 0)
            ++stop;
        items.emplace_back(reinterpret_cast<const char*>(block + at), stop - at);
        at = stop + 2;
    }
    return items;
}

}   // namespace kevra
