// Which block sizes give shape ratios, checked against an independent factorisation, and the
// chain-build notice for those that give none, as the object prints it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "attackscope_fixture.h"
#include "engine/block_sizes.h"

namespace {

constexpr int sr = 44100, cap = 2048;

int largest_prime_factor(int v) {
    int largest = 1;
    for (int p = 2; p * p <= v; p++)
        while (v % p == 0) {
            largest = p;
            v /= p;
        }
    return v > 1 ? v : largest;
}

// Four blocks must reach past the pitch search's longest lag (1490 samples at 44100 Hz) and the
// transform takes prime factors up to 1024.
bool expected_ratios(int n) {
    return n <= cap && 4 * n >= 1491 && largest_prime_factor(4 * n) <= 1024;
}

std::string notice(int n) {
    char text[320] = "untouched";
    return block_notice(text, sizeof text, n, sr, cap) ? text : "";
}

TEST(BlockSizes, RatiosExactlyWhereTheCaptureFitsThePitchSearch) {
    std::vector<int> refused_above_shortest;
    for (int n = 1; n <= cap + 8; n++) {
        ASSERT_EQ(block_gives_ratios(n, sr, cap), expected_ratios(n)) << n;
        if (n >= 373 && n <= cap && !expected_ratios(n))
            refused_above_shortest.push_back(n);
    }
    // Between 373 and 2048 only primes above 1024 are refused: 1031 the first, 2039 the last.
    ASSERT_FALSE(refused_above_shortest.empty());
    EXPECT_EQ(refused_above_shortest.front(), 1031);
    EXPECT_EQ(refused_above_shortest.back(), 2039);
    for (int n : refused_above_shortest)
        EXPECT_EQ(largest_prime_factor(n), n) << n;
    EXPECT_FALSE(block_gives_ratios(372, sr, cap));
    EXPECT_TRUE(block_gives_ratios(373, sr, cap));
    EXPECT_TRUE(block_gives_ratios(1024, sr, cap));
    EXPECT_TRUE(block_gives_ratios(2048, sr, cap));
}

TEST(BlockSizes, NearestSizesGiveRatiosAndNothingCloserDoes) {
    for (int n = 1; n <= cap; n++) {
        const int below = nearest_ratio_block(n, sr, cap, -1);
        const int above = nearest_ratio_block(n, sr, cap, +1);
        if (below != 0) {
            ASSERT_LT(below, n);
            ASSERT_TRUE(expected_ratios(below)) << n;
        }
        for (int m = below + 1; m < n; m++)
            ASSERT_FALSE(expected_ratios(m)) << n << " below " << m;
        if (above != 0) {
            ASSERT_GT(above, n);
            ASSERT_TRUE(expected_ratios(above)) << n;
        }
        for (int m = n + 1; m <= (above ? above - 1 : cap); m++)
            ASSERT_FALSE(expected_ratios(m)) << n << " above " << m;
    }
    EXPECT_EQ(nearest_ratio_block(64, sr, cap, -1), 0);
    EXPECT_EQ(nearest_ratio_block(64, sr, cap, +1), 373);
    EXPECT_EQ(nearest_ratio_block(2048, sr, cap, +1), 0);
}

TEST(BlockSizes, NoticeForEverySizeWithoutRatiosAndNoOther) {
    EXPECT_EQ(notice(64), "attackscope~: block size 64 gives energies only; shape ratios need "
                          "blocks of 373 samples or more (2048 recommended)");
    EXPECT_EQ(notice(1), "attackscope~: block size 1 gives energies only; shape ratios need "
                         "blocks of 373 samples or more (2048 recommended)");
    EXPECT_EQ(notice(1031),
              "attackscope~: block size 1031 gives energies only; four blocks make 4124 samples, "
              "a length with a prime factor above 1024 that the pitch transform cannot take; the "
              "nearest sizes that give shape ratios are 1030 and 1032 (2048 recommended)");
    EXPECT_NE(notice(2039).find("are 2038 and 2040"), std::string::npos) << notice(2039);
    // Above the arrays the object refuses the block with an error instead; 0 is no block.
    for (int n : {0, -1, cap + 1, 4096})
        EXPECT_EQ(notice(n), "") << n;
    for (int n = 1; n <= cap; n++)
        ASSERT_EQ(notice(n).empty(), expected_ratios(n)) << n;

    // A short buffer gets a cut, terminated line.
    char tiny[16];
    ASSERT_TRUE(block_notice(tiny, sizeof tiny, 1031, sr, cap));
    EXPECT_EQ(std::string(tiny), "attackscope~: b");
}

// The object prints the notice once per new block size at its chain builds.
using ChainBuildNotice = attackscope_test::Scope;

TEST_F(ChainBuildNotice, OncePerNewBlockSizeWithoutRatios) {
    for (int n : {1031, 1031, 1024, 1031, 2039, 64, 2048, 2048})
        obj.dsp(n);
    const std::vector<std::string> want = {notice(1031), notice(2039), notice(64)};
    EXPECT_EQ(pdhost::console(), want);
}

TEST_F(ChainBuildNotice, APrimeBlockDropsEveryEventAndKeepsTheEnergies) {
    obj.dsp(1031);
    std::vector<float> loud(1031);
    for (size_t i = 0; i < loud.size(); i++)
        loud[i] = (i % 50 < 25) ? 0.5f : -0.5f;
    EXPECT_EQ(blocks(3, 0.0f), "GGG");
    EXPECT_EQ(block(loud), 'G');
    EXPECT_EQ(blocks(8, 0.0f), "AGGGGGGG");
    EXPECT_TRUE(obj.outlet(1).empty());
}

} // namespace
