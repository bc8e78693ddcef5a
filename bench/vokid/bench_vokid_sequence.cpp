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

#include "tests/support/recording_print.h"
#include "vokid/index/track_print.h"

namespace {

const vokid::TrackPrint &print()
{
    static const vokid::TrackPrint made = vok_test::print_like_a_recording(60, 21);
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
