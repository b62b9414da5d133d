// Entry of kevra_bench: Google Benchmark's own flags, plus --kevra_results=FILE, which writes
// a markdown summary (machine, every result, and the converter's ratios) after the run.
#include "video/ColourConverter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Result {
    std::string name;
    double realNs = 0;
    double cpuNs = 0;
    std::map<std::string, double> counters;
    std::string label;
    std::string error;
    int64_t family = 0;     // registration order, so that tables keep it when the runs were
    int64_t instance = 0;   // interleaved at random
};

double toNs(double t, benchmark::TimeUnit unit)
{
    switch (unit) {
    case benchmark::kSecond: return t * 1e9;
    case benchmark::kMillisecond: return t * 1e6;
    case benchmark::kMicrosecond: return t * 1e3;
    default: return t;
    }
}

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")
                continue;
            Result x;
            // The registered name, without suffixes such as "/real_time" or "/iterations:1".
            x.name = r.run_name.function_name;
            if (r.run_type == Run::RT_Aggregate)
                x.name += "_" + r.aggregate_name;
            x.realNs = toNs(r.GetAdjustedRealTime(), r.time_unit);
            x.cpuNs = toNs(r.GetAdjustedCPUTime(), r.time_unit);
            for (const auto& c : r.counters)
                x.counters[c.first] = c.second.value;
            x.label = r.report_label;
            x.family = static_cast<int64_t>(r.family_index);
            x.instance = static_cast<int64_t>(r.per_family_instance_index);
            if (r.error_occurred)
                x.error = r.error_message;
            results.push_back(std::move(x));
        }
    }
    std::vector<Result> results;
};

std::string cpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos)
                return line.substr(colon + 2);
        }
    }
    return "unknown";
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    if (!(in >> a >> b >> c))
        return "unknown";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f, %.2f, %.2f", a, b, c);
    return buf;
}

std::string fmt(double v, int decimals = 0)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// "BM_Convert/kevra/32/1920x1080" -> impl "kevra", key "32/1920x1080".
bool splitConvert(const std::string& name, std::string& impl, std::string& key)
{
    const std::string prefix = "BM_Convert/";
    if (name.rfind(prefix, 0) != 0)
        return false;
    const std::string rest = name.substr(prefix.size());
    const auto slash = rest.find('/');
    if (slash == std::string::npos)
        return false;
    impl = rest.substr(0, slash);
    key = rest.substr(slash + 1);
    return true;
}

// With --benchmark_repetitions, each benchmark's median stands for it (under its plain name)
// and the single repetitions are left out.
std::vector<Result> mediansOnly(const std::vector<Result>& all)
{
    const std::string suffix = "_median";
    std::vector<std::string> withMedian;
    for (const Result& r : all)
        if (r.name.size() > suffix.size() &&
            r.name.compare(r.name.size() - suffix.size(), suffix.size(), suffix) == 0)
            withMedian.push_back(r.name.substr(0, r.name.size() - suffix.size()));
    std::vector<Result> out;
    for (const Result& r : all) {
        if (std::find(withMedian.begin(), withMedian.end(), r.name) != withMedian.end())
            continue;
        Result x = r;
        if (std::find(withMedian.begin(), withMedian.end(),
                      r.name.substr(0, r.name.size() - std::min(r.name.size(), suffix.size()))) !=
            withMedian.end())
            x.name.resize(x.name.size() - suffix.size());
        out.push_back(std::move(x));
    }
    return out;
}

void writeSummary(const std::string& path, const std::vector<Result>& allResults)
{
    std::vector<Result> results = mediansOnly(allResults);
    std::stable_sort(results.begin(), results.end(), [](const Result& a, const Result& b) {
        return a.family != b.family ? a.family < b.family : a.instance < b.instance;
    });
    std::ostringstream md;
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    md << "# KEVRA benchmark results\n\n";
    md << "Written by `scripts/bench.sh` on " << date << ".\n\n";
    md << "- CPU: " << cpuModel() << "\n";
    md << "- Converter implementations this processor runs:";
    for (const char* const* p = kevra::ColourConverter::pathNames(); *p; ++p)
        if (kevra::ColourConverter::hasPath(*p))
            md << " " << *p;
    md << " (convert() uses " << kevra::ColourConverter::fastPathName()
       << "; KEVRA_CONVERTER=<name> chooses another)\n";
    md << "- Logical cores: " << std::thread::hardware_concurrency() << "\n";
    // Repetitions: each single run is collected under the plain name beside its median.
    size_t repetitions = 1;
    for (const Result& r : allResults)
        if (r.name.size() > 7 && r.name.compare(r.name.size() - 7, 7, "_median") == 0) {
            const std::string base = r.name.substr(0, r.name.size() - 7);
            repetitions =
                static_cast<size_t>(std::count_if(allResults.begin(), allResults.end(),
                                                  [&](const Result& x) { return x.name == base; }));
            break;
        }
    if (repetitions > 1)
        md << "- Every figure is the median of " << repetitions
           << " repetitions (with `--benchmark_enable_random_interleaving`, run in random "
              "order among the others)\n";
    md << "- Load average when the run ended (1, 5, 15 min): " << loadAverage() << "\n";
    // How much other work shared the processor, from this run: a one-thread benchmark on an
    // otherwise idle core takes as much real time as CPU time.
    double realNs = 0, cpuNs = 0;
    for (const Result& r : results)
        if (r.error.empty() && r.cpuNs > 0 &&
            (r.name.rfind("BM_Convert/", 0) == 0 || r.name.rfind("BM_Demux/", 0) == 0)) {
            realNs += r.realNs;
            cpuNs += r.cpuNs;
        }
    if (cpuNs > 0)
        md << "- Real time of the one-thread benchmarks (conversion, demultiplexing) was "
           << fmt(100 * (realNs / cpuNs - 1), 1)
           << "% above their CPU time (other work on the machine raises it)\n";
    md << "- Conversion and demultiplexing run on one thread; their rates are per second of CPU "
          "time. "
          "Decoding rates are per second of the process's CPU time (the H.264 decoder's slice "
          "threads included); "
          "link rates are over a 4-second wall-clock window.\n\n";

    // The converter side by side: Mpixel/s per implementation for each depth and size.
    std::map<std::string, std::map<std::string, double>> convert;   // key -> impl -> Mpixel/s
    std::vector<std::string> keys;
    std::vector<std::string> impls;
    for (const Result& r : results) {
        std::string impl, key;
        if (!splitConvert(r.name, impl, key) || !r.error.empty())
            continue;
        auto it = r.counters.find("Mpixel/s");
        if (it == r.counters.end())
            continue;
        if (std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
        if (std::find(impls.begin(), impls.end(), impl) == impls.end())
            impls.push_back(impl);
        convert[key][impl] = it->second;
    }
    if (!keys.empty()) {
        // Our implementations (kevra-<instruction set>) and the libraries' labels (the
        // instruction sets they detected), in the order they ran.
        std::vector<std::string> ours;
        std::map<std::string, std::string> labels;
        for (const auto& i : impls)
            if (i.rfind("kevra-", 0) == 0)
                ours.push_back(i);
        for (const Result& r : results) {
            std::string impl, key;
            if (splitConvert(r.name, impl, key) && r.error.empty() && !r.label.empty())
                labels[impl] = r.label;
        }
        md << "## Colour conversion (Mpixel/s)\n\n";
        md << "Every implementation of ours this processor runs is measured in the same run: "
              "`kevra-sse2`, "
              "`kevra-avx2`, `kevra-avx512` and `kevra-neon` are the SSE2, AVX2, AVX-512 (BW and "
              "VBMI) and "
              "NEON "
              "paths, `reference` the plain scalar table formula. "
              "`libyuv` and `swscale` produce exactly our layout (24/32 bits bottom-up); "
              "`libyuv-upright` writes top-down, libyuv's natural direction; `libyuv-avx2` and "
              "`swscale-avx2` run the libraries with their AVX-512 flags masked (as on a processor "
              "limited to AVX2). "
              "`memcpy` copies a picture of the output's size (the memory floor).\n\n";
        for (const auto& [impl, label] : labels)
            if (impl.rfind("kevra-", 0) != 0)
                md << "- " << impl << ": " << label << "\n";
        md << "\n| depth/size |";
        for (const auto& i : impls)
            md << " " << i << " |";
        md << "\n|---|";
        for (size_t i = 0; i < impls.size(); ++i)
            md << "---:|";
        md << "\n";
        for (const auto& k : keys) {
            const auto& row = convert[k];
            md << "| " << k << " |";
            for (const auto& i : impls) {
                auto it = row.find(i);
                md << " " << (it == row.end() ? std::string("-") : fmt(it->second)) << " |";
            }
            md << "\n";
        }
        // Where the processor has AVX-512, the libraries also ran limited to AVX2: our paths
        // below AVX-512 are set against those as well, as on a processor without AVX-512.
        const bool masked = std::find(impls.begin(), impls.end(), "libyuv-avx2") != impls.end() ||
                            std::find(impls.begin(), impls.end(), "swscale-avx2") != impls.end();
        std::vector<std::string> limited;
        if (masked)
            for (const auto& o : ours)
                if (o == "kevra-sse2" || o == "kevra-avx2")
                    limited.push_back(o);
        md << "\n### Ratios per instruction set\n\n"
              "Each of our paths against the fastest library figure of the same depth and size "
              "(any of "
              "`libyuv`, `libyuv-upright`, `libyuv-avx2`, `swscale`, `swscale-avx2`)"
           << (limited.empty()
                   ? ""
                   : "; our paths below AVX-512 also against the fastest of the libraries "
                     "limited to AVX2 (`libyuv-avx2`, `swscale-avx2`: \"AVX2 machine\")")
           << "; and against `memcpy`.\n\n| depth/size |";
        for (const auto& o : ours)
            md << " " << o.substr(6) << " / best library |";
        for (const auto& o : limited)
            md << " " << o.substr(6) << " / best library, AVX2 machine |";
        for (const auto& o : ours)
            md << " " << o.substr(6) << " / memcpy |";
        md << "\n|---|";
        for (size_t i = 0; i < 2 * ours.size() + limited.size(); ++i)
            md << "---:|";
        md << "\n";
        auto bestOf = [](const std::map<std::string, double>& row,
                         std::initializer_list<const char*> libs) {
            double best = 0;
            for (const char* lib : libs) {
                auto it = row.find(lib);
                if (it != row.end())
                    best = std::max(best, it->second);
            }
            return best;
        };
        for (const auto& k : keys) {
            const auto& row = convert[k];
            const double best =
                bestOf(row, {"libyuv", "libyuv-upright", "libyuv-avx2", "swscale", "swscale-avx2"});
            const double bestAvx2 = bestOf(row, {"libyuv-avx2", "swscale-avx2"});
            auto mc = row.find("memcpy");
            md << "| " << k << " |";
            for (const auto& o : ours) {
                auto it = row.find(o);
                md << " "
                   << (it != row.end() && best > 0 ? fmt(it->second / best, 2) : std::string("-"))
                   << " |";
            }
            for (const auto& o : limited) {
                auto it = row.find(o);
                md << " "
                   << (it != row.end() && bestAvx2 > 0 ? fmt(it->second / bestAvx2, 2)
                                                       : std::string("-"))
                   << " |";
            }
            for (const auto& o : ours) {
                auto it = row.find(o);
                md << " "
                   << (it != row.end() && mc != row.end() && mc->second > 0
                           ? fmt(it->second / mc->second, 2)
                           : std::string("-"))
                   << " |";
            }
            md << "\n";
        }
        md << "\n";
        if (std::find(ours.begin(), ours.end(), "kevra-neon") == ours.end())
            md << "This processor runs no NEON path, so its speed is not measured here (the test "
                  "run checks it for exactness under emulation, qemu-user).\n\n";
        md << "32-bit pictures of 4 MB and more (1920x1080 here) are written by kevra with "
              "streaming stores when the buffer is aligned, so that they do not push the "
              "decoder's pictures out of the caches; this table does not compare them with "
              "ordinary stores.\n\n";
    }

    // The other comparisons, looked up by benchmark name.
    std::map<std::string, const Result*> byName;
    for (const Result& r : results)
        if (r.error.empty())
            byName[r.name] = &r;
    auto counter = [&](const std::string& name, const char* key) -> double {
        auto it = byName.find(name);
        if (it == byName.end())
            return -1;
        auto c = it->second->counters.find(key);
        return c == it->second->counters.end() ? -1 : c->second;
    };
    auto cell = [](double v, int decimals = 0) {
        return v < 0 ? std::string("-") : fmt(v, decimals);
    };
    auto ratio = [](double a, double b) {
        return a < 0 || b <= 0 ? std::string("-") : fmt(a / b, 2);
    };

    if (byName.count("BM_Demux/kevra/ps") || byName.count("BM_Demux/kevra/kxav")) {
        md << "## Demultiplexing (MB/s of input, 64 KB blocks from memory)\n\n";
        md << "Records: frame records from `nextFrame` (kevra) or packets from "
              "`av_read_frame`.\n\n";
        md << "| format | kevra | libavformat | kevra / libavformat | input MB | kevra records | "
              "libavformat packets |\n"
              "|---|---:|---:|---:|---:|---:|---:|\n";
        for (const char* f : {"ps", "avi", "m4v", "asf", "kxav", "packet"}) {
            const std::string k = std::string("BM_Demux/kevra/") + f,
                              l = std::string("BM_Demux/libavformat/") + f;
            if (!byName.count(k) && !byName.count(l))
                continue;
            const double kv = counter(k, "MB/s"), lv = counter(l, "MB/s");
            md << "| " << f << " | " << cell(kv) << " | " << cell(lv) << " | " << ratio(kv, lv)
               << " | " << cell(std::max(counter(k, "MB"), counter(l, "MB")), 1) << " | "
               << cell(counter(k, "frames")) << " | " << cell(counter(l, "frames")) << " |\n";
        }
        md << "\n- ps: ffmpeg numbers H.264 video 0xE2; both sides read the file renumbered to "
              "0xE0, the stream recorders send. kevra hands out a record per video PES packet, "
              "libavformat a packet per frame.\n"
              "- avi: libavformat hands out the file's chunks without looking into them; kevra's "
              "AVI path scans the MPEG-4 video for start codes and audio tags (vectorised prefix "
              "search).\n"
              "- m4v: the same MPEG-4 video as a raw elementary stream; libavformat splits it into "
              "frames with its MPEG-4 parser.";
        const double m4vOurs = counter("BM_Demux/kevra/m4v", "frames"),
                     m4vTheirs = counter("BM_Demux/libavformat/m4v", "frames");
        if (m4vOurs >= 0 && m4vOurs + 1 == m4vTheirs)
            md << " kevra's one record fewer is the last frame, held back until a start code "
                  "follows it.";
        md << "\n- asf: ffmpeg's ASF carries plain MPEG-4 video, not the recorders' packet stream "
              "inside ASF";
        if (counter("BM_Demux/kevra/asf", "frames") == 0)
            md << "; kevra found no frames in it, so its rate is the ASF packet walk with the "
                  "inner scan";
        md << ".\n\n";
    }

    if (byName.count("BM_Decode/kevra/1920x1080") || byName.count("BM_Decode/kevra/704x576")) {
        md << "## Decoding to 32-bit pictures (frames per second of process CPU time)\n\n";
        md << "The same frames through the DecoderWorker (queue, demultiplexer, decoder, "
              "conversion "
              "straight from the decoder's planes) and through bare libavcodec + ColourConverter. "
              "Separate runs (`BM_Decode`) and paired runs (`BM_DecodePair`: both sides in turn "
              "within "
              "every iteration, so load on a shared machine weighs on both alike; the ratio to go "
              "by "
              "here).\n\n";
        md << "| codec/size | kevra DecoderWorker | libavcodec + convert | kevra / libavcodec | "
              "paired: kevra | "
              "paired: libavcodec | paired: kevra / libavcodec "
              "|\n|---|---:|---:|---:|---:|---:|---:|\n";
        for (const char* codec : {"", "-mpeg4"})
            for (const char* sz : {"704x576", "1920x1080"}) {
                const std::string tail = std::string(codec) + "/" + sz;
                const double kv = counter("BM_Decode/kevra" + tail, "frames/s");
                const double lv = counter("BM_Decode/libavcodec" + tail, "frames/s");
                const std::string pair = "BM_DecodePair" + tail;
                const double pr = counter(pair, "ratio");
                if (kv < 0 && lv < 0 && pr < 0)
                    continue;
                md << "| " << (*codec ? "mpeg4/" : "h264/") << sz << " | " << cell(kv) << " | "
                   << cell(lv) << " | " << ratio(kv, lv) << " | "
                   << cell(counter(pair, "kevra frames/s")) << " | "
                   << cell(counter(pair, "libavcodec frames/s")) << " | " << cell(pr, 2) << " |\n";
            }
        md << "\n";
    }

    std::vector<const Result*> links;
    for (const Result& r : results)
        if (r.name.rfind("BM_Link/", 0) == 0)
            links.push_back(&r);
    if (!links.empty()) {
        md << "## Link from kevra-recorder on loopback into the decoder's queue\n\n";
        md << "Asked: the simulator's `--bitrate` (its encoder may deliver less); received: media "
              "bytes that "
              "reached the input queue; frames/s: pictures converted and taken; dropped: chunks "
              "the input "
              "queue discarded plus the simulator's drop events.\n\n";
        md << "| run | asked Mbit/s | received Mbit/s | MB/s | frames/s | dropped | result |\n"
              "|---|---:|---:|---:|---:|---:|---|\n";
        double best = -1;
        for (const Result* r : links) {
            auto get = [&](const char* key) {
                auto c = r->counters.find(key);
                return c == r->counters.end() ? -1.0 : c->second;
            };
            const std::string& run = r->name;
            md << "| " << run << " | " << cell(get("asked Mbit/s")) << " | "
               << cell(get("Mbit/s"), 1) << " | " << cell(get("MB/s"), 2) << " | "
               << cell(get("frames/s"), 1) << " | " << cell(get("dropped")) << " | "
               << (r->error.empty() ? r->label : "error: " + r->error) << " |\n";
            if (r->error.empty() && r->label == "sustained" &&
                run.find("1920x1080") != std::string::npos)
                best = std::max(best, get("Mbit/s"));
        }
        md << "\nHighest 1080p bitrate received with no dropped input and 24+ pictures/s: "
           << (best < 0 ? std::string("none") : fmt(best, 1) + " Mbit/s") << ".";
        for (const Result* r : links) {
            if (r->name != "BM_Link/1920x1080/ceiling" || !r->error.empty())
                continue;
            auto get = [&](const char* key) {
                auto c = r->counters.find(key);
                return c == r->counters.end() ? -1.0 : c->second;
            };
            // The network worker reads a connection again at once while bytes keep arriving
            // (it sleeps only after a step that found none): this run is what loopback and the
            // simulator deliver.
            md << " The ceiling run (incompressible frames of about 5 MB, far more than the link "
                  "carries) received "
               << fmt(get("Mbit/s"), 1) << " Mbit/s and showed " << fmt(get("frames/s"), 1)
               << " pictures/s";
            if (get("frames/s") == 0 && get("dropped") > 0)
                md << ": its frames exceed the decoder's 1 MiB input queue, which discarded "
                   << fmt(get("dropped")) << " chunks";
            md << ".";
        }
        md << "\n\n";
    }

    md << "## All results\n\n| benchmark | real time (ns) | CPU time (ns) | counters | note "
          "|\n|---|---:|---:|---|---|\n";
    for (const Result& r : results) {
        std::string counters;
        for (const auto& c : r.counters) {
            if (!counters.empty())
                counters += ", ";
            counters += c.first + " " + fmt(c.second, c.second < 100 ? 2 : 0);
        }
        md << "| " << r.name << " | " << fmt(r.realNs) << " | " << fmt(r.cpuNs) << " | " << counters
           << " | " << (r.error.empty() ? r.label : "error: " + r.error) << " |\n";
    }

    // Sections the scripts write (the viewer's, the gateway's, the latency's: each opened by a
    // "<!-- NAME-measurements -->" marker) stay in the file, from the first of them on.
    std::string kept;
    {
        std::ifstream in(path);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        const size_t marker = text.find("-measurements -->");
        const size_t from =
            marker == std::string::npos ? std::string::npos : text.rfind("<!-- ", marker);
        if (from != std::string::npos)
            kept = "\n" + text.substr(from);
    }
    std::ofstream out(path, std::ios::trunc);
    out << md.str() << kept;
    if (!out)
        std::fprintf(stderr, "kevra_bench: cannot write %s\n", path.c_str());
}

}   // namespace

int main(int argc, char** argv)
{
    std::string summary;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const char* flag = "--kevra_results=";
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            summary = argv[i] + std::strlen(flag);
        else
            args.push_back(argv[i]);
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!summary.empty())
        writeSummary(summary, reporter.results);
    return 0;
}
