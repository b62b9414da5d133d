// Writes access units into a video file without re-encoding them: MP4 (fragmented, so a file
// cut off by a crash or power loss plays up to its last second or two) or Matroska, by the
// file's extension. A file starts at a key frame; a change of codec or picture size, or a new
// part asked for, continues in the next file "name_2.mp4", "name_3.mp4", ...
// The name "-" is standard output: one clip that can stream (fragmented MP4 or Matroska, the
// container given), so there is no next part: a change of codec or picture size ends it.
// Owns the open libavformat context of the current part. Used by one thread only.
#pragma once
#include "remux/AccessUnit.h"

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVStream;

namespace kevra {

class ClipWriter {
public:
    enum class Container { Mp4, Matroska };
    struct Part {
        std::string path;
        int64_t bytes = 0;   // bytes handed to the file so far
        int64_t frames = 0;
        int64_t mediaUs = 0;   // media time in the file
    };
    // Longest stretch of media held in memory before it is written out and flushed.
    static constexpr int64_t kFragmentUs = 1000000;

    // The name that writes to standard output.
    static constexpr const char* kStandardOutput = "-";

    // Nothing is created until the first key frame arrives. The container follows the file's
    // extension, or is the one given (standard output has no extension).
    explicit ClipWriter(std::string path);
    ClipWriter(std::string path, Container container);
    ~ClipWriter();
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Writes one unit: dependent frames before the first key frame of a part are passed over.
    // Returns false once writing has failed (error() says why); nothing is written after that,
    // and what was written before stays playable.
    bool write(const AccessUnit& unit);
    // The next key frame starts a new part (the stream was interrupted).
    void startNewPart();
    // Completes the current part (index and duration). False when that failed.
    bool close();

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    // Files created so far, in order (the figures of the open one are updated as it grows).
    std::vector<Part> parts() const;
    int64_t framesWritten() const { return frames_; }
    // Bytes handed to the files (all parts).
    int64_t bytesWritten() const;
    // Media time written (all parts), in microseconds.
    int64_t mediaUs() const { return doneUs_ + partUs_; }

    static Container containerFor(const std::string& path);
    // Part 1 is the path itself; part n > 1 is "name_n.ext" beside it.
    static std::string partPath(const std::string& path, int part);

private:
    bool openPart(const AccessUnit& unit);
    void closePart(bool complete);
    bool fail(const std::string& what, int averror);

    std::string path_;
    Container container_;
    bool toStdout_;
    AVFormatContext* ctx_ = nullptr;
    AVStream* stream_ = nullptr;
    bool newPart_ = false;
    int partNumber_ = 0;
    int64_t partStartUs_ = 0;   // the part's first unit time (its time zero)
    int64_t lastPts_ = -1;
    // The open part as far as it is surely in the file: its size after the latest write that
    // reached the file, and the frames and media time before that write's frame.
    int64_t goodBytes_ = 0;
    int64_t committedFrames_ = 0;
    int64_t committedUs_ = 0;
    int64_t partUs_ = 0;
    int64_t doneUs_ = 0;
    int64_t doneBytes_ = 0;
    int64_t frames_ = 0;
    std::vector<Part> parts_;
    std::string error_;
};

}   // namespace kevra
