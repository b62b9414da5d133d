#include "remux/FrameCutter.h"

#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"
#include "remux/ParameterSets.h"

namespace kevra {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + doe - 719468;
}

// The record's date and time in seconds, or -1 when it carries no plausible one.
int64_t wallSeconds(const MediaFrame& f)
{
    if (f.year < 2000 || f.year > 2099 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 ||
        f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59)
        return -1;
    return daysFromCivil(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second;
}

}   // namespace

FrameCutter::FrameCutter() : demux_(std::make_unique<StreamDemuxer>())
{
}

FrameCutter::~FrameCutter() = default;

void FrameCutter::feed(const uint8_t* data, int length)
{
    if (joiner_.pending() > 0) {
        // The bytes the joiner was reading belong to the previous block: give them up.
        joiner_.feed(nullptr, 0);
        markGap();
    }
    if (data && length > 0)
        demux_->feed(data, length);
}

void FrameCutter::markGap()
{
    waitingForKey_ = true;
    gap_ = started_;
}

void FrameCutter::restartStream()
{
    demux_->control(0, StreamFormat::None);
    joiner_.close();
    joinerOpen_ = false;
    declaredWidth_ = declaredHeight_ = declaredRate_ = 0;
    markGap();
}

void FrameCutter::noteRecord(const MediaFrame& f)
{
    wallSeconds_ = wallSeconds(f);
    if (f.subtype != recordCode(FrameSubtype::Key))
        return;
    if (f.width > 0 && f.height > 0) {
        declaredWidth_ = f.width;
        declaredHeight_ = f.height;
    }
    if (f.frameRate > 0 && f.frameRate <= kMaxFrameRate)
        declaredRate_ = f.frameRate;
}

bool FrameCutter::nextCandidate(Candidate& c)
{
    for (;;) {
        if (joinerOpen_ && joiner_.pending() > 0) {
            const uint8_t* frame = nullptr;
            int length = 0;
            if (joiner_.next(frame, length)) {
                c = {joinCodec_, ParameterSets::isKeyFrame(joinCodec_, frame, length), frame,
                     length};
                return true;
            }
            continue;   // the joiner took every byte; the next record follows
        }
        const MediaFrame* f = demux_->nextFrame();
        if (!f) {
            const uint8_t* frame = nullptr;
            int length = 0;
            if (finishing_ && joinerOpen_ && joiner_.flush(frame, length)) {
                finishing_ = false;
                c = {joinCodec_, ParameterSets::isKeyFrame(joinCodec_, frame, length), frame,
                     length};
                return true;
            }
            finishing_ = false;
            return false;
        }
        if (f->kind != recordCode(FrameKind::Video) || f->payloadLength <= 0 || !f->payload)
            continue;
        if (f->codec != recordCode(VideoCodec::Mpeg4) && !isH264(f->codec)) {
            ++skipped_;   // a codec no clip or client could play
            continue;
        }
        if (f->payloadLength > kMaxUnitBytes) {
            ++skipped_;
            markGap();
            continue;
        }
        noteRecord(*f);
        const UnitCodec codec =
            f->codec == recordCode(VideoCodec::Mpeg4) ? UnitCodec::Mpeg4 : UnitCodec::H264;
        if (demux_->format() == StreamFormat::ProgramStream) {
            // Program streams may hand out a frame in pieces, or the end of one frame with
            // the start of the next: the codec's parser puts whole frames back together.
            if (!joinerOpen_ || joinCodec_ != codec) {
                joinerOpen_ =
                    joiner_.open(codec == UnitCodec::H264 ? VideoDecoder::Codec::H264
                                                          : VideoDecoder::Codec::Mpeg4) == 0;
                joinCodec_ = codec;
                if (!joinerOpen_)
                    continue;
            }
            joiner_.feed(f->payload, f->payloadLength);
            continue;
        }
        c = {codec, f->subtype == recordCode(FrameSubtype::Key), f->payload, f->payloadLength};
        return true;
    }
}

int64_t FrameCutter::stamp(int rate)
{
    const int64_t frameUs = 1000000 / rate;
    int64_t t = lastUs_ < 0 ? 0 : lastUs_ + frameUs;
    if (wallSeconds_ >= 0) {
        if (anchorWall_ < 0) {
            anchorWall_ = wallSeconds_;
            anchorUs_ = t;
        } else {
            // The frame was made somewhere in [expected, expected + 1 s): recorder times count
            // whole seconds.
            const int64_t expected = anchorUs_ + (wallSeconds_ - anchorWall_) * 1000000;
            if (t + kClockSlackUs < expected) {
                t = expected;   // frames were lost, or the stream runs slower than declared
            } else if (t > expected + 1000000 + kClockSlackUs) {
                // The recorder's clock went back, or the stream runs faster than declared:
                // time cannot go back, so the clock is aligned afresh from here.
                anchorWall_ = wallSeconds_;
                anchorUs_ = t;
            }
        }
    }
    lastUs_ = t;
    return t;
}

bool FrameCutter::accept(const Candidate& c, AccessUnit& unit)
{
    const bool changedCodec = started_ && c.codec != codec_;
    if (c.key) {
        const int w = declaredWidth_, h = declaredHeight_;
        if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) {
            ++skipped_;
            return false;
        }
        std::vector<uint8_t> sets = ParameterSets::extract(c.codec, c.data, c.size);
        const bool changed = started_ && (changedCodec || w != width_ || h != height_);
        if (sets.empty() && (!started_ || changed)) {
            ++skipped_;   // nothing to describe the new stream with yet
            markGap();
            return false;
        }
        if (!sets.empty())
            extradata_ = std::move(sets);
        unit.streamChanged = changed;
        codec_ = c.codec;
        width_ = w;
        height_ = h;
        rate_ = declaredRate_ > 0 ? declaredRate_ : (rate_ > 0 ? rate_ : kDefaultFrameRate);
        unit.afterGap = gap_;
        gap_ = false;
        waitingForKey_ = false;
        started_ = true;
    } else {
        if (waitingForKey_ || changedCodec) {
            ++skipped_;
            if (changedCodec)
                markGap();
            return false;
        }
        unit.streamChanged = false;
        unit.afterGap = false;
    }
    unit.codec = codec_;
    unit.key = c.key;
    unit.width = width_;
    unit.height = height_;
    unit.frameRate = rate_;
    unit.timeUs = stamp(rate_);
    unit.durationUs = 1000000 / rate_;
    unit.data = c.data;
    unit.size = c.size;
    unit.extradata = extradata_.data();
    unit.extradataSize = static_cast<int>(extradata_.size());
    ++units_;
    return true;
}

bool FrameCutter::next(AccessUnit& unit)
{
    Candidate c{};
    while (nextCandidate(c)) {
        if (c.size <= 0 || c.size > kMaxUnitBytes) {
            ++skipped_;
            markGap();
            continue;
        }
        if (accept(c, unit))
            return true;
    }
    return false;
}

}   // namespace kevra
