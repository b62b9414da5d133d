// Owns one encoder (libx264 for H.264, or libavcodec's MPEG-4 Visual encoder) and draws the
// simulated camera picture it encodes.
// Used by one thread at a time: the recorder's event loop, or a test.
//
// Picture layout (W x H, both even), camera index c (0-based; camera number c + 1):
//   - rows [0, H/4): camera background with the text "CAM <c+1>" and the running frame
//     counter drawn in the text colour;
//   - rows [H/4, H/2): background with a square box of the camera's accent colour (side H/4)
//     that moves from left to right, one step per frame;
//   - rows [H/2, H): one solid area of the camera's background colour, in every frame.
// Background / accent colours by camera index modulo 8 (RGB):
//   0 (200, 40, 40) red     / (240, 220, 60)     4 (180, 40, 180) magenta / (60, 220, 90)
//   1 (40, 160, 60) green   / (230, 80, 200)     5 (40, 170, 180) cyan    / (230, 110, 40)
//   2 (40, 60, 200) blue    / (250, 170, 40)     6 (240, 110, 20) orange  / (40, 90, 220)
//   3 (200, 180, 40) yellow / (60, 60, 220)      7 (120, 120, 120) grey   / (240, 240, 240)
// Text is (235, 235, 235) on every camera. With noise on, the right half of the top quarter
// (x >= W/2, y < H/4) holds luma noise that changes every frame, so the encoder needs the bits
// a high bitrate asks for; the lower half stays solid.
// Pan (pan steps px, py): the text and the box move by px * W/16 and py * H/16, clipped to the
// upper half. A camera turned left shows its scene moved right, so a left step is px + 1.
// Frame code (when on): rows [5H/8, 5H/8 + max(H/8, 8)) hold a mid-grey strip with a row of
// kCodeCells black (0) / white (1) cells centred in it, each cell max(2, (7W/8)/36) wide (even),
// with two grey cells either side:
//   1 0 1 | camera index mod 16 (4 bits) | frame number mod 2^20 (20 bits) |
//   number of one bits among those 24, mod 16 (4 bits) | 0 1 1 0 1
// all most significant bit first. It survives compression and scaling down to about 1.5 pixels
// a cell; scripts/read-counter.py reads it back from screenshots.
#pragma once

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kevra {

struct PatternColour {
    uint8_t r, g, b;
};

class PatternEncoder {
public:
    enum class Codec { H264, Mpeg4 };
    static constexpr int kColourCount = 8;
    static constexpr int kCodeCells = 36;
    static constexpr int kPanLimitX = 8;   // pan steps reach -8..8 across, -2..2 down
    static constexpr int kPanLimitY = 2;
    static PatternColour background(int cameraIndex);
    static PatternColour accent(int cameraIndex);
    static PatternColour text();

    // Limited-range BT.601 Y, Cb, Cr of an RGB colour (what the picture stores).
    static void toYuv(PatternColour c, uint8_t& y, uint8_t& cb, uint8_t& cr);

    // Draws frame `frameNumber` of camera `cameraIndex` into planar YUV 4:2:0 planes with the
    // given strides (luma w x h, chroma (w/2) x (h/2)). Width and height must be even.
    static void draw(int cameraIndex, int64_t frameNumber, int width, int height, uint8_t* y,
                     int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride,
                     bool noise = false, int panX = 0, int panY = 0);
    // The frame code's cells (0 or 1) for a camera index and frame number.
    static void codeCells(int cameraIndex, int64_t frameNumber, uint8_t cells[kCodeCells]);
    // Draws the frame code strip over a drawn picture.
    static void drawCode(int cameraIndex, int64_t frameNumber, int width, int height, uint8_t* y,
                         int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride);

    PatternEncoder();
    ~PatternEncoder();
    PatternEncoder(const PatternEncoder&) = delete;
    PatternEncoder& operator=(const PatternEncoder&) = delete;

    // Opens a baseline-profile, zero-latency encoder (no B-frames, SPS/PPS before every key
    // frame); MPEG-4: simple profile, the sequence and VOL headers before every key frame, and
    // bFrames B-VOPs between reference frames (0 for a live stream). Width and height: even,
    // 16..4096. fps 1..250, bitrate in bit/s (0 = quality mode), gop = frames between key frames
    // (>= 1). Returns 0, or -1 when the encoder cannot open.
    int open(int cameraIndex, int width, int height, int fps, int bitrate, int gop,
             Codec codec = Codec::H264, int bFrames = 0);
    void close();
    bool isOpen() const { return context_ != nullptr; }
    // Pixel aspect the stream declares from the next open() on (MPEG-4 VOL, H.264 VUI);
    // 0/0 declares none.
    void setPixelAspect(int num, int den)
    {
        aspectNum_ = num;
        aspectDen_ = den;
    }

    // The next encoded frame must be a key frame (a new viewer joined).
    void requestKeyFrame() { forceKey_ = true; }
    // Draw the noise area in the following frames.
    void setNoise(bool on) { noise_ = on; }
    // Draw the frame code in the following frames.
    void setCode(bool on) { code_ = on; }
    // Pan steps of the following frames (clamped to the pan limits).
    void setPan(int px, int py);
    int panX() const { return panX_; }
    int panY() const { return panY_; }

    // Draws and encodes the next frame. `out` receives one access unit in Annex B form (H.264)
    // or one VOP with the headers before it (MPEG-4), in decoding order. Returns 0 with a frame,
    // -1 on an encoder failure; with B-VOPs, 0 and an empty `out` while the encoder holds the
    // frame back.
    int encodeNext(std::vector<uint8_t>& out, bool& keyFrame);

    int64_t framesEncoded() const { return frameNumber_; }
    int width() const { return width_; }
    int height() const { return height_; }
    Codec codec() const { return codec_; }

private:
    int openH264(int bitrate);

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int aspectNum_ = 0;
    int aspectDen_ = 0;
    Codec codec_ = Codec::H264;
    int bFrames_ = 0;
    int camera_ = 0;
    int width_ = 0;
    int height_ = 0;
    int64_t frameNumber_ = 0;
    bool forceKey_ = false;
    bool noise_ = false;
    bool code_ = false;
    int panX_ = 0;
    int panY_ = 0;
};

}   // namespace kevra
