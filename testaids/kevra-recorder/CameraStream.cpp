#include "CameraStream.h"

#include "PlayPace.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>

namespace kevra {

CameraStream::CameraStream(int cameraIndex, const RecorderOptions& options,
                           const AnnexBSource* source, int streamNumber)
    : camera_(cameraIndex), stream_(streamNumber), options_(options), source_(source),
      width_(options.width), height_(options.height),
      period_(std::chrono::nanoseconds(1000000000LL / (options.fps > 0 ? options.fps : 25)))
{
    mpeg4_ = options.mpeg4();
    if (mpeg4_)
        source_ = nullptr;
    if (source_ && source_->width() > 0 && source_->height() > 0) {
        width_ = source_->width();
        height_ = source_->height();
    } else if (streamNumber == 2 && options.play.empty() && !source_) {
        width_ = std::max(16, (options.width / 2) & ~1);
        height_ = std::max(16, (options.height / 2) & ~1);
    }
}

int CameraStream::open(TimePoint now)
{
    due_ = now;
    if (!options_.play.empty()) {
        std::ifstream in(options_.play, std::ios::binary);
        play_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        // Bytes past 256 MiB are not sent.
        if (play_.size() > (size_t(256) << 20))
            play_.resize(size_t(256) << 20);
        playAt_ = 0;
        if (play_.empty())
            return -1;
        // The file plays at its own rate: its playing time spread over frame periods.
        playChunk_ =
            PlayPace::bytesPerPeriod(play_.size(), PlayPace::fileSeconds(options_.play, play_),
                                     options_.fps, options_.bitrate);
        return 0;
    }
    // Stream headers give the picture size in units of 8 in one byte.
    if (width_ > 2040 || height_ > 2040)
        return -1;
    const int fps = options_.fps > 0 ? options_.fps : 25;
    if (options_.format == "ps") {
        // The pack carries the H.264 picture size only as a code of the size table; MPEG-4 frames
        // carry theirs in the VOL header.
        const int code = ProgramStreamMuxer::sizeCodeFor(width_, height_);
        if (code < 0 && !mpeg4_)
            return -1;
        programStream_ = std::make_unique<ProgramStreamMuxer>(
            mpeg4_ ? ProgramStreamMuxer::Codec::Mpeg4 : ProgramStreamMuxer::Codec::H264,
            code < 0 ? 0 : code, fps > 255 ? 255 : fps);
    } else if (options_.format == "asf") {
        asf_ = std::make_unique<AsfMuxer>(kAsfPacketSize, 1);
    } else if (options_.format == "chunk") {
        chunks_ = std::make_unique<ChunkMuxer>(width_, height_, fps);
    }
    if (source_)
        return source_->frames().empty() ? -1 : 0;
    // The quarter-size stream gets a quarter of the bitrate.
    const int bitrate = width_ < options_.width ? options_.bitrate / 4 : options_.bitrate;
    int r = encoder_.open(camera_, width_, height_, options_.fps, bitrate, options_.gop,
                          mpeg4_ ? PatternEncoder::Codec::Mpeg4 : PatternEncoder::Codec::H264);
    encoder_.setNoise(options_.noise);
    encoder_.setCode(options_.frameCode);
    return r;
}

void CameraStream::requestKeyFrame()
{
    if (source_)
        sourceNeedKey_ = true;
    else
        encoder_.requestKeyFrame();
}

uint32_t CameraStream::packedNow()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    int year = tm.tm_year + 1900 - 2000;
    if (year < 0)
        year = 0;
    if (year > 63)
        year = 63;
    return uint32_t(tm.tm_sec & 63) | uint32_t(tm.tm_min & 63) << 6 |
           uint32_t(tm.tm_hour & 31) << 12 | uint32_t(tm.tm_mday & 31) << 17 |
           uint32_t((tm.tm_mon + 1) & 15) << 22 | uint32_t(year) << 26;
}

int CameraStream::nextFrame(TimePoint now, std::vector<uint8_t>& out, bool& key)
{
    due_ += period_;
    if (now - due_ > std::chrono::seconds(1))
        due_ = now + period_;
    key = false;
    if (!play_.empty()) {
        ++frames_;
        key = true;   // any block is a place to start: the client finds its own way in
        return nextPlayBlock(out);
    }
    if (source_) {
        const auto& frames = source_->frames();
        if (frames.empty())
            return -1;
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
    return wrap(key, out);
}

int CameraStream::nextPlayBlock(std::vector<uint8_t>& out)
{
    // One frame period's share of the file, the file starting over at its end.
    if (playAt_ >= play_.size())
        playAt_ = 0;
    const size_t n = std::min(playChunk_, play_.size() - playAt_);
    out.assign(play_.begin() + std::ptrdiff_t(playAt_),
               play_.begin() + std::ptrdiff_t(playAt_ + n));
    playAt_ += n;
    return 0;
}

int CameraStream::wrap(bool key, std::vector<uint8_t>& out)
{
    const std::string& format = options_.format;
    if (format == "packet" || format == "asf") {
        // Frames too large for a packet's 24-bit length are not sent in that format.
        if (encoded_.size() > 0xFFFFFF)
            return -1;
        // The packet header holds the frame rate in five bits.
        int fps = options_.fps > 31 ? 31 : options_.fps;
        // Header byte 0 carries the codec variant, 1 for H.264 as in KXAV streams.
        out = key ? packets_.keyFrame(encoded_.data(), encoded_.size(), width_, height_, fps,
                                      packedNow(), mpeg4_ ? 0xFB : 0xFD, mpeg4_ ? 0 : 1, 0)
                  : packets_.dependentFrame(encoded_.data(), encoded_.size(), mpeg4_ ? 0xFA : 0xFC);
        // ASF: the packet stream is the video stream's payload, cut into fixed-size data packets.
        if (asf_)
            out = asf_->packetize(1, out);
    } else if (programStream_) {
        // A frame longer than one PES continues in further packs: the client then receives it in
        // pieces, so key frames of the usual picture sizes and bitrates stay below that.
        out = programStream_->videoFrame(encoded_, key);
    } else if (chunks_) {
        // Every frame ends its last chunk (zero padded), so a connection can start at any key frame.
        chunks_->addVideo(encoded_);
        chunks_->flush();
        out = chunks_->take();
    } else if (format == "m4v") {
        out = encoded_;
    } else if (format == "avi") {
        out = Mpeg4EsWriter::aviVideoChunk(encoded_);
    } else {
        // KXAV codec byte: 1 MPEG-4, 8 H.264.
        out = kxav_.videoFrame(encoded_, key, mpeg4_ ? 1 : 8, width_, height_, options_.fps,
                               packedNow());
    }
    return out.empty() ? -1 : 0;
}

std::vector<uint8_t> CameraStream::streamHeader() const
{
    if (!options_.play.empty())
        return {};
    if (asf_)
        return asf_->header(false);
    if (options_.format == "avi") {
        const uint32_t usPerFrame = uint32_t(1000000 / (options_.fps > 0 ? options_.fps : 25));
        return Mpeg4EsWriter::aviHeader(usPerFrame, width_, height_, false, 0, 0);
    }
    return {};
}

}   // namespace kevra
