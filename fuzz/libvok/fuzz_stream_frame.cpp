// The streaming fingerprint's frame analysis, fed directly: any frame of N
// int32 values (N = 2048 for ids 3 and 4, 4096 for id 5) with any previous
// exponent, filter history and generator position, and, apart from it, the
// weak-bit ranking, the quiet-frame test and the real transform on any
// values.
//
// Checks: the mask has exactly W bits set (14 or 8), and the ranking marks
// the W outputs of least magnitude (ties to the lower k); the analysis is
// deterministic (the same frame and history give the same word, mask and
// history); the frame exponent 46 + 2a + 2b + c lies in -28 ... 127, its
// three normalisation shifts in -16 ... 15, -16 ... 15 and -10 ... 21; a
// frame either keeps the generator where it was or takes exactly its next
// word (from the seed words, so that every input is reproducible); the
// block-floating-point normalisation leaves the largest magnitude at
// exactly its target bits; the quiet-frame test's sum never wraps; the
// transform of any input within +-2^30 is the exact DFT / N within 16 +
// 2^-12 of the largest input (its Q15 twiddles are off by up to 2^-15.5
// relatively, and the 6 or 7 stages and the split step each add that much at
// most; the worst measured is 0.35 x 2^-15). The sanitizers check that
// nothing reaches undefined behaviour.
//
// Input: the choices from the back, the frame's pattern from the front
// (fuzz_support.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "algo/stream/strm_lanes.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the stages as this target reaches them --------------------------

namespace stage {

struct History {
    int32_t previous_exponent;
    std::array<int32_t, STRM_FILTER_COUNT> previous_filter;
    StreamRandom random;
    bool operator==(const History &o) const
    {
        return previous_exponent == o.previous_exponent && previous_filter == o.previous_filter &&
               random.index == o.random.index &&
               std::memcmp(random.words, o.random.words, sizeof random.words) == 0;
    }
};

// One state per id on the scalar path, made on first use.
StreamState *state_for(uint32_t id)
{
    static StreamState *states[3];
    StreamState *&s = states[id - 3];
    if (!s) {
        void *made = nullptr;
        require(strm_use_path(STRM_PATH_SCALAR) == ENG_OK, "the scalar path exists");
        require(strm_create(id, 8000, SAMPLE_PCM_S16, 1, &made) == ENG_OK, "state created");
        strm_use_path(STRM_PATH_BEST);
        s = static_cast<StreamState *>(made);
    }
    return s;
}

History history_of(const StreamState *s)
{
    History h;
    h.previous_exponent = s->previous_exponent;
    std::memcpy(h.previous_filter.data(), s->previous_filter, sizeof s->previous_filter);
    h.random = s->random;
    return h;
}

void set_history(StreamState *s, const History &h)
{
    s->previous_exponent = h.previous_exponent;
    std::memcpy(s->previous_filter, h.previous_filter.data(), sizeof s->previous_filter);
    s->random = h.random;
}

int32_t frame_length(const StreamState *s)
{
    return s->frame_length;
}
int32_t weak_bits(const StreamState *s)
{
    return s->weak_bits;
}
int32_t *frame(StreamState *s)
{
    return s->frame;
}
uint32_t analyse(StreamState *s, uint32_t *mask)
{
    return strm_analyze_frame(s, mask);
}
int32_t normalize(int32_t *v, int32_t n, int32_t bits)
{
    return strm_normalize(v, n, bits);
}
uint32_t weak_bit_mask(const int32_t *outputs, int32_t w)
{
    return strm_weak_bit_mask(outputs, w);
}
uint8_t is_quiet(int32_t *bands, int32_t log2_n, int32_t e)
{
    return strm_is_quiet(bands, log2_n, e);
}
void transform(StreamState *s, int32_t *input, int32_t *output)
{
    require(rfft_forward(s->fft, input, output) == ENG_OK, "transformed");
}

} // namespace stage

// --- Checks ------------------------------------------------------------------------

namespace {

int64_t magnitude(int32_t v)
{
    return v < 0 ? -int64_t{v} : v;
}

// Index of the highest bit where a value's sign stops repeating, over all.
int spread_top(const int32_t *v, size_t n)
{
    uint32_t spread = 0;
    for (size_t k = 0; k < n; ++k)
        spread |= static_cast<uint32_t>(v[k] ^ (v[k] >> 1));
    int top = -1;
    for (; spread; spread >>= 1)
        ++top;
    return top;
}

// Normalised to `bits`, the largest magnitude needs exactly that many bits
// plus sign, and the shift answered is the one applied.
void check_normalize(std::vector<int32_t> v, int32_t bits)
{
    const int before = spread_top(v.data(), v.size());
    const bool zeros = std::all_of(v.begin(), v.end(), [](int32_t x) { return x == 0; });
    const int32_t shift = stage::normalize(v.data(), static_cast<int32_t>(v.size()), bits);
    require(shift == bits - before - 1, "normalisation shift");
    // (-1 needs no bit but its sign: a run of -1 becomes -2^bits.)
    require(spread_top(v.data(), v.size()) == (zeros ? -1 : bits - 1),
            "normalised to the target bits");
}

// The ranking written out: W times, the lowest unused k, replaced by any
// later unused k of strictly smaller magnitude.
uint32_t ranked_mask(const int32_t *outputs, int32_t w)
{
    bool used[STRM_FILTER_COUNT] = {};
    uint32_t mask = 0;
    for (int32_t r = 0; r < w; ++r) {
        int best = -1;
        for (int k = 0; k < STRM_FILTER_COUNT; ++k)
            if (!used[k] && (best < 0 || magnitude(outputs[k]) < magnitude(outputs[best])))
                best = k;
        used[best] = true;
        mask |= 0x80000000u >> best;
    }
    return mask;
}

// X[k] = sum x[m] e^(-2 pi i k m / N) / N in double, against the packed
// spectrum: out[0] = X[0], out[1] = X[N/2], out[2k], out[2k + 1] = X[k].
FUZZ_UNTRACED void check_bin(const std::vector<int32_t> &x, size_t k,
                             const std::vector<int32_t> &out, double allowed)
{
    const size_t n = x.size();
    const double step = 2 * 3.14159265358979323846 / static_cast<double>(n);
    double re = 0;
    double im = 0;
    for (size_t m = 0; m < n; ++m) {
        const double angle = step * static_cast<double>((k * m) % n);
        re += x[m] * std::cos(angle);
        im -= x[m] * std::sin(angle);
    }
    re /= static_cast<double>(n);
    im /= static_cast<double>(n);
    const double got_re = k == 0 ? out[0] : k == n / 2 ? out[1] : out[2 * k];
    const double got_im = k == 0 || k == n / 2 ? 0.0 : out[2 * k + 1];
    require(std::fabs(got_re - re) <= allowed && std::fabs(got_im - im) <= allowed,
            "transform within its error of the exact DFT");
}

void check_frame(FuzzedDataProvider &in)
{
    StreamState *s = stage::state_for(in.ConsumeIntegralInRange<uint32_t>(3, 5));
    stage::History before;
    before.previous_exponent = in.ConsumeIntegral<int32_t>();
    for (int32_t &v : before.previous_filter)
        v = in.ConsumeIntegral<int32_t>();
    strm_random_start(&before.random);
    before.random.index = in.ConsumeIntegralInRange<int32_t>(0, STRM_RANDOM_WORDS - 1);
    const fuzz_support::Signal signal(in);
    const size_t n = static_cast<size_t>(stage::frame_length(s));
    const std::vector<int32_t> frame = signal.take(n);
    check_normalize(frame, 15);

    uint32_t results[2][2];
    stage::History after[2];
    for (int run = 0; run < 2; ++run) {
        stage::set_history(s, before);
        std::memcpy(stage::frame(s), frame.data(), n * sizeof(int32_t));
        results[run][0] = stage::analyse(s, &results[run][1]);
        after[run] = stage::history_of(s);
    }
    require(results[0][0] == results[1][0] && results[0][1] == results[1][1] &&
                after[0] == after[1],
            "the same frame and history give the same result");
    require(__builtin_popcount(results[0][1]) == stage::weak_bits(s), "W bits in the mask");
    const int32_t exponent = after[0].previous_exponent - 2;
    require(exponent >= -28 && exponent <= 127, "frame exponent within -28 ... 127");
    // A quiet frame takes the generator's next word: index one lower, the
    // word written there answered.
    const int32_t index = after[0].random.index;
    if (index != before.random.index) {
        require(index == ((before.random.index + STRM_RANDOM_WORDS - 1) & (STRM_RANDOM_WORDS - 1)),
                "the generator moves one word");
        require(results[0][0] == after[0].random.words[index], "a quiet frame takes that word");
    } else {
        require(std::memcmp(after[0].random.words, before.random.words,
                            sizeof before.random.words) == 0,
                "generator untouched");
    }
}

void check_ranking(FuzzedDataProvider &in)
{
    const int32_t w = in.ConsumeIntegralInRange<int32_t>(0, STRM_FILTER_COUNT);
    const std::vector<int32_t> outputs = fuzz_support::Signal(in).take(STRM_FILTER_COUNT);
    const uint32_t mask = stage::weak_bit_mask(outputs.data(), w);
    require(__builtin_popcount(mask) == w, "W bits in the mask");
    require(mask == ranked_mask(outputs.data(), w), "the W least outputs marked");
}

void check_quiet(FuzzedDataProvider &in)
{
    const int32_t log2_n = in.ConsumeBool() ? 12 : 11;
    const int32_t exponent = in.ConsumeIntegralInRange<int32_t>(-28, 127);
    std::vector<int32_t> bands = fuzz_support::Signal(in).take(STRM_BAND_COUNT);
    const int top = spread_top(bands.data(), bands.size());
    const uint8_t quiet = stage::is_quiet(bands.data(), log2_n, exponent);
    // Normalised to 24 bits, 70 values sum below 70 x 2^24 < 2^31.
    int64_t sum = 0;
    for (int32_t v : bands)
        sum += v;
    require(sum > INT32_MIN && sum < INT32_MAX, "band sum within 32 bits");
    const int64_t level = log2_n + exponent + (24 - top - 1) + 1;
    require(quiet == !(level < 0 || (level < 32 && (sum >> level) >= 32)), "quiet-frame rule");
}

// Bins k of the packed spectrum against the DFT computed in double.
void check_transform(FuzzedDataProvider &in)
{
    StreamState *s = stage::state_for(in.ConsumeIntegralInRange<uint32_t>(3, 5));
    const size_t n = static_cast<size_t>(stage::frame_length(s));
    std::array<size_t, 4> bins;
    for (size_t &k : bins)
        k = in.ConsumeIntegralInRange<size_t>(0, n / 2);
    std::vector<int32_t> x = fuzz_support::Signal(in).take(n);
    double largest = 0;
    for (int32_t &v : x) {
        v >>= 1; // within +-2^30
        largest = std::max(largest, std::fabs(static_cast<double>(v)));
    }
    std::vector<int32_t> input = x;
    std::vector<int32_t> spectrum(n);
    stage::transform(s, input.data(), spectrum.data());
    for (size_t k : bins)
        check_bin(x, k, spectrum, 16 + std::ldexp(largest, -12));
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        check_frame(in);
        break;
    case 1:
        check_ranking(in);
        break;
    case 2:
        check_quiet(in);
        break;
    default:
        check_transform(in);
        break;
    }
    return 0;
}
