#include "video/DecoderWorker.h"

#include "demux/FrameNames.h"
#include "common/Clock.h"
#include "demux/StreamDemuxer.h"
#include "video/CatchUpRule.h"
#include "video/ColourConverter.h"
#include "video/VideoDecoder.h"

#include <pthread.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <new>
#include <thread>

namespace kevra {

namespace {

bool isMpeg4(int codec)
{
    return codec == recordCode(VideoCodec::Mpeg4);
}
bool decodable(int codec)
{
    return isH264(codec) || isMpeg4(codec);
}
// Codecs one open decoder takes frames of.
bool sameDecoder(int a, int b)
{
    return (isH264(a) && isH264(b)) || (isMpeg4(a) && isMpeg4(b));
}

}   // namespace

DecoderWorker::DecoderWorker()
    : demux_(std::make_unique<StreamDemuxer>()), decoder_(std::make_unique<VideoDecoder>())
{
}

DecoderWorker::~DecoderWorker()
{
    stop();
    picture_.reset();
    retiredPicture_.reset();
}

// ---------------------------------------------------------------------------------------------
// Device client side

void DecoderWorker::resetStream()
{
    waitingForKey_ = true;
    converted_.store(0);
    decodedPending_.store(0);
    frameRate_.store(0);
    bufferingMark_.store(false);
    clearUnsupported(Unsupported::None);
    sawVideo_ = false;
    audioFrames_ = 0;
    bytesWithoutVideo_ = 0;
    framesWithoutKey_ = 0;
    framesWithoutPicture_ = 0;
    std::lock_guard<std::mutex> g(queueLock_);
    // Bytes pushed after the previous stream stopped belong to that stream.
    queue_.clear();
    queuedBytes_ = 0;
    gapMark_ = false;
    dropping_ = false;
}

void DecoderWorker::start()
{
    if (running_.load() || thread_.running() || decoder_->isOpen())
        stop();
    resetStream();
    running_.store(true);
    if (thread_.start([this] { loop(); }) != 0)
        running_.store(false);
}

void DecoderWorker::startManual()
{
    if (running_.load() || thread_.running() || decoder_->isOpen())
        stop();
    resetStream();
}

void DecoderWorker::stop()
{
    running_.store(false);
    wake();
    thread_.join();
    {
        std::lock_guard<std::mutex> g(queueLock_);
        queue_.clear();
        queuedBytes_ = 0;
    }
    clearFrameList();
    if (demux_)
        demux_->control(0, StreamFormat::None);
    closeDecoder();
    frameRate_.store(0);
}

void DecoderWorker::push(const uint8_t* bytes, int length)
{
    if (!bytes || length <= 0)
        return;
    std::lock_guard<std::mutex> g(queueLock_);
    if (dropping_ || length > kByteLimit - queuedBytes_) {
        gapMark_ = true;
        droppedPushes_.fetch_add(1);
        return;
    }
    Chunk c;
    c.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
    if (!c.bytes) {
        gapMark_ = true;
        droppedPushes_.fetch_add(1);
        return;
    }
    std::memcpy(c.bytes.get(), bytes, static_cast<size_t>(length));
    c.length = length;
    c.gap = gapMark_;
    c.pushedUs = Clock::nowUs();
    bytesIn_.fetch_add(length, std::memory_order_relaxed);
    queuedBytes_ += length;
    queue_.push_back(std::move(c));
    gapMark_ = false;
    wake();
}

void DecoderWorker::setPixelFormat(PixelFormat format)
{
    format_.store(format);
}

DecoderWorker::Counters DecoderWorker::counters() const
{
    Counters c;
    c.bytes = bytesIn_.load(std::memory_order_relaxed);
    c.frames = framesIn_.load(std::memory_order_relaxed);
    c.skipped = skipped_.load(std::memory_order_relaxed);
    c.droppedPushes = droppedPushes_.load(std::memory_order_relaxed);
    return c;
}

int DecoderWorker::bytesQueued()
{
    std::lock_guard<std::mutex> g(queueLock_);
    return queuedBytes_;
}

bool DecoderWorker::dropping()
{
    std::lock_guard<std::mutex> g(queueLock_);
    return dropping_;
}

// ---------------------------------------------------------------------------------------------
// Frame-timer side

bool DecoderWorker::takePicture(Picture& picture)
{
    if (converted_.load(std::memory_order_acquire) <= 0)
        return false;
    picture = ready_;
    return true;
}

void DecoderWorker::giveBack(const Picture& picture)
{
    if (converted_.load(std::memory_order_acquire) <= 0 || picture.sequence != ready_.sequence ||
        picture.pixels != ready_.pixels)
        return;
    int n = converted_.load(std::memory_order_relaxed);
    while (n > 0 && !converted_.compare_exchange_weak(n, n - 1, std::memory_order_release,
                                                      std::memory_order_relaxed)) {}
    if (n > 0 && decodedPending_.load() > 0)
        wake();   // the next picture waits for conversion
}

int DecoderWorker::buffering(int previous)
{
    if (converted_.load(std::memory_order_acquire) > 0)
        return 0;
    const int rate = frameRate_.load();
    if (rate <= 0) {
        bufferingMark_.store(false);
        return 1;
    }
    if (lowLatency_.load()) {
        bufferingMark_.store(false);
        const uint64_t quietUs = uint64_t(kLowLatencyQuietFrames) * 1'000'000u / uint64_t(rate);
        return Clock::nowUs() - lastFrameUs_.load() > quietUs ? 1 : 0;
    }
    if (bufferingMark_.load()) {
        if (frameListCount_.load() < rate)
            return 1;
        bufferingMark_.store(false);
        return 0;
    }
    if (frameListCount_.load() == 0 && decodedPending_.load() == 0) {
        bufferingMark_.store(true);
        return 1;
    }
    return previous;
}

void DecoderWorker::wake()
{
    {
        std::lock_guard<std::mutex> g(wakeLock_);
        wakeUp_ = true;
    }
    wakeSignal_.notify_one();
}

// ---------------------------------------------------------------------------------------------
// Decoder thread

void DecoderWorker::loop()
{
    pthread_setname_np(pthread_self(), "kevra-decode");   // tells the threads apart in measurements
    while (running_.load()) {
        const int chunks = intake();
        const int result = step();
        // Wait only after a pass that found nothing to do, so a backlog is worked off at full
        // speed; new bytes, a taken picture or stop end the wait at once, and the timeout
        // bounds it should a wake-up ever be missed.
        if (chunks == 0 && result == kStepIdle) {
            std::unique_lock<std::mutex> l(wakeLock_);
            wakeSignal_.wait_for(l, std::chrono::milliseconds(kIdleWaitMs),
                                 [this] { return wakeUp_ || !running_.load(); });
            wakeUp_ = false;
        }
    }
}

int DecoderWorker::runIntake()
{
    return running_.load() ? 0 : intake();
}

int DecoderWorker::runStep()
{
    return running_.load() ? kStepIdle : step();
}

bool DecoderWorker::acceptKeyFrame(const MediaFrame& f) const
{
    return f.kind == recordCode(FrameKind::Video) && f.subtype == recordCode(FrameSubtype::Key) &&
           f.width > 0 && f.height > 0 && f.frameRate > 0 && f.width <= kMaxSide &&
           f.height <= kMaxSide && f.frameRate <= kMaxFrameRate;
}

bool DecoderWorker::appendFrame(const MediaFrame& f, uint64_t receivedUs)
{
    FrameEntry e;
    e.receivedUs = receivedUs;
    e.record = f;
    e.record.packetStart = nullptr;
    const int n = f.payloadLength > 0 && f.payload ? f.payloadLength : 0;
    e.record.payloadLength = n;
    if (n > 0) {
        e.payload.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n) + kPayloadPadding]);
        if (!e.payload)
            return false;
        std::memcpy(e.payload.get(), f.payload, static_cast<size_t>(n));
        std::memset(e.payload.get() + n, 0, kPayloadPadding);
    }
    e.record.payload = e.payload.get();
    frameList_.push_back(std::move(e));
    frameListBytes_ += static_cast<size_t>(n);
    frameListCount_.store(static_cast<int>(frameList_.size()));
    framesIn_.fetch_add(1, std::memory_order_relaxed);
    lastFrameUs_.store(receivedUs);
    return true;
}

void DecoderWorker::skipFrames(size_t count)
{
    count = std::min(count, frameList_.size());
    for (size_t i = 0; i < count; ++i) {
        frameListBytes_ -= static_cast<size_t>(frameList_.front().record.payloadLength);
        frameList_.pop_front();
    }
    frameListCount_.store(static_cast<int>(frameList_.size()));
    skipped_.fetch_add(static_cast<int64_t>(count), std::memory_order_relaxed);
}

void DecoderWorker::catchUpAfterAppend()
{
    if (!lowLatency_.load() || frameList_.empty())
        return;
    const size_t before = frameList_.size() - 1;
    if (frameList_.back().record.subtype == recordCode(FrameSubtype::Key) &&
        CatchUpRule::dropBeforeKey(before)) {
        // Nothing before the key frame would be shown: the decoder restarts at it.
        skipFrames(before);
    } else if (CatchUpRule::waitForKey(frameList_.size(), frameRate_.load())) {
        // Decoding does not keep up: start again at the next key frame.
        skipFrames(frameList_.size());
        waitingForKey_ = true;
    }
}

void DecoderWorker::clearFrameList()
{
    frameList_.clear();
    frameListBytes_ = 0;
    frameListCount_.store(0);
}

int DecoderWorker::intake()
{
    int taken = 0;
    for (;;) {
        Chunk c;
        {
            std::lock_guard<std::mutex> g(queueLock_);
            if (queue_.empty())
                break;
            c = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= c.length;
        }
        ++taken;
        const uint64_t receivedUs = c.pushedUs;
        if (c.gap) {
            waitingForKey_ = true;
            frameRate_.store(0);
        }
        if (!demux_)
            continue;
        demux_->feed(c.bytes.get(), c.length);
        if (!sawVideo_ && audioFrames_ == 0 && bytesWithoutVideo_ < kBytesWithoutVideo) {
            bytesWithoutVideo_ += c.length;
            if (bytesWithoutVideo_ >= kBytesWithoutVideo)
                setUnsupported(Unsupported::NoVideo, -1,
                               demux_->format() == StreamFormat::None
                                   ? "no stream format recognised in " +
                                         std::to_string(bytesWithoutVideo_) + " bytes"
                                   : "no video frame in " + std::to_string(bytesWithoutVideo_) +
                                         " bytes of a " + streamFormatName(demux_->format()) +
                                         " stream");
        }
        for (;;) {
            const MediaFrame* f = nullptr;
            if (waitingForKey_) {
                // The first video key frame; audio on the way tells an audio-only stream.
                f = demux_->nextFrame();
                while (f && !(f->kind == 1 && f->subtype == 0 && f->payloadLength > 0)) {
                    noteRecord(*f);
                    f = demux_->nextFrame();
                }
                if (f && !acceptKeyFrame(*f))
                    noteRecord(*f);
                if (!f || !acceptKeyFrame(*f))
                    break;
                noteRecord(*f);
                waitingForKey_ = false;
                framesWithoutKey_ = 0;
                frameRate_.store(f->frameRate);
            } else {
                f = demux_->nextFrame();
                if (!f)
                    break;
                if (f->kind != recordCode(FrameKind::Video))
                    continue;
            }
            if (!appendFrame(*f, receivedUs)) {
                waitingForKey_ = true;
                frameRate_.store(0);
                continue;
            }
            catchUpAfterAppend();
            // More than two seconds of frames waiting: decoding has fallen behind.
            const int64_t limit = static_cast<int64_t>(kDropWindowMs) * frameRate_.load();
            if (static_cast<int64_t>(frameList_.size()) * 1000 > limit ||
                frameListBytes_ > kFrameListByteLimit) {
                std::lock_guard<std::mutex> g(queueLock_);
                dropping_ = true;
            }
        }
    }
    return taken;
}

void DecoderWorker::noteRecord(const MediaFrame& f)
{
    if (f.kind == recordCode(FrameKind::Video)) {
        if (!sawVideo_)
            clearUnsupported(Unsupported::NoVideo);   // the bytes do hold video
        sawVideo_ = true;
        // Video that never brings a key frame with a picture size and rate to start at.
        if (waitingForKey_ && !acceptKeyFrame(f) && ++framesWithoutKey_ == kFramesWithoutKey)
            setUnsupported(Unsupported::NoVideo, f.codec,
                           std::to_string(kFramesWithoutKey) + " video frames of codec " +
                               std::to_string(f.codec) +
                               " and no key frame with a picture size to start at");
    } else if (f.kind == recordCode(FrameKind::Audio) && !sawVideo_ &&
               ++audioFrames_ >= kAudioOnlyFrames) {
        setUnsupported(Unsupported::AudioOnly, f.codec,
                       "audio codec " + std::to_string(f.codec) + " and no video");
    }
}

DecoderWorker::UnsupportedReason DecoderWorker::unsupported() const
{
    std::lock_guard<std::mutex> g(reasonLock_);
    return reason_;
}

void DecoderWorker::setUnsupported(Unsupported kind, int codec, std::string detail)
{
    std::lock_guard<std::mutex> g(reasonLock_);
    if (reason_.kind == kind && reason_.codec == codec)
        return;
    reason_ = UnsupportedReason{kind, codec, std::move(detail)};
    undecodable_.store(codec < 0 ? 0 : codec);
}

void DecoderWorker::clearUnsupported(Unsupported kind)
{
    std::lock_guard<std::mutex> g(reasonLock_);
    if (kind != Unsupported::None && reason_.kind != kind)
        return;
    reason_ = UnsupportedReason{};
    undecodable_.store(-1);
}

bool DecoderWorker::openDecoder(int width, int height, int codec)
{
    closeDecoder();
    if (!decodable(codec))
        return false;
    const VideoDecoder::Codec which =
        isH264(codec) ? VideoDecoder::Codec::H264 : VideoDecoder::Codec::Mpeg4;
    decoderOpens_.fetch_add(1);
    if (!decoder_->open(which, width, height))
        return false;
    openCodec_ = codec;
    codec_.store(codec);
    // Program streams may hand out a frame in several pieces, or the end of one frame with
    // the start of the next (small packs): their bytes go through the codec's parser, which
    // holds each frame until the next one starts. Every other format delivers whole frames.
    joining_ =
        demux_ && demux_->format() == StreamFormat::ProgramStream && joiner_.open(which) == 0;
    return true;
}

void DecoderWorker::closeDecoder()
{
    decoder_->close();
    decoded_ = VideoDecoder::Planes{};   // the planes belonged to the decoder
    decodedPending_.store(0);
    joiner_.close();
    joining_ = false;
    joinEntry_ = FrameEntry{};
    openCodec_ = -1;
    codec_.store(-1);
    openWidth_ = 0;
    openHeight_ = 0;
}

void DecoderWorker::decodeFrame(const uint8_t* data, int length, bool padded)
{
    static_assert(kPayloadPadding >= VideoDecoder::kInputPadding,
                  "frame payloads are read in place");
    decoded_ = VideoDecoder::Planes{};
    if (!data || length <= 0)
        return;
    // The picture stays in the decoder's planes: it is converted from there, with their strides.
    VideoDecoder::Planes out;
    if (decoder_->decode(data, length, padded, out) && out.y && out.width > 0 && out.height > 0 &&
        out.width <= openWidth_ && out.height <= openHeight_) {
        decoded_ = out;
        decodedUs_ = Clock::nowUs();
        // A decoder that holds pictures back (reordering) gives out an earlier frame's picture
        // here; the stamp is that of the frame whose bytes made it come out.
        decodedReceivedUs_ = decodingReceivedUs_;
        decodedPending_.fetch_add(1);
        if (framesWithoutPicture_ != 0) {
            framesWithoutPicture_ = 0;
            clearUnsupported(Unsupported::NoPicture);
            clearUnsupported(Unsupported::PictureFormat);
        }
        return;
    }
    // No picture: the decoder made one of a kind the converter does not take, or it makes
    // none at all for a while (a missing picture now and then is a damaged frame).
    framesWithoutPicture_ = std::min(framesWithoutPicture_ + 1, kFramesWithoutPicture);
    const std::string& rejected = decoder_->rejectedPicture();
    if (!rejected.empty())
        setUnsupported(Unsupported::PictureFormat, openCodec_, rejected);
    else if (framesWithoutPicture_ >= kFramesWithoutPicture)
        setUnsupported(Unsupported::NoPicture, openCodec_,
                       std::string(isH264(openCodec_) ? "H.264" : "MPEG-4 Visual") + ": " +
                           std::to_string(kFramesWithoutPicture) + " frames, no picture");
}

void DecoderWorker::decodeJoined()
{
    const uint8_t* frame = nullptr;
    int length = 0;
    if (joiner_.next(frame, length))
        decodeFrame(frame, length, false);
    if (joiner_.pending() == 0)
        joinEntry_ = FrameEntry{};   // the joiner copied what it still needs
}

int DecoderWorker::decodeOne()
{
    // Whole frames still inside the bytes of a frame taken earlier come first, one per step.
    if (joining_ && joiner_.pending() > 0) {
        decodeJoined();
        return kStepDone;
    }
    if (frameList_.empty())
        return kStepIdle;
    FrameEntry e = std::move(frameList_.front());
    decodingReceivedUs_ = e.receivedUs;
    frameList_.pop_front();
    frameListBytes_ -= static_cast<size_t>(e.record.payloadLength);
    frameListCount_.store(static_cast<int>(frameList_.size()));
    {
        std::lock_guard<std::mutex> g(queueLock_);
        if (dropping_ && frameList_.size() < 3)
            dropping_ = false;
    }
    const MediaFrame& f = e.record;
    if (f.subtype == recordCode(FrameSubtype::Key) && f.width > 0 && f.height > 0) {
        if (f.width > kMaxSide || f.height > kMaxSide)
            return kStepUndecodable;
        if (f.codec != openCodec_ || f.width != openWidth_ || f.height != openHeight_ ||
            !decoder_->isOpen()) {
            if (!openDecoder(f.width, f.height, f.codec)) {
                if (!decodable(f.codec))
                    setUnsupported(Unsupported::VideoCodec, f.codec,
                                   "video codec " + std::to_string(f.codec));
                return kStepUndecodable;
            }
            clearUnsupported(Unsupported::None);
            framesWithoutPicture_ = 0;
            openWidth_ = f.width;
            openHeight_ = f.height;
            // A new picture size or codec is a new stream from the same recorder: it goes
            // on without a gap, at the rate its key frame declares.
            if (f.frameRate > 0 && f.frameRate <= kMaxFrameRate)
                frameRate_.store(f.frameRate);
        }
    }
    // Frames of another codec than the open decoder's are dropped unread.
    if (decoder_->isOpen() && sameDecoder(f.codec, openCodec_) && f.payloadLength > 0) {
        if (joining_) {
            const int length = f.payloadLength;
            joinEntry_ = std::move(e);
            joiner_.feed(joinEntry_.payload.get(), length);
            decodeJoined();
        } else {
            decodeFrame(f.payload, f.payloadLength, true);
        }
    }
    return kStepDone;
}

bool DecoderWorker::ensurePictureBuffer(int width, int height)
{
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 4 + 54;
    if (picture_ && pictureBytes_ == size)
        return true;
    std::unique_ptr<uint8_t[], AlignedDelete> fresh(
        new (std::align_val_t(kPictureAlign), std::nothrow) uint8_t[size]());
    if (!fresh)
        return false;
    // The frame timer may still hold the old pointer from a take it has not finished.
    retiredPicture_ = std::move(picture_);
    picture_ = std::move(fresh);
    pictureBytes_ = size;
    return true;
}

void DecoderWorker::passOverBehind()
{
    // Low latency: a decoded picture with frames piling up behind it is not converted.
    if (decodedPending_.load() > 0 && lowLatency_.load() &&
        CatchUpRule::passOver(frameList_.size())) {
        decoded_ = VideoDecoder::Planes{};
        decodedPending_.fetch_sub(1);
        skipped_.fetch_add(1, std::memory_order_relaxed);
    }
}

int DecoderWorker::step()
{
    int result = kStepIdle;
    passOverBehind();
    if (decodedPending_.load() == 0) {
        result = decodeOne();
        passOverBehind();
    }
    if (decodedPending_.load() > 0 && converted_.load(std::memory_order_acquire) == 0) {
        const int w = decoded_.width;
        const int h = decoded_.height;
        // The picture buffer follows the decoded size; it is replaced only here, while the
        // frame timer holds no picture.
        if (decoded_.y && ensurePictureBuffer(w, h)) {
            const PixelFormat format = format_.load();
            const int bits = bitsPerPixel(format);
            const ColourConverter::Planes in{decoded_.y,       decoded_.u,       decoded_.v,
                                             decoded_.yStride, decoded_.uStride, decoded_.vStride};
            ColourConverter::convert(in, w, h, picture_.get(), bits);
            Picture& p = ready_;
            p.pixels = picture_.get();
            p.width = w;
            p.height = h;
            p.stride = w * (bits / 8);
            p.format = format;
            p.bottomUp = format != PixelFormat::Rgb565;   // the converter's row order
            p.sampleAspectNum = decoded_.sampleAspectNum;
            p.sampleAspectDen = decoded_.sampleAspectDen;
            p.sequence = ++sequence_;
            p.receivedUs = decodedReceivedUs_;
            p.decodedUs = decodedUs_;
            p.convertedUs = Clock::nowUs();
            converted_.fetch_add(1, std::memory_order_release);
        }
        decoded_ = VideoDecoder::Planes{};
        decodedPending_.fetch_sub(1);
        return kStepDone;
    }
    return result;
}

}   // namespace kevra
