// What ffprobe and ffmpeg (readers nobody here wrote) find in a video file: the first video
// stream's codec, size, frames, duration, whether it starts with a key frame and decodes
// without complaint. Runs the programs as child processes; any test thread.
#pragma once
#include <string>

namespace kevra {

struct ClipProbe {
    bool opened = false;   // ffprobe read the file and found a video stream
    std::string codec;     // "h264", "mpeg4"
    int width = 0;
    int height = 0;
    int frames = 0;             // frames read
    double duration = -1;       // seconds as the container says, -1 when it says nothing
    bool firstKey = false;      // the first frame is a key frame
    std::string decodeErrors;   // what "ffmpeg -v error -f null" printed (empty: clean)

    static ClipProbe of(const std::string& path);
};

}   // namespace kevra
