// Real data that this project did not write: small files made by the ffmpeg command-line tool
// at test time (scripts/make-ffmpeg-samples.sh), fed through the demultiplexer in blocks and
// compared with what ffprobe reports for the same file. Skipped when ffmpeg is not installed.
#include "DemuxTestSupport.h"

#include "demux/AsfParser.h"
#include "demux/StreamDemuxer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

using namespace kevra;
using namespace kevra::demuxtest;
namespace fs = std::filesystem;

namespace {

std::string run(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

bool haveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes readFile(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

struct ProbePacket {
    int size = 0;
    bool key = false;
};

// ffprobe's packets of one stream type ("v" or "a"), in file order.
std::vector<ProbePacket> probePackets(const fs::path& file, const char* streams)
{
    std::vector<ProbePacket> out;
    std::istringstream in(run("ffprobe -v error -select_streams " + std::string(streams) +
                              " -show_entries packet=size,flags -of csv=p=0 '" + file.string() +
                              "'"));
    std::string line;
    while (std::getline(in, line)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        out.push_back({std::atoi(line.c_str()), line.find('K', comma) != std::string::npos});
    }
    return out;
}

// "width,height,rate numerator" of the first video stream.
std::vector<int> probeVideo(const fs::path& file)
{
    const std::string s = run("ffprobe -v error -select_streams v:0 -show_entries "
                              "stream=width,height,r_frame_rate -of csv=p=0 '" +
                              file.string() + "'");
    std::vector<int> v;
    std::istringstream in(s);
    std::string part;
    while (std::getline(in, part, ','))
        v.push_back(std::atoi(part.c_str()));
    return v;
}

class FfmpegSamples : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!haveTool("ffmpeg") || !haveTool("ffprobe"))
            return;
        char pattern[] = "/tmp/kevra-ffmpeg-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        dir_ = pattern;
        const std::string script =
            std::string(KEVRA_SOURCE_DIR) + "/scripts/make-ffmpeg-samples.sh";
        if (std::system(
                ("bash '" + script + "' '" + dir_.string() + "' >/dev/null 2>&1").c_str()) != 0)
            dir_.clear();
    }
    static void TearDownTestSuite()
    {
        if (!dir_.empty()) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
    }
    void SetUp() override
    {
        if (dir_.empty())
            GTEST_SKIP() << "ffmpeg/ffprobe not available";
    }
    static fs::path sample(const char* name) { return dir_ / name; }
    static fs::path dir_;
};

fs::path FfmpegSamples::dir_;

// Concatenated payloads of the visible video (or audio) records.
Bytes joinedPayloads(const std::vector<Taken>& records, int kind)
{
    Bytes out;
    for (const auto& t : records)
        if (t.kind == kind && t.payloadLength > 0)
            out.insert(out.end(), t.payload.begin(), t.payload.end());
    return out;
}

// Rewrites PES stream ids 0xE2 (ffmpeg's number for H.264 video in program streams) to 0xE0
// (the recorders' number), walking the packs so that no payload byte is touched.
void renumberVideoStream(Bytes& ps)
{
    size_t p = 0;
    while (p + 14 <= ps.size() && ps[p] == 0 && ps[p + 1] == 0 && ps[p + 2] == 1) {
        const uint8_t id = ps[p + 3];
        if (id == 0xBA) {
            p += 14 + (ps[p + 13] & 7);
            continue;
        }
        if (id < 0xBB)
            break;
        if (id == 0xE2)
            ps[p + 3] = 0xE0;
        p += 6 + ((ps[p + 4] << 8) | ps[p + 5]);
    }
}

}   // namespace

TEST_F(FfmpegSamples, Mpeg4ElementaryStreamMatchesFfprobePackets)
{
    const fs::path file = sample("es.m4v");
    const Bytes data = readFile(file);
    ASSERT_FALSE(data.empty());
    const auto packets = probePackets(file, "v");
    const auto video = probeVideo(file);
    ASSERT_EQ(video.size(), 3u);
    for (size_t block : {size_t(4096), size_t(1000), size_t(65536)}) {
        StreamDemuxer d;
        const auto records = feedDemuxer(d, data, block);
        EXPECT_EQ(d.format(), StreamFormat::Mpeg4Es);
        // The last frame stays in progress: nothing after it tells where it ends.
        ASSERT_EQ(records.size() + 1, packets.size()) << block;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].kind, 1);
            EXPECT_EQ(records[i].payloadLength, packets[i].size) << "frame " << i;
            EXPECT_EQ(records[i].subtype == 0, packets[i].key) << "frame " << i;
            if (records[i].subtype == 0) {
                EXPECT_EQ(records[i].width, video[0]);
                EXPECT_EQ(records[i].height, video[1]);
                EXPECT_EQ(records[i].frameRate, video[2]);   // time-increment resolution 25
            }
        }
    }
}

TEST_F(FfmpegSamples, AviVideoAndAudioChunksMatchFfprobePackets)
{
    const fs::path file = sample("av.avi");
    const Bytes data = readFile(file);
    if (data.empty())
        GTEST_SKIP() << "no AVI sample";
    const auto vpackets = probePackets(file, "v");
    const auto apackets = probePackets(file, "a");
    const auto video = probeVideo(file);
    // ffmpeg reserves several KB of header space; the probe waits for the whole header list,
    // so small blocks read the audio format as well.
    for (size_t block : {size_t(65536), size_t(17)}) {
        StreamDemuxer d;
        const auto records = feedDemuxer(d, data, block);
        EXPECT_EQ(d.format(), StreamFormat::Mpeg4Es);
        std::vector<Taken> v, a;
        for (const auto& t : records) {
            if (t.kind == 1 && t.payloadLength > 0)
                v.push_back(t);
            if (t.kind == 2)
                a.push_back(t);
        }
        ASSERT_GE(v.size() + 1, vpackets.size());
        ASSERT_LE(v.size(), vpackets.size());
        for (size_t i = 0; i < v.size(); ++i) {
            // A frame runs to the next frame start code less the next chunk's tag and size, so
            // it holds at most the chunk padding byte (which the decoder passes over). The last
            // frame runs on into the index, up to its first "01wb" entry.
            const int extra = v[i].payloadLength - vpackets[i].size;
            if (i + 1 < vpackets.size())
                EXPECT_TRUE(extra == 0 || extra == 1) << "frame " << i << " +" << extra;
            else
                EXPECT_GE(extra, 0);
            EXPECT_EQ(v[i].subtype == 0, vpackets[i].key) << "frame " << i;
            if (v[i].subtype == 0) {
                EXPECT_EQ(v[i].width, video[0]);
                EXPECT_EQ(v[i].height, video[1]);
                EXPECT_EQ(v[i].frameRate, video[2]);
            }
        }
        ASSERT_EQ(a.size(), apackets.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].payloadLength, apackets[i].size) << "audio " << i;
            EXPECT_EQ(a[i].codec, 31);
            EXPECT_EQ(a[i].sampleRate, 8000);
            EXPECT_EQ(a[i].bitsPerSample, 16);
        }
    }
}

TEST_F(FfmpegSamples, Mpeg4ProgramStreamCarriesTheWholeElementaryStream)
{
    const fs::path file = sample("ps-mpeg4.mpg");
    const Bytes data = readFile(file);
    if (data.empty())
        GTEST_SKIP() << "no program stream sample";
    const fs::path es = dir_ / "ps-mpeg4-video.m4v";
    const fs::path audio = dir_ / "ps-mpeg4-audio.mp2";
    run("ffmpeg -v error -y -i '" + file.string() + "' -map 0:v -c copy -f m4v '" + es.string() +
        "'");
    run("ffmpeg -v error -y -i '" + file.string() + "' -map 0:a -c copy -f mp2 '" + audio.string() +
        "'");
    const Bytes expectedVideo = readFile(es);
    const Bytes expectedAudio = readFile(audio);
    ASSERT_FALSE(expectedVideo.empty());
    StreamDemuxer d;
    const auto records = feedDemuxer(d, data, 4096);
    EXPECT_EQ(d.format(), StreamFormat::ProgramStream);
    // ffmpeg spreads each frame over 2 KB packs, and every pack is one record here (the
    // recorders send one frame per pack); the payloads together are the elementary stream,
    // also the PES packets that a padding packet follows.
    EXPECT_EQ(joinedPayloads(records, 1), expectedVideo);
    EXPECT_EQ(joinedPayloads(records, 2), expectedAudio);
    const auto video = probeVideo(file);
    bool sawKey = false;
    for (const auto& t : records) {
        if (t.kind != 1 || t.payloadLength == 0)
            continue;
        EXPECT_EQ(t.codec, 1);
        if (t.subtype == 0) {   // only the first pack carries a system header
            sawKey = true;
            EXPECT_EQ(t.width, video[0]);
            EXPECT_EQ(t.height, video[1]);
        }
    }
    EXPECT_TRUE(sawKey);
}

TEST_F(FfmpegSamples, H264ProgramStreamCarriesTheWholeElementaryStream)
{
    const fs::path file = sample("ps-h264.mpg");
    Bytes data = readFile(file);
    if (data.empty())
        GTEST_SKIP() << "no H.264 program stream sample (libx264 missing)";
    const fs::path es = dir_ / "ps-h264-video.h264";
    run("ffmpeg -v error -y -i '" + file.string() + "' -map 0:v -c copy -f h264 '" + es.string() +
        "'");
    const Bytes expected = readFile(es);
    ASSERT_FALSE(expected.empty());
    {
        // As ffmpeg writes it, the video is stream 0xE2, which this format does not carry.
        StreamDemuxer d;
        const auto records = feedDemuxer(d, data, 4096);
        EXPECT_EQ(d.format(), StreamFormat::ProgramStream);
        EXPECT_TRUE(joinedPayloads(records, 1).empty());
    }
    renumberVideoStream(data);
    StreamDemuxer d;
    const auto records = feedDemuxer(d, data, 4096);
    const Bytes got = joinedPayloads(records, 1);
    ASSERT_LE(got.size(), expected.size());
    EXPECT_GE(got.size() + 2048, expected.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
    int keys = 0;
    for (const auto& t : records) {
        if (t.kind != 1 || t.payloadLength == 0)
            continue;
        EXPECT_EQ(t.codec, 4);
        EXPECT_EQ(t.param2, 1);
        keys += t.subtype == 0;
    }
    // Key frames are known by the system header, which ffmpeg writes in the first pack only.
    EXPECT_EQ(keys, 1);
}

TEST_F(FfmpegSamples, AsfIsRecognisedWithItsPacketSizeAndVideoStream)
{
    const fs::path file = sample("av.asf");
    const Bytes data = readFile(file);
    if (data.empty())
        GTEST_SKIP() << "no ASF sample";
    StreamDemuxer d;
    const auto records = feedDemuxer(d, data, 4096);
    EXPECT_EQ(d.format(), StreamFormat::Asf);
    auto* asf = dynamic_cast<AsfParser*>(d.parser());
    ASSERT_NE(asf, nullptr);
    EXPECT_EQ(asf->packetSize(), 2048);   // -packet_size 2048 in the sample script
    EXPECT_EQ(asf->videoStream(), 1);     // ffmpeg numbers its streams from 1, video first
    // ffmpeg's video stream is a plain MPEG-4 stream, not the recorders' 0x000001Fx packet
    // stream, and its packets begin with error-correction bytes: no video frame comes out.
    for (const auto& t : records)
        EXPECT_FALSE(t.kind == 1 && t.payloadLength > 0 && t.subtype == 0);
}

TEST_F(FfmpegSamples, CommandLineProbeRecognisesEverySample)
{
    const fs::path tool = fs::path(KEVRA_BIN_DIR) / "kevractl";
    if (!fs::exists(tool))
        GTEST_SKIP() << "kevractl not built";
    // ffmpeg's H.264 program stream, renumbered to video stream 0xE0 (see above).
    Bytes ps = readFile(sample("ps-h264.mpg"));
    if (!ps.empty()) {
        renumberVideoStream(ps);
        std::ofstream(dir_ / "ps-h264-e0.mpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(ps.data()),
                   static_cast<std::streamsize>(ps.size()));
    }
    const std::pair<const char*, int> expected[] = {
        {"es.m4v", 1}, {"av.avi", 1}, {"ps-mpeg4.mpg", 7}, {"ps-h264-e0.mpg", 7}, {"av.asf", 9}};
    for (const auto& [name, format] : expected) {
        const fs::path file = sample(name);
        if (!fs::exists(file))
            continue;
        const std::string out =
            run("'" + tool.string() + "' probe --block 65536 '" + file.string() + "'");
        ASSERT_FALSE(out.empty()) << name;
        EXPECT_EQ(out.rfind("{\"format\":" + std::to_string(format) + ",", 0), 0u)
            << name << ": " << out.substr(0, 80);
        // How the file is cut into blocks does not change what it is recognised as.
        const std::string tiny =
            run("'" + tool.string() + "' probe --block 3 '" + file.string() + "' | head -1");
        EXPECT_EQ(tiny.rfind("{\"format\":" + std::to_string(format) + ",", 0), 0u)
            << name << ": " << tiny.substr(0, 80);
        if (std::string(name) == "es.m4v") {
            size_t lines = 0, keys = 0;
            std::istringstream in(out);
            std::string line;
            while (std::getline(in, line)) {
                ++lines;
                keys += line.find("\"subtype\":0,") != std::string::npos;
            }
            const auto packets = probePackets(file, "v");
            size_t probeKeys = 0;
            for (const auto& p : packets)
                probeKeys += p.key;
            EXPECT_EQ(lines, packets.size());   // the end of the file ends the last frame
            EXPECT_EQ(keys, probeKeys);
        }
    }
}
