#include "testkit/ProgramStreamMuxer.h"

#include <algorithm>

namespace kevra {

namespace {

void putTimestamp(std::vector<uint8_t>& b, uint8_t prefix, uint64_t t)
{
    b.push_back(static_cast<uint8_t>(prefix | ((t >> 29) & 0x0E) | 1));
    b.push_back(static_cast<uint8_t>(t >> 22));
    b.push_back(static_cast<uint8_t>(((t >> 14) & 0xFE) | 1));
    b.push_back(static_cast<uint8_t>(t >> 7));
    b.push_back(static_cast<uint8_t>(((t << 1) & 0xFE) | 1));
}

uint32_t crc32Mpeg(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint32_t>(p[i]) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

bool isMaxPiece(size_t n)
{
    return n == 0xFFE6 || n == 0xFFE8 || n == 0xFFF2;
}

}   // namespace

int ProgramStreamMuxer::sizeCodeFor(int width, int height)
{
    static const int sizes[][2] = {
        {704, 576}, {352, 576}, {704, 288},  {352, 288},  {176, 144},   {640, 480},   {320, 240},
        {480, 480}, {800, 592}, {1024, 768}, {1280, 800}, {1280, 1024}, {1600, 1024}, {1600, 1200}};
    for (int i = 0; i < 14; ++i)
        if (sizes[i][0] == width && sizes[i][1] == height)
            return i;
    return -1;
}

ProgramStreamMuxer::ProgramStreamMuxer(Codec codec, int sizeCode, int frameRate)
    : codec_(codec), sizeCode_(sizeCode), frameRate_(frameRate)
{
}

std::vector<uint8_t> ProgramStreamMuxer::packHeader(uint64_t scr)
{
    std::vector<uint8_t> b{0x00, 0x00, 0x01, 0xBA};
    // MPEG-2 pack header: SCR base (33 bits) with extension 0, mux rate, no stuffing.
    b.push_back(static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)));
    b.push_back(static_cast<uint8_t>(scr >> 20));
    b.push_back(static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)));
    b.push_back(static_cast<uint8_t>(scr >> 5));
    b.push_back(static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04));
    b.push_back(0x01);
    const uint32_t muxRate = 25000;   // 50-byte units per second
    b.push_back(static_cast<uint8_t>(muxRate >> 14));
    b.push_back(static_cast<uint8_t>(muxRate >> 6));
    b.push_back(static_cast<uint8_t>(((muxRate << 2) & 0xFC) | 0x03));
    b.push_back(0xF8);   // reserved, stuffing length 0
    return b;
}

std::vector<uint8_t> ProgramStreamMuxer::systemHeaderAndMap() const
{
    std::vector<uint8_t> b{0x00, 0x00, 0x01, 0xBB, 0x00, 12};
    // rate_bound, audio_bound, flags, video_bound, reserved byte
    b.insert(b.end(), {0x80, 0xC3, 0x51, 0x04, 0xE1, 0xFF});
    b.insert(b.end(), {0xE0, 0xE0, 0xE8, 0xC0, 0xC0, 0x20});   // P-STD entries
    // Stream map: a private descriptor whose bytes 36/37 land on pack bytes 80/81.
    const size_t mapAt = b.size();
    b.insert(b.end(), {0x00, 0x00, 0x01, 0xBC, 0x00, 0x00, 0x80, 0x01});
    const int descriptorLength = 38;
    b.push_back(0x00);
    b.push_back(static_cast<uint8_t>(2 + descriptorLength));
    b.push_back(0xF0);
    b.push_back(static_cast<uint8_t>(descriptorLength));
    for (int i = 0; i < descriptorLength; ++i)
        b.push_back(0x20);
    b[b.size() - 2] = static_cast<uint8_t>(sizeCode_);
    b[b.size() - 1] = static_cast<uint8_t>(frameRate_);
    b.insert(b.end(), {0x00, 0x08});
    b.insert(b.end(),
             {static_cast<uint8_t>(codec_ == Codec::H264 ? 0x1B : 0x10), 0xE0, 0x00, 0x00});
    b.insert(b.end(), {0x04, 0xC0, 0x00, 0x00});
    const size_t mapLength = b.size() + 4 - (mapAt + 6);
    b[mapAt + 4] = static_cast<uint8_t>(mapLength >> 8);
    b[mapAt + 5] = static_cast<uint8_t>(mapLength);
    const uint32_t crc = crc32Mpeg(b.data() + mapAt, b.size() - mapAt);
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    return b;
}

std::vector<uint8_t> ProgramStreamMuxer::pes(uint8_t streamId, const uint8_t* payload, size_t n,
                                             int headerLength, uint64_t pts)
{
    if (headerLength < 5)
        headerLength = 5;
    std::vector<uint8_t> b{0x00, 0x00, 0x01, streamId};
    const size_t length = n + 3 + static_cast<size_t>(headerLength);
    b.push_back(static_cast<uint8_t>(length >> 8));
    b.push_back(static_cast<uint8_t>(length));
    b.push_back(0x80);
    b.push_back(0x80);   // PTS only
    b.push_back(static_cast<uint8_t>(headerLength));
    putTimestamp(b, 0x20, pts);
    for (int i = 5; i < headerLength; ++i)
        b.push_back(0xFF);
    if (payload != nullptr)
        b.insert(b.end(), payload, payload + n);
    return b;
}

std::vector<uint8_t> ProgramStreamMuxer::videoFrame(const std::vector<uint8_t>& frame,
                                                    bool keyFrame)
{
    std::vector<uint8_t> out = packHeader(clock90k_);
    if (keyFrame) {
        auto sys = systemHeaderAndMap();
        out.insert(out.end(), sys.begin(), sys.end());
    }
    const uint64_t pts = clock90k_;
    clock90k_ += frameRate_ > 0 ? 90000 / static_cast<uint64_t>(frameRate_) : 3600;
    const uint8_t* p = frame.data();
    size_t rest = frame.size();
    if (rest <= static_cast<size_t>(kMaxPayload)) {
        // One PES; a payload of exactly the maximum size takes one stuffing byte so that it is
        // not read as the first piece of a split frame.
        auto one = pes(0xE0, p, rest, rest == static_cast<size_t>(kMaxPayload) ? 6 : 5, pts);
        out.insert(out.end(), one.begin(), one.end());
        return out;
    }
    if (codec_ == Codec::H264) {
        bool firstPack = true;
        while (rest > 0) {
            const size_t n = std::min(rest, static_cast<size_t>(kMaxPayload - 1));
            if (!firstPack) {
                auto ph = packHeader(pts);
                out.insert(out.end(), ph.begin(), ph.end());
            }
            auto piece = pes(0xE0, p, n, 5, pts);
            out.insert(out.end(), piece.begin(), piece.end());
            p += n;
            rest -= n;
            firstPack = false;
        }
        return out;
    }
    // MPEG-4: a first piece of exactly the maximum size, then bare PES pieces of the middle
    // sizes, then a last piece of any other size. The reader ends a merge when a piece's first
    // payload byte is 0x56 or more, so the first piece's header stuffing and the middle sizes
    // are chosen, where possible, to start every piece on a smaller byte.
    const size_t total = frame.size();
    auto lowAt = [&](size_t at) { return at >= total || frame[at] < 0x56; };
    auto usable = [&](size_t remainder) { return remainder != 0xFFE6; };
    int firstHeader = -1;
    for (int pass = 0; pass < 2 && firstHeader < 0; ++pass) {
        for (int h = 5; h < 200; ++h) {
            const size_t n = static_cast<size_t>(0xFFF9 - h);
            if (usable(rest - n) && (pass == 1 || lowAt(n))) {
                firstHeader = h;
                break;
            }
        }
    }
    const size_t n = static_cast<size_t>(0xFFF9 - firstHeader);
    auto first = pes(0xE0, p, n, firstHeader, pts);
    out.insert(out.end(), first.begin(), first.end());
    size_t at = n;
    rest -= n;
    while (rest > 0) {
        size_t piece = 0;
        if (rest <= 0xFFF7 && !isMaxPiece(rest)) {
            piece = rest;
        } else {
            const size_t sizes[] = {0xFFF2, 0xFFE8, 0xFFE6};
            for (int pass = 0; pass < 2 && piece == 0; ++pass) {
                for (size_t s : sizes) {
                    if (s < rest && usable(rest - s) && (pass == 1 || lowAt(at + s))) {
                        piece = s;
                        break;
                    }
                }
            }
            if (piece == 0)
                piece = rest;   // not reachable for the sizes above
        }
        auto part = pes(0xE0, frame.data() + at, piece, 5, pts);
        out.insert(out.end(), part.begin(), part.end());
        at += piece;
        rest -= piece;
    }
    return out;
}

std::vector<uint8_t> ProgramStreamMuxer::audioFrame(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> out = packHeader(clock90k_);
    const size_t n = std::min(payload.size(), static_cast<size_t>(kMaxPayload));
    auto a = pes(0xC0, payload.data(), n, 5, clock90k_);
    out.insert(out.end(), a.begin(), a.end());
    return out;
}

}   // namespace kevra
