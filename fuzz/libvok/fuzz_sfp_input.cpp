// The spectral fingerprint's input stage, fed directly: any bytes at every
// sample type and channel count, at the eight table rates (both variants)
// and at 4000, 12000 and 96000 Hz (FileFloat alone: upsampling by 441/160,
// a rate no table holds, and a long designed filter), converted and
// resampled into 11025 Hz samples in one run and again in pieces cut at
// whole frames, each piece in runs of a room the input chooses.
//
// Checks: the samples are the same, bit for bit, whatever the cuts and
// rooms, and every run that has input and room makes progress. Where both
// variants take the rate, FileFixed's samples are FileFloat's times 2^s
// (s = 14, or 13 for 8000, 22050 and 44100 Hz) within the rounding of both:
// at most 3 units of FileFixed per tap for its truncated partial products,
// and 2^-22 per tap of the sum of |h x| for FileFloat's single precision and
// the Q31 coefficients, so that no 32-bit sum of FileFixed wraps.
//
// Input: format, length, cuts and rooms from the back; the bytes from the
// front, repeated to the length.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "algo/spectral/sfp_internal.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the stage as this target reaches it -------------------------------

namespace stage {

// One state per variant and format, made on first use and kept (reachable)
// to the end of the process.
SpectralState *state_for(uint32_t variant, uint32_t rate, SampleType type, uint32_t channels)
{
    static auto &states =
        *new std::map<std::tuple<uint32_t, uint32_t, SampleType, uint32_t>, SpectralState *>;
    SpectralState *&s = states[{variant, rate, type, channels}];
    if (!s) {
        void *made = nullptr;
        require(sfp_create(variant, rate, type, channels, &made) == ENG_OK, "state created");
        s = static_cast<SpectralState *>(made);
    }
    sfp_reset(s);
    return s;
}

// Converts and resamples into room samples at out (int32_t or float).
void chunk(SpectralState *s, const uint8_t *bytes, size_t count, void *out, size_t room,
           uint32_t *used, uint32_t *made)
{
    require(sfp_resample_chunk(s, bytes, static_cast<uint32_t>(count), out,
                               static_cast<uint32_t>(room), used, made) == ENG_OK,
            "chunk resampled");
}

uint32_t up(const SpectralState *s)
{
    return s->resampler->up;
}
uint32_t down(const SpectralState *s)
{
    return s->resampler->down;
}
uint32_t taps(const SpectralState *s)
{
    return s->resampler->taps;
}
uint32_t zeros(const SpectralState *s)
{
    return s->resampler->history_zeros;
}
uint32_t scale_log2(const SpectralState *s)
{
    return s->resampler->scale_log2;
}

} // namespace stage

namespace {

const uint32_t kTableRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
const uint32_t kFloatRates[] = {4000, 12000, 96000};

// The samples of the whole audio, added in pieces of cuts[k] frames (the
// rest at the end) with room for rooms[k] samples per run (all when 0).
std::vector<uint32_t> resample(SpectralState *s, const fuzz_support::Audio &audio,
                               const std::vector<size_t> &cuts, const std::vector<size_t> &rooms)
{
    const size_t frames = audio.bytes.size() / audio.frame_bytes;
    std::vector<uint32_t> out(frames * stage::up(s) / stage::down(s) + stage::taps(s) + 8);
    size_t made_total = 0;
    fuzz_support::in_pieces(audio, cuts, [&](size_t k, size_t at, size_t piece) {
        const size_t end = at + piece;
        for (size_t run = 0; at < end; ++run) {
            size_t room = out.size() - made_total;
            if (k < rooms.size() && rooms[k] > 0)
                room = std::min(room, rooms[k] + run % 3);
            uint32_t used = 0;
            uint32_t made = 0;
            stage::chunk(s, audio.bytes.data() + at, end - at, out.data() + made_total, room, &used,
                         &made);
            require(used > 0 || made > 0, "a run with input and room makes progress");
            require(used % audio.frame_bytes == 0 && used <= end - at && made <= room,
                    "whole frames used, room kept");
            at += used;
            made_total += made;
        }
    });
    out.resize(made_total);
    return out;
}

// FileFixed against FileFloat, sample by sample.
void check_agreement(SpectralState *fixed, SpectralState *floating, const std::vector<uint32_t> &q,
                     const std::vector<uint32_t> &f)
{
    require(q.size() == f.size() && stage::zeros(fixed) == stage::zeros(floating),
            "both variants make the same samples");
    // Sums of |h x| stay below 2^17: |x| <= 2^16 (two 16-bit channels
    // added) and every phase's sum of |h| is below 2 (1.86 at most).
    const double taps = stage::taps(fixed);
    const double scale = std::ldexp(1.0, static_cast<int>(stage::scale_log2(fixed)));
    const double allowed = 3 * taps + scale * taps * std::ldexp(1.0, 17 - 22);
    for (size_t k = 0; k < q.size(); ++k) {
        float v;
        std::memcpy(&v, &f[k], sizeof v);
        const double expected = static_cast<double>(v) * scale;
        if (std::fabs(static_cast<int32_t>(q[k]) - expected) > allowed) {
            std::fprintf(stderr, "k %zu fixed %d float %g scaled %g allowed %g\n", k,
                         static_cast<int32_t>(q[k]), v, expected, allowed);
            fuzz_support::fail("FileFixed is FileFloat times 2^s");
        }
    }
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool both = in.ConsumeBool();
    const uint32_t rate =
        both ? in.PickValueInArray(kTableRates) : in.PickValueInArray(kFloatRates);
    const SampleType type = in.ConsumeIntegralInRange<SampleType>(SAMPLE_PCM_U8, SAMPLE_MULAW);
    const uint32_t channels = in.ConsumeBool() ? 2 : 1;
    // The cuts for one variant, both in one run where both take the rate.
    const uint32_t cut = in.ConsumeBool() && both ? SFP_VARIANT_FIXED : SFP_VARIANT_FLOAT;
    // About 20 taps per input frame at every rate but 11025 Hz, which
    // passes through: long enough to cross the 4096-frame conversion runs
    // only there.
    const size_t wanted = in.ConsumeIntegralInRange<size_t>(0, rate == 11025 ? 9000 : 2048);
    std::vector<size_t> cuts(in.ConsumeIntegralInRange<size_t>(0, 8));
    std::vector<size_t> rooms(cuts.size() + 1);
    for (size_t k = 0; k < cuts.size(); ++k) {
        cuts[k] = in.ConsumeIntegralInRange<size_t>(0, 5000);
        rooms[k] = in.ConsumeIntegralInRange<size_t>(0, 4096);
    }
    rooms.back() = in.ConsumeIntegralInRange<size_t>(0, 4096);
    const fuzz_support::Audio audio = fuzz_support::repeated_audio(in, wanted, type, channels);

    SpectralState *s = stage::state_for(cut, rate, type, channels);
    const std::vector<uint32_t> whole = resample(s, audio, {}, {});
    s = stage::state_for(cut, rate, type, channels);
    require(resample(s, audio, cuts, rooms) == whole, "the same samples for any cuts and rooms");
    if (both) {
        const uint32_t other = cut == SFP_VARIANT_FIXED ? SFP_VARIANT_FLOAT : SFP_VARIANT_FIXED;
        SpectralState *t = stage::state_for(other, rate, type, channels);
        const std::vector<uint32_t> more = resample(t, audio, {}, {});
        if (cut == SFP_VARIANT_FIXED)
            check_agreement(s, t, whole, more);
        else
            check_agreement(t, s, more, whole);
    }
    return 0;
}
