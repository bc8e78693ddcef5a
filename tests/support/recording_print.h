// A track's print that changes as the prints of recordings do, made from a
// seed: for the tests and the benchmark of the stored sequences. Header
// only, so that the benchmarks (built without the tests) include it too.
#ifndef VOK_TESTS_SUPPORT_RECORDING_PRINT_H
#define VOK_TESTS_SUPPORT_RECORDING_PRINT_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <random>

#include "vokid/index/track_print.h"

namespace vok_test {

// `count` distinct bits at random.
inline uint32_t random_bits(std::mt19937 &random, int count)
{
    uint32_t d = 0;
    while (__builtin_popcount(static_cast<unsigned>(d)) < count)
        d |= 1u << (random() % 32);
    return d;
}

// Consecutive words differ in 0, 1, 2, 3 bits 38, 24, 14, 8 times in 100,
// else in 4 to 9; every kept mask has 14 bits set and differs from the one
// before in 0, 2, 4 bits 21, 28, 20 times in 100, else in 6 or 8; one
// block in 20 has quiet frames.
inline vokid::TrackPrint print_like_a_recording(size_t blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    const auto draw = [&](std::initializer_list<int> shares) {
        int r = static_cast<int>(random() % 100), k = 0;
        for (int share : shares) {
            if (r < share)
                return k;
            r -= share;
            ++k;
        }
        return k;
    };
    vokid::TrackPrint print;
    uint32_t word = static_cast<uint32_t>(random()), mask = 0x00003FFFu;
    for (size_t b = 0; b < blocks; ++b) {
        for (size_t i = 0; i < vokid::kBlockWords; ++i) {
            int k = draw({38, 24, 14, 8});
            if (k == 4)
                k = 4 + static_cast<int>(random() % 6);
            word ^= random_bits(random, k);
            print.words.push_back(word);
            print.quiet.push_back(b % 20 == 7 && i < 40);
        }
        for (size_t k = 0; k < vokid::kKeptMasks; ++k) {
            const int half = draw({21, 28, 20});
            const int swaps = half < 3 ? half : 3 + static_cast<int>(random() % 2);
            for (int s = 0; s < swaps; ++s) { // a set bit cleared, a clear one set
                uint32_t set = mask, clear = ~mask;
                for (auto r = random() % 14; r > 0; --r)
                    set &= set - 1;
                for (auto r = random() % 18; r > 0; --r)
                    clear &= clear - 1;
                mask ^= (set & (0u - set)) | (clear & (0u - clear));
            }
            print.masks.push_back(mask);
        }
    }
    return print;
}

} // namespace vok_test

#endif
