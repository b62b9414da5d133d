// "kevractl probe" on streams written by the test muxers: one JSON line per record with the
// keys in order and the payload's CRC-32, the block size option, and the exit statuses.
#include "testkit/KxavMuxer.h"
#include "testkit/PacketMuxer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace kevra;

namespace {

struct CliRun {
    int status = -1;
    std::vector<std::string> lines;
};

CliRun kevractl(const std::string& args)
{
    CliRun r;
    const std::string cmd = std::string(KEVRA_BIN_DIR) + "/kevractl " + args;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::string line;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p)) {
        line += buf;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            r.lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty())
        r.lines.push_back(line);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class TempFile {
public:
    explicit TempFile(const std::vector<uint8_t>& bytes)
    {
        static int n = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("kevra_probe_" + std::to_string(getpid()) + "_" + std::to_string(n++) + ".bin"))
                    .string();
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::vector<uint8_t> bytesOf(const std::string& s)
{
    return {s.begin(), s.end()};
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The value of "key": a number or a quoted string.
std::string field(const std::string& line, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const size_t at = line.find(tag);
    if (at == std::string::npos)
        return "<missing>";
    const size_t from = at + tag.size();
    const size_t end =
        line[from] == '"' ? line.find('"', from + 1) + 1 : line.find_first_of(",}", from);
    return line.substr(from, end - from);
}

// The keys of a flat JSON object in order of appearance.
std::vector<std::string> keysOf(const std::string& line)
{
    std::vector<std::string> keys;
    size_t pos = 0;
    while ((pos = line.find('"', pos)) != std::string::npos) {
        const size_t close = line.find('"', pos + 1);
        if (close == std::string::npos)
            break;
        if (close + 1 < line.size() && line[close + 1] == ':')
            keys.push_back(line.substr(pos + 1, close - pos - 1));
        pos = close + 1;
    }
    return keys;
}

const char* const kKeys[] = {
    "format",   "formatName",    "kind",       "subtype",       "codec",        "codecName",
    "width",    "height",        "frameRate",  "payloadLength", "packetLength", "year",
    "month",    "day",           "hour",       "minute",        "second",       "timeOfDay",
    "channels", "bitsPerSample", "sampleRate", "param1",        "param2",       "crc32"};

void expectKeysInOrder(const std::string& line)
{
    const std::vector<std::string> keys = keysOf(line);
    ASSERT_EQ(keys.size(), std::size(kKeys)) << line;
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], kKeys[i]) << line;
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
}

}   // namespace

TEST(ProbeCommand, KxavStream)
{
    KxavMuxer mux;
    const uint32_t when = KxavMuxer::packTime(2026, 12, 7, 10, 31, 42);
    std::vector<uint8_t> s = mux.videoFrame(bytesOf("123456789"), true, 8, 704, 576, 25, when);
    const auto audio = bytesOf("The quick brown fox jumps over the lazy dog");
    auto a = mux.audioFrame(audio.data(), audio.size(), 1, 10, 2, when);
    s.insert(s.end(), a.begin(), a.end());
    auto p = mux.videoFrame(bytesOf("abcdefghijklmnop"), false, 0, 0, 0, 0, when);
    s.insert(s.end(), p.begin(), p.end());
    TempFile f(s);

    const CliRun r = kevractl("probe " + f.path());
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 3u);
    for (const auto& line : r.lines) {
        expectKeysInOrder(line);
        EXPECT_EQ(field(line, "format"), "8");
    }
    EXPECT_EQ(
        r.lines[0],
        "{\"format\":8,\"formatName\":\"kxav\",\"kind\":1,\"subtype\":0,\"codec\":4,"
        "\"codecName\":\"h264\",\"width\":704,\"height\":576,"
        "\"frameRate\":25,\"payloadLength\":9,\"packetLength\":49,\"year\":2026,\"month\":12,"
        "\"day\":7,\"hour\":10,\"minute\":31,\"second\":42,\"timeOfDay\":0,\"channels\":0,"
        "\"bitsPerSample\":0,\"sampleRate\":0,\"param1\":1,\"param2\":1,\"crc32\":\"cbf43926\"}");
    EXPECT_EQ(field(r.lines[1], "kind"), "2");
    EXPECT_EQ(field(r.lines[1], "codec"), "22");
    EXPECT_EQ(field(r.lines[1], "codecName"), "\"audio\"");
    EXPECT_EQ(field(r.lines[1], "sampleRate"), "8000");
    EXPECT_EQ(field(r.lines[1], "crc32"), "\"414fa339\"");
    EXPECT_EQ(field(r.lines[2], "subtype"), "1");
    EXPECT_EQ(field(r.lines[2], "payloadLength"), "16");

    // Smaller blocks give the same records, also when no block holds a whole header.
    for (const char* block : {"100", "1", "3", "17"}) {
        const CliRun small = kevractl(std::string("probe --block ") + block + " " + f.path());
        ASSERT_EQ(small.status, 0) << block;
        EXPECT_EQ(small.lines, r.lines) << block;
    }
}

TEST(ProbeCommand, PacketStream)
{
    PacketMuxer mux;
    std::vector<uint8_t> s;
    for (int i = 0; i < 3; ++i) {
        auto k = mux.keyFrame(bytesOf(std::string(5000, char('a' + i))), 352, 288, 25, 0);
        s.insert(s.end(), k.begin(), k.end());
        auto d = mux.dependentFrame(bytesOf(std::string(700, char('k' + i))));
        s.insert(s.end(), d.begin(), d.end());
        auto a = PacketMuxer::audioPacket(bytesOf(std::string(320, char('u' + i))), 10, 2);
        s.insert(s.end(), a.begin(), a.end());
    }
    TempFile f(s);
    const CliRun r = kevractl("probe --block 4096 " + f.path());
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 9u);
    for (size_t i = 0; i < r.lines.size(); ++i) {
        expectKeysInOrder(r.lines[i]);
        EXPECT_EQ(field(r.lines[i], "format"), "4");
        EXPECT_EQ(field(r.lines[i], "formatName"), "\"packet\"");
        EXPECT_EQ(field(r.lines[i], "kind"), i % 3 == 2 ? "2" : "1");
    }
    EXPECT_EQ(field(r.lines[0], "payloadLength"), "5000");
    EXPECT_EQ(field(r.lines[0], "packetLength"), "5016");
    EXPECT_EQ(field(r.lines[1], "payloadLength"), "700");
    EXPECT_EQ(field(r.lines[2], "bitsPerSample"), "16");
}

// Nothing found is a failure scripts can tell, and standard error says how many records.
TEST(ProbeCommand, NothingRecognisedFailsWithACount)
{
    std::vector<uint8_t> random(1 << 20);
    uint32_t x = 2463534242u;
    for (uint8_t& b : random) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = uint8_t(x);
    }
    const struct {
        std::vector<uint8_t> bytes;
        const char* says;
    } cases[] = {
        {{}, "is empty: 0 frame records"},
        {bytesOf(std::string(10000, 'z')), "no stream format recognised in the 10000 bytes"},
        {random, "0 frame records"},
        // Common files handed to probe by mistake (a clip kevractl wrote, a snapshot) are named.
        {cat(bytesOf(std::string("\0\0\0\x18"
                                 "ftypisom",
                                 12)),
             random),
         "is an MP4 (ISO media) file"},
        {cat(bytesOf("\x1A\x45\xDF\xA3"), random), "is a Matroska/WebM file"},
        {cat(bytesOf("\x89PNG\r\n\x1A\n"), random), "is a PNG picture"},
        {cat(bytesOf(std::string("RIFF\0\0\0\0AVI LIST", 16)), random),
         "is an AVI file without a stream probe reads"},
    };
    for (const auto& c : cases) {
        TempFile f(c.bytes);
        const CliRun out = kevractl("probe " + f.path() + " 2>/dev/null");
        EXPECT_EQ(out.status, 1);
        EXPECT_TRUE(out.lines.empty());
        const CliRun err = kevractl("probe " + f.path() + " 2>&1 >/dev/null");
        ASSERT_EQ(err.lines.size(), 1u);
        EXPECT_NE(err.lines[0].find(c.says), std::string::npos) << err.lines[0];
    }
}

TEST(ProbeCommand, MissingFileAndBadArguments)
{
    const std::string missing = "/nonexistent/kevra/missing.bin";
    CliRun r = kevractl("probe " + missing + " 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 1);   // a failure, not a wrong argument
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find(missing), std::string::npos);

    EXPECT_EQ(kevractl("probe --block 0 x 2>/dev/null").status, 2);
    EXPECT_EQ(kevractl("probe --block 2>/dev/null").status, 2);
    EXPECT_EQ(kevractl("probe 2>/dev/null").status, 2);
    EXPECT_EQ(kevractl("nosuchcommand 2>/dev/null").status, 2);
    EXPECT_EQ(kevractl("help >/dev/null").status, 0);
    EXPECT_EQ(kevractl("probe --help >/dev/null").status, 0);
    EXPECT_EQ(kevractl("probe --bogus x 2>/dev/null").status, 2);
}
