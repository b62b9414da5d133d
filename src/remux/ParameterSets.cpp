#include "remux/ParameterSets.h"

namespace kevra {

namespace {

// Position of the byte after the next 00 00 01 at or after `from`, or -1.
int nextStartCode(const uint8_t* d, int size, int from)
{
    for (int i = from; i + 3 <= size; ++i) {
        if (d[i + 2] > 1) {
            i += 2;   // none of the next three positions can start a code ending here
            continue;
        }
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)
            return i + 3;
    }
    return -1;
}

// End of the NAL unit whose payload starts at `begin`: where the next start code (with its
// leading zero bytes) begins, or size.
int unitEnd(const uint8_t* d, int size, int begin, int& nextBegin)
{
    nextBegin = nextStartCode(d, size, begin);
    if (nextBegin < 0)
        return size;
    int end = nextBegin - 3;
    while (end > begin && d[end - 1] == 0)
        --end;
    return end;
}

constexpr uint8_t kMpeg4Vop = 0xB6;
constexpr uint8_t kMpeg4Gov = 0xB3;

}   // namespace

bool ParameterSets::isKeyFrame(UnitCodec codec, const uint8_t* data, int size)
{
    if (!data || size <= 0)
        return false;
    for (int p = nextStartCode(data, size, 0); p >= 0 && p < size;
         p = nextStartCode(data, size, p)) {
        if (codec == UnitCodec::H264) {
            if ((data[p] & 0x1F) == 5)
                return true;
        } else if (data[p] == kMpeg4Vop) {
            return p + 1 < size && (data[p + 1] >> 6) == 0;   // vop_coding_type 0: intra
        }
    }
    return false;
}

std::vector<uint8_t> ParameterSets::extract(UnitCodec codec, const uint8_t* data, int size)
{
    std::vector<uint8_t> out;
    if (!data || size <= 0)
        return out;
    if (codec == UnitCodec::H264) {
        bool sps = false, pps = false;
        int next = nextStartCode(data, size, 0);
        while (next >= 0 && next < size) {
            const int begin = next;
            const int end = unitEnd(data, size, begin, next);
            const int type = data[begin] & 0x1F;
            if (type == 7 || type == 8) {
                (type == 7 ? sps : pps) = true;
                if (static_cast<int>(out.size()) + 4 + (end - begin) > kMaxExtradata)
                    return {};
                static const uint8_t kStart[4] = {0, 0, 0, 1};
                out.insert(out.end(), kStart, kStart + 4);
                out.insert(out.end(), data + begin, data + end);
            } else if (type == 5 || type == 1) {
                break;   // parameter sets come before the first slice
            }
        }
        if (!sps || !pps)
            out.clear();   // a file's configuration needs both
        return out;
    }
    // MPEG-4: VOS / VO / VOL before the first GOV or VOP.
    const int first = nextStartCode(data, size, 0);
    if (first < 0)
        return out;
    bool vol = false;
    int end = size;
    for (int p = first; p >= 0 && p < size; p = nextStartCode(data, size, p)) {
        if (data[p] >= 0x20 && data[p] <= 0x2F)
            vol = true;
        if (data[p] == kMpeg4Vop || data[p] == kMpeg4Gov) {
            end = p - 3;
            break;
        }
    }
    const int begin = first - 3;
    if (!vol || end <= begin || end - begin > kMaxExtradata)
        return out;
    out.assign(data + begin, data + end);
    return out;
}

}   // namespace kevra
