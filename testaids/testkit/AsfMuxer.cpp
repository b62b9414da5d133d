#include "testkit/AsfMuxer.h"

#include <algorithm>

namespace kevra {

const uint8_t AsfMuxer::kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t AsfMuxer::kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                   0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t AsfMuxer::kStreamPropertiesGuid[16] = {
    0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t AsfMuxer::kVideoMediaGuid[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                               0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const uint8_t AsfMuxer::kAudioMediaGuid[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                               0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const uint8_t AsfMuxer::kNoErrorCorrectionGuid[16] = {
    0x00, 0x57, 0xFB, 0x20, 0x55, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const uint8_t AsfMuxer::kDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                         0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

namespace {

void put(std::vector<uint8_t>& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void putGuid(std::vector<uint8_t>& b, const uint8_t* g)
{
    b.insert(b.end(), g, g + 16);
}
void setSize(std::vector<uint8_t>& b, size_t objectStart)
{
    const uint64_t size = b.size() - objectStart;
    for (int i = 0; i < 8; ++i)
        b[objectStart + 16 + i] = static_cast<uint8_t>(size >> (8 * i));
}

}   // namespace

AsfMuxer::AsfMuxer(int packetSize, int videoStream, int audioStream)
    : packetSize_(std::max(packetSize, 64)), videoStream_(videoStream), audioStream_(audioStream)
{
}

std::vector<uint8_t> AsfMuxer::header(bool withAudio, bool audioFirst) const
{
    std::vector<uint8_t> b;
    putGuid(b, kHeaderGuid);
    put(b, 0, 8);                   // size, set below
    put(b, withAudio ? 3 : 2, 4);   // header objects
    b.push_back(0x01);
    b.push_back(0x02);

    const size_t fp = b.size();
    putGuid(b, kFilePropertiesGuid);
    put(b, 0, 8);
    for (int i = 0; i < 16; ++i)
        b.push_back(static_cast<uint8_t>(0x11 * (i + 1)));   // file id
    put(b, 0, 8);                                            // file size (streamed)
    put(b, 0, 8);                                            // creation date
    put(b, 0, 8);                                            // data packets count
    put(b, 0, 8);                                            // play duration
    put(b, 0, 8);                                            // send duration
    put(b, 3000, 8);                                         // preroll
    put(b, 0x01, 4);                                         // flags: broadcast
    put(b, static_cast<uint32_t>(packetSize_), 4);           // minimum data packet size
    put(b, static_cast<uint32_t>(packetSize_), 4);           // maximum data packet size
    put(b, 1000000, 4);                                      // maximum bitrate
    setSize(b, fp);

    auto stream = [&](bool video) {
        const size_t sp = b.size();
        putGuid(b, kStreamPropertiesGuid);
        put(b, 0, 8);
        putGuid(b, video ? kVideoMediaGuid : kAudioMediaGuid);
        putGuid(b, kNoErrorCorrectionGuid);
        put(b, 0, 8);                 // time offset
        put(b, video ? 51 : 18, 4);   // type-specific data length
        put(b, 0, 4);                 // error correction data length
        put(b, static_cast<uint32_t>((video ? videoStream_ : audioStream_) & 0x7F), 2);
        put(b, 0, 4);   // reserved
        if (video) {
            put(b, 352, 4);
            put(b, 288, 4);
            b.push_back(0x02);
            put(b, 40, 2);
            put(b, 40, 4);
            put(b, 352, 4);
            put(b, 288, 4);
            put(b, 1, 2);
            put(b, 24, 2);
            b.insert(b.end(), {'K', 'V', 'R', 'A'});
            for (int i = 0; i < 5; ++i)
                put(b, 0, 4);
        } else {
            put(b, 7, 2);   // mu-law
            put(b, 1, 2);
            put(b, 8000, 4);
            put(b, 8000, 4);
            put(b, 1, 2);
            put(b, 8, 2);
            put(b, 0, 2);
        }
        setSize(b, sp);
    };
    if (withAudio && audioFirst)
        stream(false);
    stream(true);
    if (withAudio && !audioFirst)
        stream(false);
    setSize(b, 0);

    const size_t data = b.size();
    putGuid(b, kDataGuid);
    put(b, 0, 8);
    for (int i = 0; i < 16; ++i)
        b.push_back(static_cast<uint8_t>(0x11 * (i + 1)));
    put(b, 0, 8);   // total data packets (streamed)
    b.push_back(0x01);
    b.push_back(0x01);
    // Streamed: the data object size stays at its minimum.
    setSize(b, data);
    return b;
}

void AsfMuxer::pad(std::vector<uint8_t>& packet) const
{
    const size_t padding = packet.size() < static_cast<size_t>(packetSize_)
                               ? static_cast<size_t>(packetSize_) - packet.size()
                               : 0;
    packet[2] = static_cast<uint8_t>(padding);
    packet[3] = static_cast<uint8_t>(padding >> 8);
    packet.resize(packet.size() + padding, 0);
}

std::vector<uint8_t> AsfMuxer::singlePayloadPacket(int stream, const uint8_t* data, size_t n) const
{
    n = std::min(n, static_cast<size_t>(packetSize_ - kSingleOverhead));
    std::vector<uint8_t> p{0x10, 0x5D, 0x00, 0x00};
    put(p, sendTime_, 4);
    sendTime_ += 40;
    put(p, 40, 2);
    p.push_back(static_cast<uint8_t>(stream & 0x7F));
    p.push_back(objectNumber_++);
    put(p, 0, 4);           // offset into the media object
    p.push_back(8);         // replicated data length
    put(p, n, 4);           // media object size
    put(p, sendTime_, 4);   // presentation time
    if (data != nullptr)
        p.insert(p.end(), data, data + n);
    pad(p);
    return p;
}

std::vector<uint8_t> AsfMuxer::multiplePayloadPacket(const std::vector<Payload>& payloads) const
{
    std::vector<uint8_t> p{0x11, 0x5D, 0x00, 0x00};
    put(p, sendTime_, 4);
    sendTime_ += 40;
    put(p, 40, 2);
    p.push_back(static_cast<uint8_t>(0x80 | (payloads.size() & 0x1F)));
    for (const Payload& pl : payloads) {
        p.push_back(static_cast<uint8_t>(pl.stream & 0x7F));
        p.push_back(objectNumber_++);
        put(p, 0, 4);
        p.push_back(8);
        put(p, pl.data.size(), 4);
        put(p, sendTime_, 4);
        put(p, pl.data.size(), 2);
        p.insert(p.end(), pl.data.begin(), pl.data.end());
    }
    pad(p);
    return p;
}

std::vector<uint8_t> AsfMuxer::packetize(int stream, const std::vector<uint8_t>& bytes) const
{
    std::vector<uint8_t> out;
    const size_t room = static_cast<size_t>(packetSize_ - kSingleOverhead);
    for (size_t at = 0; at < bytes.size(); at += room) {
        const size_t n = std::min(room, bytes.size() - at);
        auto p = singlePayloadPacket(stream, bytes.data() + at, n);
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

}   // namespace kevra
