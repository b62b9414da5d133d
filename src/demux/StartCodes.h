// The 32-bit start codes (00 00 01 xx, read big-endian) the stream formats are cut at.
// Constants only; any thread.
#pragma once
#include <cstdint>

namespace kevra::start_code {

// MPEG-4 Visual headers.
constexpr uint32_t kVideoObjectFirst = 0x00000100;   // video_object_start_code 0x100..0x11F
constexpr uint32_t kVideoObjectSecond = 0x00000101;
constexpr uint32_t kVideoObjectLast = 0x0000011F;
constexpr uint32_t kVolFirst = 0x00000120;   // video_object_layer_start_code 0x120..0x12F
constexpr uint32_t kVolSecond = 0x00000121;
constexpr uint32_t kVolLast = 0x0000012F;
constexpr uint32_t kVisualObjectSequence = 0x000001B0;
constexpr uint32_t kVisualObjectSequenceEnd = 0x000001B1;
constexpr uint32_t kUserData = 0x000001B2;
constexpr uint32_t kGroupOfVop = 0x000001B3;
constexpr uint32_t kVisualObject = 0x000001B5;
constexpr uint32_t kVop = 0x000001B6;

// MPEG-2 program stream.
constexpr uint32_t kPackHeader = 0x000001BA;
constexpr uint32_t kSystemHeader = 0x000001BB;
constexpr uint32_t kProgramStreamMap = 0x000001BC;
constexpr uint32_t kPaddingPes = 0x000001BE;
constexpr uint32_t kAudioPes = 0x000001C0;
constexpr uint32_t kVideoPes = 0x000001E0;

// The recorders' 0x000001Fx packets and chunks.
constexpr uint32_t kAudioPacket = 0x000001F0;
constexpr uint32_t kAuxPacket = 0x000001F1;
constexpr uint32_t kChunk = 0x000001F2;
constexpr uint32_t kMpeg4Dependent = 0x000001FA;
constexpr uint32_t kMpeg4Key = 0x000001FB;
constexpr uint32_t kH264Dependent = 0x000001FC;
constexpr uint32_t kH264Key = 0x000001FD;
constexpr uint32_t kDeclaredKey = 0x000001FE;   // key frame of video codec 3

}   // namespace kevra::start_code
