#include "remux/ClipWriter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace kevra {

namespace {

std::string lowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string averrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    std::string t = text;
    if (!t.empty())
        t[0] = char(std::tolower(static_cast<unsigned char>(t[0])));
    return t;
}

}   // namespace

ClipWriter::ClipWriter(std::string path) : ClipWriter(path, containerFor(path))
{
}

ClipWriter::ClipWriter(std::string path, Container container)
    : path_(std::move(path)), container_(container), toStdout_(path_ == kStandardOutput)
{
}

ClipWriter::~ClipWriter()
{
    close();
}

ClipWriter::Container ClipWriter::containerFor(const std::string& path)
{
    const std::string ext = lowerExtension(path);
    return ext == "mkv" || ext == "mka" || ext == "webm" ? Container::Matroska : Container::Mp4;
}

std::string ClipWriter::partPath(const std::string& path, int part)
{
    if (part <= 1)
        return path;
    const size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(part) + path.substr(dot);
}

std::vector<ClipWriter::Part> ClipWriter::parts() const
{
    std::vector<Part> out = parts_;
    if (ctx_ && ctx_->pb && !out.empty()) {
        out.back().bytes = avio_tell(ctx_->pb);
        out.back().mediaUs = partUs_;
    }
    return out;
}

int64_t ClipWriter::bytesWritten() const
{
    return doneBytes_ + (ctx_ && ctx_->pb ? avio_tell(ctx_->pb) : 0);
}

bool ClipWriter::fail(const std::string& what, int averror)
{
    error_ = what + ": " + averrorText(averror);
    if (averror == AVERROR(ENOSPC) || averror == AVERROR(EFBIG) || averror == AVERROR(EDQUOT))
        error_ += " (the disk is full or the file may not grow)";
    const bool opened = ctx_ && ctx_->pb;
    closePart(false);
    if (opened && !toStdout_) {
        // The failed write may have left part of a fragment behind: the file ends where the
        // last complete one ended, and a part without a single frame is removed.
        Part& part = parts_.back();
        doneUs_ -= part.mediaUs - committedUs_;
        frames_ -= part.frames - committedFrames_;
        part.frames = committedFrames_;
        part.mediaUs = committedUs_;
        if (part.frames == 0) {
            std::remove(part.path.c_str());
            parts_.pop_back();
        } else if (::truncate(part.path.c_str(), goodBytes_) == 0) {
            part.bytes = goodBytes_;
        }
    }
    return false;
}

bool ClipWriter::openPart(const AccessUnit& unit)
{
    const std::string path = partPath(path_, partNumber_ + 1);
    const bool mp4 = container_ == Container::Mp4;
    int r = avformat_alloc_output_context2(&ctx_, nullptr, mp4 ? "mp4" : "matroska", path.c_str());
    if (r < 0 || !ctx_)
        return fail("cannot write " + path, r < 0 ? r : AVERROR(ENOMEM));
    stream_ = avformat_new_stream(ctx_, nullptr);
    if (!stream_)
        return fail("cannot write " + path, AVERROR(ENOMEM));
    AVCodecParameters* par = stream_->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = unit.codec == UnitCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4;
    par->width = unit.width;
    par->height = unit.height;
    if (unit.extradataSize > 0) {
        par->extradata = static_cast<uint8_t*>(
            av_mallocz(static_cast<size_t>(unit.extradataSize) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            return fail("cannot write " + path, AVERROR(ENOMEM));
        std::memcpy(par->extradata, unit.extradata, static_cast<size_t>(unit.extradataSize));
        par->extradata_size = unit.extradataSize;
    }
    stream_->time_base = mp4 ? AVRational{1, 90000} : AVRational{1, 1000};
    stream_->avg_frame_rate = AVRational{unit.frameRate, 1};
    // Standard output through libavformat's pipe protocol: written in order, never sought.
    r = avio_open(&ctx_->pb, toStdout_ ? "pipe:1" : path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0)
        return fail("cannot write " + path, r);
    parts_.push_back(Part{path});
    ++partNumber_;
    // Every packet written reaches the file at once: what the muxer completes is on disk.
    ctx_->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    AVDictionary* options = nullptr;
    if (mp4) {
        // An empty index up front and self-contained fragments of at most a second: every
        // complete fragment plays, whenever the file ends.
        av_dict_set(&options, "movflags", "empty_moov+default_base_moof+frag_keyframe", 0);
        av_dict_set_int(&options, "frag_duration", kFragmentUs, 0);
    } else {
        av_dict_set_int(&options, "cluster_time_limit", kFragmentUs / 1000, 0);
    }
    r = avformat_write_header(ctx_, &options);
    av_dict_free(&options);
    if (r < 0)
        return fail("cannot write " + path, r);
    goodBytes_ = avio_tell(ctx_->pb);
    committedFrames_ = 0;
    committedUs_ = 0;
    partStartUs_ = unit.timeUs;
    lastPts_ = -1;
    partUs_ = 0;
    newPart_ = false;
    return true;
}

void ClipWriter::closePart(bool complete)
{
    if (!ctx_)
        return;
    if (complete && ctx_->pb) {
        const int r = av_write_trailer(ctx_);
        if (r < 0 && error_.empty())
            error_ = "cannot complete " + parts_.back().path + ": " + averrorText(r);
    }
    if (ctx_->pb) {
        avio_flush(ctx_->pb);
        parts_.back().bytes = avio_tell(ctx_->pb);
        doneBytes_ += parts_.back().bytes;
        if (ctx_->pb->error < 0 && error_.empty())
            error_ = "cannot write " + parts_.back().path + ": " + averrorText(ctx_->pb->error);
        avio_closep(&ctx_->pb);
    }
    avformat_free_context(ctx_);
    ctx_ = nullptr;
    stream_ = nullptr;
    if (!parts_.empty())
        parts_.back().mediaUs = partUs_;
    doneUs_ += partUs_;
    partUs_ = 0;
}

void ClipWriter::startNewPart()
{
    if (ctx_)
        newPart_ = true;
}

bool ClipWriter::write(const AccessUnit& unit)
{
    if (failed())
        return false;
    if (!unit.data || unit.size <= 0 || unit.frameRate <= 0)
        return true;
    if (ctx_ && (unit.streamChanged || newPart_)) {
        if (!unit.key)
            return true;   // the new part starts at the next key frame
        closePart(true);
        if (failed())
            return false;
        if (toStdout_) {
            error_ = unit.streamChanged ? "the stream changed codec or picture size, and "
                                          "standard output holds a single clip"
                                        : "the stream restarted, and standard output holds a "
                                          "single clip";
            return false;
        }
    }
    if (!ctx_) {
        if (!unit.key)
            return true;
        if (!openPart(unit))
            return false;
    }
    const AVRational micro{1, 1000000};
    int64_t pts = av_rescale_q(unit.timeUs - partStartUs_, micro, stream_->time_base);
    if (pts <= lastPts_)
        pts = lastPts_ + 1;   // the muxer wants strictly rising times
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return fail("cannot write " + parts_.back().path, AVERROR(ENOMEM));
    packet->data = const_cast<uint8_t*>(unit.data);
    packet->size = unit.size;
    packet->stream_index = stream_->index;
    packet->pts = packet->dts = pts;
    packet->duration =
        std::max<int64_t>(1, av_rescale_q(unit.durationUs, micro, stream_->time_base));
    if (unit.key)
        packet->flags |= AV_PKT_FLAG_KEY;
    const int r = av_write_frame(ctx_, packet);
    av_packet_free(&packet);
    if (r < 0)
        return fail("cannot write " + parts_.back().path, r);
    lastPts_ = pts;
    const int64_t size = avio_tell(ctx_->pb);
    if (size > goodBytes_) {
        // The muxer wrote out what it held: at least the frames before this one are in the file.
        committedFrames_ = parts_.back().frames;
        committedUs_ = unit.timeUs - partStartUs_;
        goodBytes_ = size;
    }
    partUs_ = unit.timeUs - partStartUs_ + unit.durationUs;
    ++frames_;
    ++parts_.back().frames;
    return true;
}

bool ClipWriter::close()
{
    closePart(true);
    return !failed();
}

}   // namespace kevra
