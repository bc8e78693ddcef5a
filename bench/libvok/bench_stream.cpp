// Streaming fingerprint throughput: 60 s of 44.1 kHz stereo 16-bit audio
// through eng_add_audio, reported as audio seconds per wall-clock second,
// on the widest path and then on each path this processor runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "algo/stream/strm_lanes.h"
#include <vok/vok_engine.h>

namespace {

const uint32_t kRate = 44100;
const uint32_t kSeconds = 60;
// The driver's read size for this format: 3.5 s of audio.
const uint32_t kPieceBytes = 1234800;

// Music-like test signal: a few drifting tones with vibrato and a little
// noise, different in the two channels. Deterministic.
std::vector<uint8_t> make_audio()
{
    const uint32_t frames = kRate * kSeconds;
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * 4);
    uint32_t noise = 12345;
    const double pi = 3.14159265358979323846;
    for (uint32_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double f1 = 220.0 * (1.0 + 0.5 * std::sin(2 * pi * 0.05 * t));
        const double f2 = 660.0 + 40.0 * std::sin(2 * pi * 5.0 * t);
        const double env = 0.6 + 0.4 * std::sin(2 * pi * 1.7 * t);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.05;
        const double left =
            env * (0.4 * std::sin(2 * pi * f1 * t) + 0.2 * std::sin(2 * pi * f2 * t)) + hiss;
        const double right =
            env * (0.3 * std::sin(2 * pi * f1 * 1.5 * t) + 0.2 * std::sin(2 * pi * f2 * t)) - hiss;
        const int16_t l = static_cast<int16_t>(std::lround(left * 30000.0));
        const int16_t r = static_cast<int16_t>(std::lround(right * 30000.0));
        uint8_t *frame = &bytes[static_cast<size_t>(n) * 4];
        frame[0] = static_cast<uint8_t>(static_cast<uint16_t>(l) & 0xFF);
        frame[1] = static_cast<uint8_t>(static_cast<uint16_t>(l) >> 8);
        frame[2] = static_cast<uint8_t>(static_cast<uint16_t>(r) & 0xFF);
        frame[3] = static_cast<uint8_t>(static_cast<uint16_t>(r) >> 8);
    }
    return bytes;
}

void BM_Stream1_60s_44k1_stereo(benchmark::State &state)
{
    const EngineConfig config = {nullptr, 0, 0};
    eng_initialize(&config);
    const auto path = static_cast<StreamPath>(state.range(0));
    if (strm_use_path(path) != ENG_OK) {
        state.SkipWithError("this processor lacks the path's instructions");
        return;
    }
    static const std::vector<uint8_t> audio = make_audio();
    for (auto _ : state) {
        EngineHandle *handle = nullptr;
        if (eng_create(3, SAMPLE_PCM_S16, kRate, 2, &handle) != 0) {
            state.SkipWithError("eng_create failed");
            break;
        }
        uint8_t done = 0;
        for (size_t at = 0; at < audio.size(); at += kPieceBytes) {
            const size_t left = audio.size() - at;
            const uint32_t piece = static_cast<uint32_t>(left < kPieceBytes ? left : kPieceBytes);
            eng_add_audio(handle, audio.data() + at, piece, &done);
        }
        benchmark::DoNotOptimize(done);
        eng_destroy(&handle);
    }
    strm_use_path(STRM_PATH_BEST);
    state.counters["audio_s_per_s"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// Argument: the path (0 widest, 1 scalar, 2 AVX2, 3 AVX-512).
BENCHMARK(BM_Stream1_60s_44k1_stereo)
    ->Arg(STRM_PATH_BEST)
    ->Arg(STRM_PATH_SCALAR)
    ->Arg(STRM_PATH_AVX2)
    ->Arg(STRM_PATH_AVX512)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
