// Shared by the per-stage fuzz targets: the report of a failed check, the
// engine's memory layer, long signals grown from a few input bytes, audio
// bytes repeated from a pattern, and input cut into pieces where the
// fuzzer says.
//
// A stage wants thousands of samples (a streaming frame holds 2048 or 4096,
// a spectral one 32768) while a fuzzer mutates inputs of a few hundred
// bytes best. So a signal is a short pattern repeated, on a gain that may
// change every `segment` samples: one input can be a full-scale square
// (-2^31 against 2^31 - 1), an impulse, white noise at any level, near
// silence, or loud and quiet passages in turn.
#ifndef VOK_FUZZ_FUZZ_SUPPORT_H
#define VOK_FUZZ_FUZZ_SUPPORT_H

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <vok/vok_engine.h>

// For a target's own reference computations, which are not the code under
// test: their comparisons would only feed the fuzzer noise and slow it down.
#define FUZZ_UNTRACED __attribute__((no_sanitize("coverage")))

namespace fuzz_support {

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

inline void require(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

// The memory layer, started once per process.
inline void start_engine()
{
    static const bool started = [] {
        const EngineConfig config = {nullptr, 0, 0};
        return eng_initialize(&config) == ENG_OK;
    }();
    require(started, "the engine starts");
}

// The engine started before the first input, for targets that need nothing
// else there.
#define FUZZ_STARTS_THE_ENGINE \
    extern "C" int LLVMFuzzerInitialize(int *, char ***) \
    { \
        fuzz_support::start_engine(); \
        return 0; \
    }

// `frames` interleaved frames of the sample type and channel count: the rest
// of the input (one byte of 0x80 when there is none) repeated. This is the
// last thing a target reads.
struct Audio {
    std::vector<uint8_t> bytes;
    size_t frame_bytes;
};

inline Audio repeated_audio(FuzzedDataProvider &in, size_t frames, SampleType type,
                            uint32_t channels)
{
    std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();
    if (pattern.empty())
        pattern.push_back(0x80);
    Audio audio{{}, channels * (type == SAMPLE_PCM_S16 ? 2u : 1u)};
    audio.bytes.resize(frames * audio.frame_bytes);
    for (size_t i = 0; i < audio.bytes.size(); ++i)
        audio.bytes[i] = pattern[i % pattern.size()];
    return audio;
}

// Calls take(k, at, bytes) for the pieces of `audio` in order: piece k holds
// cuts[k] whole frames (fewer at the end), and one last piece the rest.
template <class Take>
void in_pieces(const Audio &audio, const std::vector<size_t> &cuts, Take take)
{
    const size_t total = audio.bytes.size();
    size_t at = 0;
    for (size_t k = 0; at < total; ++k) {
        const size_t piece =
            k < cuts.size() ? std::min(cuts[k] * audio.frame_bytes, total - at) : total - at;
        take(k, at, piece);
        at += piece;
    }
}

class Signal {
public:
    // Reads, from the back of the input, the value width (1, 2 or 4 bytes),
    // the segment length and up to four gains; the pattern is the rest of
    // the input, so this is the last thing a target reads.
    explicit Signal(FuzzedDataProvider &in)
    {
        static const unsigned kWidths[] = {1, 2, 4};
        width = in.PickValueInArray(kWidths);
        segment = in.ConsumeIntegralInRange<uint32_t>(1, 1u << 16);
        const int count = in.ConsumeIntegralInRange<int>(1, 4);
        for (int i = 0; i < count; ++i)
            gains.push_back(in.ConsumeIntegralInRange<int>(-31, 31));
        std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();
        const size_t values = pattern.size() / width > 0 ? pattern.size() / width : 1;
        pattern.resize(values * width, 0);
        decoded.resize(values);
        for (size_t v = 0; v < values; ++v)
            decoded[v] = value_at(&pattern[v * width]);
    }

    // Sample k: pattern value k mod P, sign-extended from its width, shifted
    // left (wrapping) by a positive gain or right (arithmetically) by a
    // negative one, the gain of segment k / segment.
    FUZZ_UNTRACED int32_t at(size_t k) const
    {
        return scaled(decoded[k % decoded.size()], gains[(k / segment) % gains.size()]);
    }

    // Samples first ... first + count - 1, a segment's run at a time (the
    // targets fill thousands of samples an input).
    FUZZ_UNTRACED void fill(int32_t *out, size_t count, size_t first = 0) const
    {
        size_t v = first % decoded.size();
        for (size_t k = first; count > 0;) {
            const int gain = gains[(k / segment) % gains.size()];
            const size_t run = std::min<size_t>(count, segment - k % segment);
            for (size_t i = 0; i < run; ++i) {
                *out++ = scaled(decoded[v], gain);
                v = v + 1 == decoded.size() ? 0 : v + 1;
            }
            k += run;
            count -= run;
        }
    }

    std::vector<int32_t> take(size_t count, size_t first = 0) const
    {
        std::vector<int32_t> out(count);
        fill(out.data(), count, first);
        return out;
    }

private:
    FUZZ_UNTRACED int32_t value_at(const uint8_t *p) const
    {
        uint32_t bits = 0;
        for (unsigned i = 0; i < width; ++i)
            bits |= static_cast<uint32_t>(p[i]) << (8 * i);
        const unsigned unused = 32 - 8 * width;
        return static_cast<int32_t>(bits << unused) >> unused;
    }

    static FUZZ_UNTRACED int32_t scaled(int32_t v, int gain)
    {
        return gain >= 0 ? static_cast<int32_t>(static_cast<uint32_t>(v) << gain) : v >> -gain;
    }

    std::vector<int32_t> decoded; // the pattern's values
    unsigned width = 4;
    uint32_t segment = 1;
    std::vector<int> gains;
};

} // namespace fuzz_support

#endif /* VOK_FUZZ_FUZZ_SUPPORT_H */
