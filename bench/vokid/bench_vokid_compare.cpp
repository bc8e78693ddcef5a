// vokid's comparison in-process: a 10-minute fingerprint (51 680
// sub-fingerprints) against a 10-second excerpt (861), and against another
// 10-minute fingerprint, in milliseconds. Not counted: process start,
// decoding, fingerprinting.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "vokid/compare/comparison.h"

namespace {

constexpr double kFramesPerSecond = 5512.5 / 64;

// Random words stand for sub-fingerprints: the comparison's cost does not
// depend on what they are.
vokid::SubFingerprints fingerprint(double seconds, uint32_t seed)
{
    std::mt19937 random(seed);
    const auto blocks = static_cast<size_t>(seconds * kFramesPerSecond / 256) + 1;
    vokid::SubFingerprints print;
    print.frameSeconds = 1 / kFramesPerSecond;
    print.blockLength = 3;
    for (size_t i = 0; i < blocks * 256; ++i)
        print.words.push_back(static_cast<uint32_t>(random()));
    print.weak.assign(print.words.size(), 0xFFFC0000u);
    print.quiet.assign(print.words.size(), 0);
    return print;
}

// An excerpt of `seconds` from the middle of A, one bit in ten flipped.
vokid::SubFingerprints excerpt(const vokid::SubFingerprints &a, double seconds)
{
    vokid::SubFingerprints b = fingerprint(seconds, 2);
    std::mt19937 random(3);
    const size_t start = a.words.size() / 2;
    for (size_t j = 0; j < b.words.size(); ++j) {
        b.words[j] = a.words[start + j];
        for (int bit = 0; bit < 32; ++bit)
            if (random() % 10 == 0)
                b.words[j] ^= 1u << bit;
    }
    return b;
}

void BM_TenMinutesAgainstTenSeconds(benchmark::State &state)
{
    const vokid::SubFingerprints a = fingerprint(600, 1);
    const vokid::SubFingerprints b = excerpt(a, 10);
    for (auto _ : state)
        benchmark::DoNotOptimize(vokid::compareStreaming(a, b, vokid::kAcceptance.maxBer));
    state.counters["words_a"] = static_cast<double>(a.words.size());
    state.counters["words_b"] = static_cast<double>(b.words.size());
}
BENCHMARK(BM_TenMinutesAgainstTenSeconds)->Unit(benchmark::kMillisecond);

// The same with a minute of quiet frames in A: every pair is masked.
void BM_TenMinutesWithSilenceAgainstTenSeconds(benchmark::State &state)
{
    vokid::SubFingerprints a = fingerprint(600, 1);
    const vokid::SubFingerprints b = excerpt(a, 10);
    std::fill(a.quiet.begin(), a.quiet.begin() + static_cast<long>(60 * kFramesPerSecond), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(vokid::compareStreaming(a, b, vokid::kAcceptance.maxBer));
}
BENCHMARK(BM_TenMinutesWithSilenceAgainstTenSeconds)->Unit(benchmark::kMillisecond);

void BM_TenMinutesAgainstTenMinutes(benchmark::State &state)
{
    const vokid::SubFingerprints a = fingerprint(600, 1);
    const vokid::SubFingerprints b = fingerprint(600, 4);
    for (auto _ : state)
        benchmark::DoNotOptimize(vokid::compareStreaming(a, b, vokid::kAcceptance.maxBer));
}
BENCHMARK(BM_TenMinutesAgainstTenMinutes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
