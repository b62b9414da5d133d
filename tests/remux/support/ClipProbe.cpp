#include "remux/support/ClipProbe.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kevra {

namespace {

std::string run(const std::string& command)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, p)) > 0)
        out.append(block, n);
    ::pclose(p);
    return out;
}

}   // namespace

ClipProbe ClipProbe::of(const std::string& path)
{
    ClipProbe r;
    const std::string file = "'" + path + "'";
    std::istringstream lines(run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                 "stream=codec_name,width,height,nb_read_frames:format=duration "
                                 "-of default=nw=1 " +
                                 file + " 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name") {
            r.codec = value;
            r.opened = true;
        } else if (key == "width") {
            r.width = std::atoi(value.c_str());
        } else if (key == "height") {
            r.height = std::atoi(value.c_str());
        } else if (key == "nb_read_frames") {
            r.frames = std::atoi(value.c_str());
        } else if (key == "duration" && value != "N/A") {
            r.duration = std::atof(value.c_str());
        }
    }
    r.firstKey = run("ffprobe -v error -select_streams v:0 -read_intervals %+#1 -show_entries "
                     "frame=key_frame -of csv=p=0 " +
                     file + " 2>/dev/null")
                     .rfind("1", 0) == 0;
    r.decodeErrors = run("ffmpeg -nostdin -v error -i " + file + " -f null - 2>&1");
    return r;
}

}   // namespace kevra
