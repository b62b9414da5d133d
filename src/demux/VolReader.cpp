#include "demux/VolReader.h"
#include "demux/StartCodes.h"

#include "demux/BitReader.h"

namespace kevra {

int VolReader::timeIncrementBits(uint32_t resolution)
{
    if (resolution <= 1)
        return 1;
    uint32_t v = resolution - 1;
    int bits = 0;
    while (v != 0) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

int VolReader::read(const uint8_t* data, int limit, int available, int* width, int* height,
                    int* rate)
{
    if (data == nullptr || available <= 0)
        return -1;
    BitReader br(data, available);

    while (br.consumed() < limit) {
        br.alignToByte();
        if (br.bitsLeft() < 32)
            return -1;   // no room for another start code
        const uint32_t code = br.peek(32);

        if (code == start_code::kVisualObjectSequence) {
            br.skip(40);
        } else if (code == start_code::kVisualObjectSequenceEnd) {
            br.skip(32);
        } else if (code == start_code::kVisualObject) {
            br.skip(32);
            if (br.read(1))
                br.skip(7);   // verid, priority
            if (br.read(4) != 1)
                return -1;      // only video objects
            if (br.read(1)) {   // video_signal_type
                br.skip(4);
                if (br.read(1))
                    br.skip(24);
            }
        } else if (code >= start_code::kVideoObjectFirst && code <= start_code::kVideoObjectLast) {
            br.skip(32);
        } else if (code == start_code::kGroupOfVop) {
            br.skip(32 + 18 + 2);
        } else if (code == start_code::kUserData) {
            br.skip(48);
        } else if (code == start_code::kVop) {
            return -1;   // picture data before any layer header
        } else if (code >= start_code::kVolFirst && code <= start_code::kVolLast) {
            br.skip(32);
            br.skip(1);   // random_accessible_vol
            const uint32_t typeIndication = br.read(8);
            // Simple, simple scalable, core, main and advanced simple objects share this
            // layout up to the picture size; the last is what encoders with B-VOPs write.
            if (typeIndication != 0 && typeIndication != 1 && typeIndication != 3 &&
                typeIndication != 4 && typeIndication != kAdvancedSimpleObject)
                return -1;
            uint32_t verid = 1;
            if (br.read(1)) {
                verid = br.read(4);
                br.skip(3);
            }
            if (br.read(4) == 15)
                br.skip(16);    // extended pixel aspect ratio
            if (br.read(1)) {   // vol_control_parameters
                br.skip(3);
                if (br.read(1))
                    br.skip(79);   // vbv_parameters
            }
            const uint32_t shape = br.read(2);
            if (shape == 3 && verid != 1)
                br.skip(4);
            br.skip(1);   // marker
            const uint32_t resolution = br.read(16);
            if (br.overrun())
                return -1;
            if (rate != nullptr)
                *rate = static_cast<int>(resolution);
            const int incrementBits = timeIncrementBits(resolution);
            br.skip(1);   // marker
            if (br.read(1))
                br.skip(incrementBits);   // fixed_vop_time_increment
            if (shape == 2) {
                if (verid != 1 && br.read(1))
                    return -1;
                br.skip(1);
                if (br.overrun())
                    return -1;
                continue;
            }
            if (shape != 0)
                return -1;
            br.skip(1);
            const uint32_t w = br.read(13);
            if (br.overrun())
                return -1;
            if (width != nullptr)
                *width = static_cast<int>(w);
            br.skip(1);
            const uint32_t h = br.read(13);
            if (br.overrun())
                return -1;
            if (height != nullptr)
                *height = static_cast<int>(h);
            return 0;
        } else {
            br.skip(32);
        }
        if (br.overrun())
            return -1;
    }
    return -1;
}

}   // namespace kevra
