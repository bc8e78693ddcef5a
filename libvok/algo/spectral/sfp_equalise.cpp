// Rank equalisation of an analysis frame in both arithmetics.
#include "algo/spectral/sfp_equalise.h"

#include "algo/spectral/sfp_fixed_math.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// The two pieces as one sequence of at most size samples.
template <class Sample>
struct Pieces {
    const Sample *first;
    uint32_t first_count;
    const Sample *second;
    uint32_t second_count;

    Pieces(const Sample *a, uint32_t a_count, const Sample *b, uint32_t b_count, uint32_t size)
        : first(a), first_count(a_count < size ? a_count : size), second(b),
          second_count(b_count < size - first_count ? b_count : size - first_count)
    {
    }

    template <class Visit>
    void each(Visit visit) const
    {
        for (uint32_t i = 0; i < first_count; ++i)
            visit(i, first[i]);
        for (uint32_t i = 0; i < second_count; ++i)
            visit(first_count + i, second[i]);
    }

    uint32_t count() const { return first_count + second_count; }
};

} // namespace

void sfp_copy_frame(const void *first, uint32_t first_count, const void *second,
                    uint32_t second_count, void *frame, uint32_t size)
{
    const Pieces<int32_t> pieces(static_cast<const int32_t *>(first), first_count,
                                 static_cast<const int32_t *>(second), second_count, size);
    auto *out = static_cast<int32_t *>(frame);
    // An empty piece may come without an array.
    if (pieces.first_count > 0)
        eng_memcpy(out, pieces.first, sizeof(int32_t) * pieces.first_count);
    if (pieces.second_count > 0)
        eng_memcpy(out + pieces.first_count, pieces.second, sizeof(int32_t) * pieces.second_count);
    if (pieces.count() < size)
        eng_memset(out + pieces.count(), 0, sizeof(int32_t) * (size - pieces.count()));
}

void sfp_equalise_float(const float *first, uint32_t first_count, const float *second,
                        uint32_t second_count, float *frame, uint32_t size, uint32_t *histogram,
                        uint32_t bins)
{
    const Pieces<float> pieces(first, first_count, second, second_count, size);
    float low = 1000000.0f;
    float high = -1000000.0f;
    pieces.each([&](uint32_t, float x) {
        if (x < low)
            low = x;
        if (x > high)
            high = x;
    });
    const float range = high - low;
    float *cdf = nullptr;
    if (bins == 0 || !(range > 1.0f) ||
        !(cdf = static_cast<float *>(eng_malloc(sizeof(float) * bins)))) {
        sfp_copy_frame(first, first_count, second, second_count, frame, size);
        return;
    }
    eng_memset(histogram, 0, sizeof(uint32_t) * bins);
    const float scale = static_cast<float>(bins - 1) / range;
    // The frame keeps each sample's bin until the ranks are known.
    pieces.each([&](uint32_t i, float x) {
        uint32_t bin = static_cast<uint32_t>(scale * (x - low));
        if (bin >= bins)
            bin = bins - 1;
        ++histogram[bin];
        frame[i] = static_cast<float>(bin);
    });
    const float n = static_cast<float>(size);
    float g = 0.0f;
    for (uint32_t b = 0; b < bins; ++b) {
        cdf[b] = static_cast<float>(histogram[b]) / n + (b > 0 ? cdf[b - 1] : 0.0f);
        g += static_cast<float>(histogram[b]) * cdf[b];
    }
    const float centre = g / n;
    for (uint32_t b = 0; b < bins; ++b)
        cdf[b] -= centre;
    for (uint32_t i = 0; i < pieces.count(); ++i)
        frame[i] = cdf[static_cast<uint32_t>(frame[i])];
    for (uint32_t i = pieces.count(); i < size; ++i)
        frame[i] = 0.0f;
    eng_free(cdf);
}

void sfp_equalise_fixed(const int32_t *first, uint32_t first_count, const int32_t *second,
                        uint32_t second_count, int32_t *frame, uint32_t size, uint32_t *histogram,
                        uint32_t bins, int32_t flat_half_range)
{
    const Pieces<int32_t> pieces(first, first_count, second, second_count, size);
    int32_t low = INT32_MAX;
    int32_t high = INT32_MIN;
    pieces.each([&](uint32_t, int32_t x) {
        if (x < low)
            low = x;
        if (x > high)
            high = x;
    });
    // Halves keep the difference inside 32 bits.
    const int32_t half_low = eng_asr(low, 1);
    const int32_t half_range = eng_asr(high, 1) - half_low;
    // One entry beyond the last bin: the reciprocal could in principle
    // round a sample at the top of the range into it.
    const uint32_t entries = bins + 1;
    int32_t *cdf = nullptr;
    if (bins == 0 || half_range <= flat_half_range ||
        !(cdf = static_cast<int32_t *>(eng_malloc(sizeof(int32_t) * entries)))) {
        sfp_copy_frame(first, first_count, second, second_count, frame, size);
        return;
    }
    eng_memset(histogram, 0, sizeof(uint32_t) * entries);
    // bin = 255 x d / half_range with d = x/2 - min/2, through the
    // reciprocal of the normalised half range: f = 255 x (r >> 9).
    const uint32_t s = sfp_leading_zeros(static_cast<uint32_t>(half_range));
    const uint32_t r = sfp_reciprocal(static_cast<uint32_t>(half_range) << s);
    const uint32_t bins_top = bins - 1;
    const int32_t f = static_cast<int32_t>(bins_top * (r >> (33 - sfp_leading_zeros(bins_top))));
    pieces.each([&](uint32_t i, int32_t x) {
        uint32_t bin =
            static_cast<uint32_t>(eng_asr(sfp_mulhi(eng_asr(x, 1) - half_low, f), 22 - s));
        if (bin >= entries)
            bin = entries - 1;
        ++histogram[bin];
        frame[i] = static_cast<int32_t>(bin);
    });
    uint32_t g = 0;
    for (uint32_t b = 0; b < entries; ++b) {
        cdf[b] = static_cast<int32_t>(histogram[b]) + (b > 0 ? cdf[b - 1] : 0);
        g += histogram[b] * static_cast<uint32_t>(cdf[b]);
    }
    // cdf x 32768 - g: for a frame of 32768 samples the FileFloat rank x 2^30.
    for (uint32_t b = 0; b < entries; ++b)
        cdf[b] = eng_wrap_sub(eng_wrap_shl(cdf[b], 15), static_cast<int32_t>(g));
    for (uint32_t i = 0; i < pieces.count(); ++i)
        frame[i] = cdf[frame[i]];
    for (uint32_t i = pieces.count(); i < size; ++i)
        frame[i] = 0;
    eng_free(cdf);
}
