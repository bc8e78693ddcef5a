// The tables kept per frame size: the real FFT's twiddles, input order and
// stage layout, and the analysis window, generated together at first use
// from their formulas. Sizes are dispatched in one place.
#include "algo/stream/rfft.h"

#include <array>

#include "engine/eng_support.h"

namespace {

// round(32768 x), limited to the signed 16-bit range's top of 32767.
int32_t q15_limited(double x)
{
    const int32_t v = static_cast<int32_t>(eng_floor(32768.0 * x + 0.5));
    return v > 32767 ? 32767 : v;
}

template <int32_t N>
struct TwiddleTable {
    static constexpr uint32_t kCount = 3 * N / 4 - 2;
    std::array<uint32_t, kCount> words;
    TwiddleTable() : words{}
    {
        for (uint32_t k = 0; k < kCount; ++k) {
            const double angle = 2.0 * ENG_PI * k / N;
            const uint32_t c = static_cast<uint32_t>(q15_limited(eng_cos(angle))) & 0xFFFFu;
            const uint32_t s = static_cast<uint32_t>(q15_limited(eng_sin(angle))) & 0xFFFFu;
            words[k] = (c << 16) | s;
        }
    }
};

// Base-4 digit reversal of a value of `digits` digits.
uint32_t reverse_base4(uint32_t value, int32_t digits)
{
    uint32_t reversed = 0;
    for (int32_t d = 0; d < digits; ++d) {
        reversed = (reversed << 2) | (value & 3u);
        value >>= 2;
    }
    return reversed;
}

// Decimation in time over N/2 complex points. When N/2 is a power of four,
// position p holds input reverse4(p). Otherwise the final radix-2 stage
// splits even and odd inputs: position half * N/4 + q holds input
// 2 * reverse4(q) + half.
template <int32_t N>
struct InputOrder {
    static constexpr int32_t kPoints = N / 2;
    std::array<uint16_t, kPoints> index;
    InputOrder() : index{}
    {
        int32_t log2_points = 0;
        while ((1 << log2_points) < kPoints)
            ++log2_points;
        if (log2_points % 2 == 0) {
            for (uint32_t p = 0; p < kPoints; ++p)
                index[p] = static_cast<uint16_t>(reverse_base4(p, log2_points / 2));
        } else {
            const uint32_t half = kPoints / 2;
            for (uint32_t p = 0; p < kPoints; ++p)
                index[p] = static_cast<uint16_t>(
                    2 * reverse_base4(p % half, (log2_points - 1) / 2) + p / half);
        }
    }
};

int32_t word_half(uint32_t bits)
{
    return bits >= 0x8000u ? static_cast<int32_t>(bits) - 0x10000 : static_cast<int32_t>(bits);
}

// Twiddle k of the table (angle 2 pi k / N) as exact-where-possible Q15
// cos and sin.
void stage_twiddle(const uint32_t *words, int32_t n, int32_t k, int32_t *c, int32_t *s)
{
    if ((4 * k) % n == 0) {
        const int32_t quarter = (4 * k / n) % 4;
        const int32_t cosines[4] = {32768, 0, -32768, 0};
        const int32_t sines[4] = {0, 32768, 0, -32768};
        *c = cosines[quarter];
        *s = sines[quarter];
        return;
    }
    *c = word_half(words[k] >> 16);
    *s = word_half(words[k] & 0xFFFFu);
}

template <int32_t N>
struct StageTwiddles {
    // Radix-4 stages of quarter 4, 16, ... up to a quarter of the largest
    // power of four within N/2 points: 6Q each; then N/4 + N/4 for the
    // radix-2 stage.
    static constexpr int32_t kPoints = N / 2;
    static constexpr int32_t count()
    {
        int32_t extent = 1;
        while (extent * 4 <= kPoints)
            extent *= 4;
        int32_t total = 0;
        for (int32_t q = 4; q * 4 <= extent; q *= 4)
            total += 6 * q;
        return total + (extent != kPoints ? kPoints : 0) + N / 2;
    }
    static constexpr int32_t split_offset() { return count() - N / 2; }
    std::array<int32_t, count()> values;
    explicit StageTwiddles(const uint32_t *words) : values{}
    {
        int32_t extent = 1;
        while (extent * 4 <= kPoints)
            extent *= 4;
        int32_t at = 0;
        for (int32_t q = 4; q * 4 <= extent; q *= 4) {
            const int32_t step = N / (4 * q); // word of W_L^j is j N / L
            for (int32_t m = 1; m <= 3; ++m) {
                for (int32_t j = 0; j < q; ++j)
                    stage_twiddle(words, N, m * j * step, &values[at + j], &values[at + q + j]);
                at += 2 * q;
            }
        }
        if (extent != kPoints) {
            const int32_t half = kPoints / 2;
            for (int32_t k = 0; k < half; ++k)
                stage_twiddle(words, N, 2 * k, &values[at + k], &values[at + half + k]);
            at += kPoints;
        }
        for (int32_t k = 0; k < N / 4; ++k)
            stage_twiddle(words, N, k, &values[at + k], &values[at + N / 4 + k]);
    }
};

// The rising half of a Hann window of N + 1 intervals in Q15:
// w[k] = round(32768 sin^2(pi (k + 1) / (N + 1))), k = 0 ... N/2 - 1. This
// is the form whose values match the stored window exactly (w[N/2 - 1] is
// 32768, which still fits the unsigned 16-bit entry).
template <int32_t N>
struct HalfWindow {
    std::array<uint16_t, N / 2> w;
    HalfWindow() : w{}
    {
        for (int32_t k = 0; k < N / 2; ++k) {
            const double s = eng_sin(ENG_PI * (k + 1) / (N + 1));
            w[k] = static_cast<uint16_t>(eng_floor(32768.0 * s * s + 0.5));
        }
    }
};

template <int32_t N>
struct SizeTables {
    TwiddleTable<N> twiddles;
    InputOrder<N> order;
    StageTwiddles<N> stages{twiddles.words.data()};
    HalfWindow<N> window;
    FrameSizeTables view{N,
                         twiddles.words.data(),
                         TwiddleTable<N>::kCount,
                         order.index.data(),
                         stages.values.data(),
                         StageTwiddles<N>::split_offset(),
                         window.w.data()};
};

} // namespace

const FrameSizeTables *rfft_size_tables(int32_t size)
{
    switch (size) {
    case 2048: {
        static const SizeTables<2048> tables;
        return &tables.view;
    }
    case 4096: {
        static const SizeTables<4096> tables;
        return &tables.view;
    }
    default:
        return nullptr;
    }
}
