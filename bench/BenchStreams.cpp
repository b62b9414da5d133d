#include "BenchStreams.h"

#include "testkit/KxavMuxer.h"
#include "testkit/PacketMuxer.h"
#include "testkit/PatternEncoder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>
#include <utility>

namespace kevra {
namespace {

using Key = std::pair<int, int>;

struct TempDir {
    std::string path;
    ~TempDir()
    {
        if (!path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    }
};

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

}   // namespace

const std::vector<BenchStreams::Frame>& BenchStreams::h264(int width, int height)
{
    static std::map<Key, std::vector<Frame>> cache;
    auto it = cache.find({width, height});
    if (it != cache.end())
        return it->second;
    std::vector<Frame>& frames = cache[{width, height}];
    PatternEncoder enc;
    const int bitrate = width * height > 704 * 576 ? 8000000 : 2000000;
    if (enc.open(0, width, height, kFps, bitrate, kFps) != 0)
        return frames;
    enc.setNoise(true);
    for (int i = 0; i < kFrames; ++i) {
        Frame f;
        if (enc.encodeNext(f.bytes, f.key) != 0)
            break;
        frames.push_back(std::move(f));
    }
    return frames;
}

const std::vector<std::vector<uint8_t>>& BenchStreams::kxavPackets(int width, int height)
{
    static std::map<Key, std::vector<std::vector<uint8_t>>> cache;
    auto it = cache.find({width, height});
    if (it != cache.end())
        return it->second;
    std::vector<std::vector<uint8_t>>& packets = cache[{width, height}];
    KxavMuxer mux;
    const uint32_t when = KxavMuxer::packTime(2026, 12, 7, 12, 0, 0);
    for (const Frame& f : h264(width, height))
        packets.push_back(mux.videoFrame(f.bytes, f.key, 2, width, height, kFps, when));
    return packets;
}

const std::vector<uint8_t>& BenchStreams::packetStream(int width, int height)
{
    static std::map<Key, std::vector<uint8_t>> cache;
    auto it = cache.find({width, height});
    if (it != cache.end())
        return it->second;
    std::vector<uint8_t>& stream = cache[{width, height}];
    PacketMuxer mux;
    for (const Frame& f : h264(width, height)) {
        const auto p =
            f.key ? mux.keyFrame(f.bytes, width, height, kFps) : mux.dependentFrame(f.bytes);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

const std::string& BenchStreams::sampleDir()
{
    static TempDir dir;
    static bool tried = false;
    if (tried)
        return dir.path;
    tried = true;
    char pattern[] = "/tmp/kevra-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return dir.path;
    const std::string d = pattern;
    const std::string ff = "ffmpeg -hide_banner -loglevel error -nostdin -y -threads 2 ";
    const std::string video = "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=4 ";
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=4 ";
    const std::string mpeg4 = "-c:v mpeg4 -g 25 -bf 0 -b:v 8M ";
    std::fprintf(stderr, "kevra_bench: writing sample files with ffmpeg into %s\n", d.c_str());
    bool ok = run(ff + video +
                  "-c:v libx264 -preset ultrafast -profile:v baseline -g 25 -bf 0 -b:v 8M -pix_fmt "
                  "yuv420p -f vob " +
                  d + "/ps-h264.mpg");
    ok = run(ff + video + tone + mpeg4 + "-c:a pcm_s16le -ac 1 -f avi " + d + "/av.avi") && ok;
    ok = run(ff + video + tone + mpeg4 + "-c:a wmav2 -ac 1 -f asf -packet_size 2048 " + d +
             "/av.asf") &&
         ok;
    ok = run(ff + video + mpeg4 + "-f m4v " + d + "/video.m4v") && ok;
    ok = run(ff +
             "-f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 -i /dev/urandom -frames:v 8 "
             "-c:v libx264 -preset ultrafast -qp 0 -g 1 -f h264 " +
             d + "/random.h264") &&
         ok;
    if (!ok)
        std::fprintf(stderr, "kevra_bench: some sample files were not made\n");
    dir.path = d;
    return dir.path;
}

std::vector<uint8_t> BenchStreams::readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::string BenchStreams::binDir()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "./";
    return exe.parent_path().string() + "/";
}

}   // namespace kevra
