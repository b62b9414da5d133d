// The vectorised prefix search against a plain byte loop, on random data dense in prefixes
// and in their parts, from every start offset.
#include "demux/StartCodeScanner.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using kevra::StartCodeScanner;

TEST(StartCodeScanner, FindsTheSamePrefixesAsAByteLoop)
{
    auto spells = [](const uint8_t* q, uint32_t p) {
        return q[-2] == (p >> 16 & 0xFF) && q[-1] == (p >> 8 & 0xFF) && q[0] == (p & 0xFF);
    };
    std::mt19937 rng(2026);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> d(3 + rng() % 400);
        for (auto& b : d) {
            const unsigned v = rng() % 10;
            b = v < 3 ? 0 : v < 5 ? 1 : v == 5 ? '0' : v == 6 ? '1' : v == 7 ? 'w' : uint8_t(rng());
        }
        const uint8_t* end = d.data() + d.size();
        for (size_t from = 2; from <= d.size(); ++from) {
            const uint8_t* expect = end;
            for (const uint8_t* q = d.data() + from; q < end && expect == end; ++q)
                if (spells(q, StartCodeScanner::kStartPrefix) ||
                    spells(q, StartCodeScanner::kAviAudioPrefix))
                    expect = q;
            ASSERT_EQ(StartCodeScanner::findPrefixEnd(d.data() + from, end,
                                                      StartCodeScanner::kStartPrefix,
                                                      StartCodeScanner::kAviAudioPrefix),
                      expect)
                << "round " << round << " from " << from;
        }
        const uint8_t* code = StartCodeScanner::findStartCode(d.data(), end);
        if (code != end) {
            EXPECT_EQ(code[0] | code[1], 0);
            EXPECT_EQ(code[2], 1);
        }
    }
}
