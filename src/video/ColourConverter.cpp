#include "video/ColourConverter.h"

#include "video/ColourKernels.h"

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace kevra {

namespace {

using namespace colour;

bool validArgs(const ColourConverter::Planes& p, int w, int h, const uint8_t* out)
{
    return p.y && p.u && p.v && out && w > 0 && h > 0 && p.yStride >= w && p.uStride >= w / 2 &&
           p.vStride >= w / 2;
}

Src source(const ColourConverter::Planes& p)
{
    return {p.y,
            p.u,
            p.v,
            static_cast<size_t>(p.yStride),
            static_cast<size_t>(p.uStride),
            static_cast<size_t>(p.vStride)};
}

ColourConverter::Planes packed(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w)
{
    return {y, u, v, w, w / 2, w / 2};
}

struct Path {
    const char* name;
    ConvertFn fn;
};

// Every implementation built for this processor family, slowest first.
constexpr Path kPaths[] = {
    {"scalar", convertScalar},
#ifdef KEVRA_X86_SIMD
    {"sse2", convertSse2},     {"avx2", convertAvx2}, {"avx512", convertAvx512},
#endif
#ifdef KEVRA_NEON
    {"neon", convertNeon},
#endif
};
constexpr int kPathCount = static_cast<int>(sizeof kPaths / sizeof kPaths[0]);

bool runsHere(const Path& p)
{
#ifdef KEVRA_X86_SIMD
    __builtin_cpu_init();
    const std::string_view n(p.name);
    if (n == "avx2")
        return __builtin_cpu_supports("avx2");
    if (n == "avx512")
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
#endif
    (void)p;
    return true;
}

int findPath(const char* name)
{
    if (!name)
        return -1;
    for (int i = 0; i < kPathCount; ++i)
        if (std::string_view(kPaths[i].name) == name)
            return runsHere(kPaths[i]) ? i : -1;
    return -1;
}

int bestPath()
{
    int best = 0;
    for (int i = 0; i < kPathCount; ++i)
        if (runsHere(kPaths[i]))
            best = i;
    return best;
}

// The path convert() takes: KEVRA_CONVERTER names one when it runs here, else the fastest.
std::atomic<int>& activePath()
{
    static std::atomic<int> active{[] {
        const int forced = findPath(std::getenv("KEVRA_CONVERTER"));
        return forced >= 0 ? forced : bestPath();
    }()};
    return active;
}

int bytesPerPixel(int bitsPerPixel)
{
    if (bitsPerPixel == 16)
        return 2;
    if (bitsPerPixel == 24)
        return 3;
    return 4;
}

}   // namespace

void ColourConverter::convert(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                              int height, uint8_t* out, int bitsPerPixel)
{
    convert(packed(y, u, v, width), width, height, out, bitsPerPixel);
}

void ColourConverter::convert(const Planes& in, int width, int height, uint8_t* out,
                              int bitsPerPixel)
{
    if (!validArgs(in, width, height, out))
        return;
    kPaths[activePath().load(std::memory_order_relaxed)].fn(source(in), width, height, out,
                                                            bytesPerPixel(bitsPerPixel));
}

void ColourConverter::convertReference(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                       int width, int height, uint8_t* out, int bitsPerPixel)
{
    const Planes in = packed(y, u, v, width);
    if (!validArgs(in, width, height, out))
        return;
    convertScalar(source(in), width, height, out, bytesPerPixel(bitsPerPixel));
}

bool ColourConverter::convertUsing(const char* pathName, const uint8_t* y, const uint8_t* u,
                                   const uint8_t* v, int width, int height, uint8_t* out,
                                   int bitsPerPixel)
{
    return convertUsing(pathName, packed(y, u, v, width), width, height, out, bitsPerPixel);
}

bool ColourConverter::convertUsing(const char* pathName, const Planes& in, int width, int height,
                                   uint8_t* out, int bitsPerPixel)
{
    const int i = findPath(pathName);
    if (i < 0 || !validArgs(in, width, height, out))
        return false;
    kPaths[i].fn(source(in), width, height, out, bytesPerPixel(bitsPerPixel));
    return true;
}

const char* ColourConverter::fastPathName()
{
    return kPaths[activePath().load(std::memory_order_relaxed)].name;
}

bool ColourConverter::hasPath(const char* pathName)
{
    return findPath(pathName) >= 0;
}

bool ColourConverter::usePath(const char* pathName)
{
    const int i = (pathName && *pathName) ? findPath(pathName) : bestPath();
    if (i < 0)
        return false;
    activePath().store(i, std::memory_order_relaxed);
    return true;
}

const char* const* ColourConverter::pathNames()
{
    static const char* const names[] = {
        "scalar", "sse2", "avx2", "avx512", "neon", nullptr,
    };
    return names;
}

const int32_t* ColourConverter::lumaTable()
{
    return kTables.luma;
}
const int32_t* ColourConverter::uToBlueTable()
{
    return kTables.uBlue;
}
const int32_t* ColourConverter::uToGreenTable()
{
    return kTables.uGreen;
}
const int32_t* ColourConverter::vToGreenTable()
{
    return kTables.vGreen;
}
const int32_t* ColourConverter::vToRedTable()
{
    return kTables.vRed;
}

}   // namespace kevra