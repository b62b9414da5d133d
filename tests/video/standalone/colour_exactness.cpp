// Standalone check that every colour converter implementation this processor can run gives
// the reference's bytes, over random pictures of odd and even sizes in every depth. Needs
// nothing but the converter, so a cross-compiled copy runs under an emulator (the ARM stage of
// scripts/test-all.sh). Prints one line per implementation; exit status 1 on any difference.
#include "video/ColourConverter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using kevra::ColourConverter;

namespace {

struct Size {
    int w, h;
};

// Widths around every vector step (16, 32, 64 pixels) and their tails, odd heights included.
constexpr Size kSizes[] = {{1, 1},   {2, 2},     {3, 3},     {5, 7},     {16, 2},   {17, 3},
                           {31, 5},  {32, 4},    {33, 9},    {34, 6},    {63, 3},   {64, 2},
                           {65, 2},  {66, 4},    {95, 5},    {96, 2},    {127, 17}, {128, 6},
                           {129, 5}, {176, 144}, {351, 287}, {352, 288}, {706, 6},  {1921, 3}};

int checkPath(const char* path)
{
    std::mt19937 rng(20261207);
    int failures = 0;
    for (const Size s : kSizes) {
        const size_t luma = size_t(s.w) * s.h;
        const size_t chroma = size_t(s.w / 2) * (s.h / 2) + 1;   // never empty
        std::vector<uint8_t> y(luma), u(chroma), v(chroma);
        for (auto* plane : {&y, &u, &v})
            for (auto& b : *plane)
                b = uint8_t(rng());
        y[0] = 0;   // saturation in every direction
        u[0] = 255;
        v[0] = 0;
        // The same picture with padded rows (a decoder's strides), garbage in the padding.
        const int ys = s.w + 13, us = s.w / 2 + 7, vs = s.w / 2 + 3;
        std::vector<uint8_t> py(size_t(ys) * s.h), pu(size_t(us) * (s.h / 2) + 1),
            pv(size_t(vs) * (s.h / 2) + 1);
        for (auto* plane : {&py, &pu, &pv})
            for (auto& b : *plane)
                b = uint8_t(rng());
        for (int r = 0; r < s.h; ++r)
            std::copy_n(y.data() + size_t(r) * s.w, s.w, py.data() + size_t(r) * ys);
        for (int r = 0; r < s.h / 2; ++r) {
            std::copy_n(u.data() + size_t(r) * (s.w / 2), s.w / 2, pu.data() + size_t(r) * us);
            std::copy_n(v.data() + size_t(r) * (s.w / 2), s.w / 2, pv.data() + size_t(r) * vs);
        }
        pu[0] = u[0];
        pv[0] = v[0];
        const ColourConverter::Planes padded{py.data(), pu.data(), pv.data(), ys, us, vs};
        for (int bits : {16, 24, 32}) {
            const size_t bytes = luma * size_t(bits / 8);
            std::vector<uint8_t> expect(bytes, 0xC3), out(bytes, 0xC3);
            ColourConverter::convertReference(y.data(), u.data(), v.data(), s.w, s.h, expect.data(),
                                              bits);
            ColourConverter::convertUsing(path, y.data(), u.data(), v.data(), s.w, s.h, out.data(),
                                          bits);
            if (out != expect) {
                std::printf("%s: %d bits %dx%d differs from the reference\n", path, bits, s.w, s.h);
                ++failures;
            }
            std::fill(out.begin(), out.end(), 0xC3);
            ColourConverter::convertUsing(path, padded, s.w, s.h, out.data(), bits);
            if (out != expect) {
                std::printf("%s: %d bits %dx%d with padded rows differs from the reference\n", path,
                            bits, s.w, s.h);
                ++failures;
            }
        }
    }
    return failures;
}

}   // namespace

int main()
{
    int failures = 0, checked = 0;
    for (const char* const* name = ColourConverter::pathNames(); *name; ++name) {
        if (!ColourConverter::hasPath(*name)) {
            std::printf("%-7s not available here\n", *name);
            continue;
        }
        const int f = checkPath(*name);
        std::printf("%-7s %s\n", *name, f ? "DIFFERS" : "matches the reference");
        failures += f;
        ++checked;
    }
    std::printf("%d implementations checked, fastest here: %s\n", checked,
                ColourConverter::fastPathName());
    return failures ? 1 : 0;
}
