#include "CameraStream.h"

#include <ctime>

namespace kevra {
namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = uint8_t(x);
  v[at + 1] = uint8_t(x >> 8);
  v[at + 2] = uint8_t(x >> 16);
  v[at + 3] = uint8_t(x >> 24);
}

}  // namespace

CameraStream::CameraStream(int cameraIndex, const RecorderOptions& options,
                           const AnnexBSource* source)
    : camera_(cameraIndex),
      options_(options),
      source_(source),
      width_(options.width),
      height_(options.height),
      period_(std::chrono::nanoseconds(1000000000LL / (options.fps > 0 ? options.fps : 25))) {
  if (source_ && source_->width() > 0 && source_->height() > 0) {
    width_ = source_->width();
    height_ = source_->height();
  }
}

int CameraStream::open(TimePoint now) {
  due_ = now;
  if (source_) return source_->frames().empty() ? -1 : 0;
  return encoder_.open(camera_, options_.width, options_.height, options_.fps, options_.bitrate,
                       options_.gop);
}

void CameraStream::requestKeyFrame() {
  if (source_) sourceNeedKey_ = true;
  else encoder_.requestKeyFrame();
}

uint32_t CameraStream::packedNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  int year = tm.tm_year + 1900 - 2000;
  if (year < 0) year = 0;
  if (year > 63) year = 63;
  return uint32_t(tm.tm_sec & 63) | uint32_t(tm.tm_min & 63) << 6 | uint32_t(tm.tm_hour & 31) << 12 |
         uint32_t(tm.tm_mday & 31) << 17 | uint32_t((tm.tm_mon + 1) & 15) << 22 | uint32_t(year) << 26;
}

void CameraStream::wrapKxav(const std::vector<uint8_t>& frame, bool key, uint32_t sequence,
                            int width, int height, int fps, uint32_t packedTime,
                            std::vector<uint8_t>& out) {
  const size_t ext = key ? 8 : 0;
  const size_t total = 24 + ext + frame.size() + 8;
  out.assign(total, 0);
  out[0] = 'K';
  out[1] = 'X';
  out[2] = 'A';
  out[3] = 'V';
  out[4] = key ? 0xFD : 0xFC;
  put32(out, 8, sequence);
  put32(out, 12, uint32_t(total));
  put32(out, 16, packedTime);
  out[22] = uint8_t(ext);
  unsigned sum = 0;
  for (int i = 0; i < 23; ++i) sum += out[i];
  out[23] = uint8_t(sum);
  if (key) {
    out[24] = 0x80;  // picture block: progressive scan, size in units of 8
    out[25] = 1;
    out[26] = uint8_t(width / 8);
    out[27] = uint8_t(height / 8);
    out[28] = 0x81;  // codec block: H.264, frame rate
    out[30] = 8;
    out[31] = uint8_t(fps);
  }
  std::copy(frame.begin(), frame.end(), out.begin() + 24 + ext);
}

void CameraStream::wrapPacket(const std::vector<uint8_t>& frame, bool key, uint8_t sequence,
                              int width, int height, int fps, uint32_t packedTime,
                              std::vector<uint8_t>& out) {
  const size_t header = key ? 16 : 8;
  out.assign(header + frame.size(), 0);
  out[2] = 1;
  uint32_t length = uint32_t(frame.size()) & 0xFFFFFF;
  if (key) {
    out[3] = 0xFD;
    out[4] = 1;  // codec variant: H.264
    out[5] = uint8_t(fps > 31 ? 31 : fps);  // frame rate in bits 0-4, param1 0
    out[6] = uint8_t(width / 8);
    out[7] = uint8_t(height / 8);
    put32(out, 8, packedTime);
    out[12] = uint8_t(length);
    out[13] = uint8_t(length >> 8);
    out[14] = uint8_t(length >> 16);
    out[15] = sequence;
  } else {
    out[3] = 0xFC;
    out[4] = uint8_t(length);
    out[5] = uint8_t(length >> 8);
    out[6] = uint8_t(length >> 16);
    out[7] = sequence;
  }
  std::copy(frame.begin(), frame.end(), out.begin() + header);
}

int CameraStream::nextFrame(TimePoint now, std::vector<uint8_t>& out, bool& key) {
  due_ += period_;
  if (now - due_ > std::chrono::seconds(1)) due_ = now + period_;
  key = false;
  if (source_) {
    const auto& frames = source_->frames();
    if (frames.empty()) return -1;
    if (sourceNeedKey_) {
      // Jump ahead to the next key frame in the file (or stay when there is none).
      for (size_t n = 0; n < frames.size(); ++n) {
        size_t i = (sourceAt_ + n) % frames.size();
        if (frames[i].key) {
          sourceAt_ = i;
          break;
        }
      }
      sourceNeedKey_ = false;
    }
    const auto& f = frames[sourceAt_ % frames.size()];
    sourceAt_ = (sourceAt_ + 1) % frames.size();
    encoded_ = f.bytes;
    key = f.key;
  } else if (encoder_.encodeNext(encoded_, key) != 0) {
    return -1;
  }
  ++frames_;
  // Frames too large for a packet's 24-bit length are not sent in that format.
  if (options_.format == "packet") {
    if (encoded_.size() > 0xFFFFFF) return -1;
    wrapPacket(encoded_, key, uint8_t(sequence_), width_, height_, options_.fps, packedNow(), out);
  } else {
    wrapKxav(encoded_, key, sequence_, width_, height_, options_.fps, packedNow(), out);
  }
  ++sequence_;
  if (sequence_ == 0) sequence_ = 1;
  return 0;
}

}  // namespace kevra
