#include "SnapshotMaker.h"

#include <turbojpeg.h>

#include "video/VideoDecoder.h"

namespace kevra::gateway {

SnapshotMaker::SnapshotMaker() : compressor_(tjInitCompress())
{
}

SnapshotMaker::~SnapshotMaker()
{
    if (compressor_)
        tjDestroy(compressor_);
}

std::string SnapshotMaker::jpeg(const std::string& camera, const std::vector<OutFramePtr>& frames,
                                std::string& why)
{
    if (frames.empty() || !frames.front()->key) {
        why = "no picture yet";
        return "";
    }
    Last& last = last_[camera];
    if (last.frame == frames.back().get())
        return last.jpeg;

    const OutFrame& key = *frames.front();
    VideoDecoder decoder;
    if (!decoder.open(key.codec == OutCodec::H264 ? VideoDecoder::Codec::H264
                                                  : VideoDecoder::Codec::Mpeg4,
                      key.width > 0 ? key.width : 1920, key.height > 0 ? key.height : 1080)) {
        why = "cannot decode the camera's codec";
        return "";
    }
    VideoDecoder::Planes planes, picture;
    bool have = false;
    for (const OutFramePtr& f : frames) {
        if (f->codec != key.codec || f->bytes.empty())
            continue;
        if (decoder.decode(f->bytes.data(), int(f->bytes.size()), false, planes)) {
            picture = planes;
            have = true;
        }
    }
    // A decoder with frame delay hands out its last picture only when flushed; the decoder
    // here is tuned for none, so what came out is current.
    if (!have || !compressor_) {
        why = have ? "no JPEG encoder" : "the kept frames gave no picture";
        return "";
    }
    const unsigned char* planesIn[3] = {picture.y, picture.u, picture.v};
    int strides[3] = {picture.yStride, picture.uStride, picture.vStride};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompressFromYUVPlanes(compressor_, planesIn, picture.width, strides, picture.height,
                                TJSAMP_420, &out, &size, kQuality, TJFLAG_FASTDCT) != 0) {
        why = std::string("JPEG encoding failed: ") + tjGetErrorStr2(compressor_);
        if (out)
            tjFree(out);
        return "";
    }
    last.jpeg.assign(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    last.frame = frames.back().get();
    last.keep = frames.back();
    return last.jpeg;
}

}   // namespace kevra::gateway
