// vokid's stored sequences: the time to read 512 sub-fingerprints from the
// middle of a 60-block print (three minutes), as a lookup reads each
// candidate's stretch, and to read the whole print, from the plain form
// (format version 3) and the packed (4). The print changes as recordings
// do: consecutive words differ in 0, 1, 2, 3 bits 38, 24, 14, 8 times in
// 100, else in 4 to 9; kept masks of 14 bits differ in 0, 2, 4 bits 21,
// 28, 20 times in 100, else in 6 or 8.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "vokid/index/track_print.h"

namespace {

uint32_t randomBits(std::mt19937 &random, int count)
{
    uint32_t d = 0;
    while (__builtin_popcount(d) < count)
        d |= 1u << (random() % 32);
    return d;
}

int draw(std::mt19937 &random, std::initializer_list<int> shares)
{
    int r = static_cast<int>(random() % 100), k = 0;
    for (int share : shares) {
        if (r < share)
            return k;
        r -= share;
        ++k;
    }
    return k;
}

vokid::TrackPrint likeARecording(size_t blocks)
{
    std::mt19937 random(21);
    vokid::TrackPrint print;
    uint32_t word = static_cast<uint32_t>(random()), mask = 0x00003FFFu;
    for (size_t b = 0; b < blocks; ++b) {
        for (size_t i = 0; i < vokid::kBlockWords; ++i) {
            int k = draw(random, {38, 24, 14, 8});
            if (k == 4)
                k = 4 + static_cast<int>(random() % 6);
            word ^= randomBits(random, k);
            print.words.push_back(word);
            print.quiet.push_back(b % 20 == 7 && i < 40);
        }
        for (size_t k = 0; k < vokid::kKeptMasks; ++k) {
            const int half = draw(random, {21, 28, 20});
            const int swaps = half < 3 ? half : 3 + static_cast<int>(random() % 2);
            for (int s = 0; s < swaps; ++s) {
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

const vokid::TrackPrint &print()
{
    static const vokid::TrackPrint made = likeARecording(60);
    return made;
}

// The view made once (its checksum summed once); 512 frames from the
// middle, across a block's edge.
void BM_SliceOf512(benchmark::State &state)
{
    const auto form = static_cast<uint32_t>(state.range(0));
    const std::string bytes = vokid::encodeSequence(print(), 1, form);
    const vokid::SequenceView view(bytes, 1, form);
    int64_t first = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(view.slice(30 * 256 - 200, 512, first));
    state.counters["bytes_per_sub_fingerprint"] =
        static_cast<double>(bytes.size()) / static_cast<double>(print().size());
}
BENCHMARK(BM_SliceOf512)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

// As a lookup does on a sequence it has not seen: the view made, its
// checksum summed, and the stretch read.
void BM_ViewAndSliceOf512(benchmark::State &state)
{
    const auto form = static_cast<uint32_t>(state.range(0));
    const std::string bytes = vokid::encodeSequence(print(), 1, form);
    int64_t first = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(vokid::SequenceView(bytes, 1, form).slice(30 * 256 - 200, 512, first));
}
BENCHMARK(BM_ViewAndSliceOf512)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

void BM_WholePrint(benchmark::State &state)
{
    const auto form = static_cast<uint32_t>(state.range(0));
    const std::string bytes = vokid::encodeSequence(print(), 1, form);
    for (auto _ : state)
        benchmark::DoNotOptimize(vokid::decodeSequence(bytes, 1, form));
    state.counters["sub_fingerprints"] = static_cast<double>(print().size());
}
BENCHMARK(BM_WholePrint)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

void BM_Write(benchmark::State &state)
{
    const auto form = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(vokid::encodeSequence(print(), 1, form));
}
BENCHMARK(BM_Write)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
