// The band table, the life of BandStatistics and the measurement of one
// frame's bands.
#include "algo/spectral/sfp_bands.h"

#include "algo/spectral/sfp_equalise.h"
#include "algo/spectral/sfp_fixed_math.h"
#include "algo/spectral/sfp_variant.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// 15 bands as (low, high) pairs. Neighbours share their edge coefficient.
const float kEdgesHz[SFP_BAND_EDGES] = {
    0.0f,    99.8f,   99.8f,   200.0f,  200.0f,  299.8f,  299.8f,  400.0f,  400.0f,  510.0f,
    510.0f,  630.0f,  630.0f,  769.9f,  769.9f,  920.0f,  920.0f,  1080.0f, 1080.0f, 1269.8f,
    1269.8f, 1480.0f, 1480.0f, 1719.8f, 1719.8f, 2000.0f, 2000.0f, 2320.0f, 2320.0f, 2700.0f,
};

const uint32_t kEdgesIndex[SFP_BAND_EDGES] = {
    0,    593,  593,  1188, 1188, 1782, 1782, 2377, 2377,  3031,  3031,  3744,  3744,  4576,  4576,
    5468, 5468, 6419, 6419, 7548, 7548, 8797, 8797, 10223, 10223, 11888, 11888, 13790, 13790, 16049,
};

const int32_t kWeights[SFP_MAX_BANDS] = {
    1851029504, 1844817920, 1847918592, 1844817920, 1678643200, 1539932160, 1319941632, 1231255552,
    1154949120, 973019136,  879608832,  770505216,  659970560,  577777664,  486509568,
};

const float kAnalysisRate = 11025.0f;

void free_frames(BandStatistics *s)
{
    BandFrame *frame = s->first;
    while (frame) {
        BandFrame *next = frame->next;
        eng_free(frame);
        frame = next;
    }
    s->first = nullptr;
    s->last_link = &s->first;
    s->frames = 0;
}

// Fills the band ranges from the edge copy; false for a band that is empty
// or reaches beyond the frame.
bool set_ranges(BandStatistics *s)
{
    for (uint32_t b = 0; b < s->bands; ++b) {
        if (!s->variant->band_range(s, b, &s->low[b], &s->high[b]))
            return false;
    }
    return true;
}

} // namespace

const float *sfp_band_edges_hz(void)
{
    return kEdgesHz;
}

const uint32_t *sfp_band_edges_index(void)
{
    return kEdgesIndex;
}

const int32_t *sfp_band_weights(void)
{
    return kWeights;
}

BandStatistics *sfp_bands_create(const BandConfig *config)
{
    if (!config || !config->edges || config->edge_count < 2 || config->edge_count % 2 != 0 ||
        config->edge_count / 2 > SFP_MAX_BANDS || config->frame_log2 < 1 ||
        config->frame_log2 > 24 || !sfp_variant(config->variant))
        return nullptr;
    auto *s = static_cast<BandStatistics *>(eng_malloc(sizeof(BandStatistics)));
    if (!s)
        return nullptr;
    eng_memset(s, 0, sizeof(BandStatistics));
    const SpectralVariant *variant = sfp_variant(config->variant);
    s->variant = variant;
    s->skip_frames = config->skip_frames;
    s->frame_limit = config->frame_count;
    s->output_scale = config->output_scale;
    s->frame_size = 1u << config->frame_log2;
    s->edge_count = config->edge_count;
    s->bands = config->edge_count / 2;
    s->equalise_bins = config->equalise_bins;
    s->flat_half_range = config->flat_half_range;
    s->step = kAnalysisRate / static_cast<float>(2 * s->frame_size);
    s->first = nullptr;
    s->last_link = &s->first;

    const size_t edge_bytes = config->edge_count * variant->edge_size;
    const size_t histogram_entries = config->equalise_bins + variant->histogram_extra;
    s->frame = eng_malloc(sizeof(int32_t) * s->frame_size);
    s->edges = eng_malloc(edge_bytes);
    s->histogram = static_cast<uint32_t *>(eng_malloc(sizeof(uint32_t) * histogram_entries));
    s->result = static_cast<int16_t *>(eng_malloc(sizeof(int16_t) * 2 * s->bands));
    s->transform = variant->transform(config->frame_log2, &s->owned_transform);
    if (!s->frame || !s->edges || !s->histogram || !s->result || !s->transform) {
        sfp_bands_destroy(&s);
        return nullptr;
    }
    eng_memcpy(s->edges, config->edges, edge_bytes);
    if (!set_ranges(s)) {
        sfp_bands_destroy(&s);
        return nullptr;
    }
    sfp_bands_reset(s);
    return s;
}

void sfp_bands_destroy(BandStatistics **statistics)
{
    if (!statistics || !*statistics)
        return;
    BandStatistics *s = *statistics;
    free_frames(s);
    sfp_dct_destroy(&s->owned_transform);
    eng_free(s->frame);
    eng_free(s->edges);
    eng_free(s->histogram);
    eng_free(s->result);
    eng_free(s);
    *statistics = nullptr;
}

void sfp_bands_reset(BandStatistics *s)
{
    free_frames(s);
    s->skip_left = s->skip_frames;
    s->result_ready = 0;
}

uint8_t sfp_bands_is_complete(const BandStatistics *s)
{
    return s->frame_limit != 0 && s->frames >= s->frame_limit;
}

void sfp_bands_add_frame(BandStatistics *s, const void *first, uint32_t first_count,
                         const void *second, uint32_t second_count)
{
    if (s->skip_left > 0) {
        --s->skip_left;
        return;
    }
    if (sfp_bands_is_complete(s))
        return;
    BandFrame measured;
    eng_memset(&measured, 0, sizeof(BandFrame));
    s->variant->analyse_frame(s, first, first_count, second, second_count, &measured);
    auto *frame = static_cast<BandFrame *>(eng_malloc(sizeof(BandFrame)));
    if (!frame)
        return; // the frame is lost; completion waits for the next one
    eng_memcpy(frame, &measured, sizeof(BandFrame));
    frame->next = nullptr;
    *s->last_link = frame;
    s->last_link = &frame->next;
    ++s->frames;
}

uint8_t sfp_band_range_float(const BandStatistics *s, uint32_t band, uint32_t *low, uint32_t *high)
{
    const float *edges = static_cast<const float *>(s->edges);
    const float low_index = edges[2 * band] / s->step;
    const float high_index = edges[2 * band + 1] / s->step;
    if (!(low_index >= 0.0f && high_index < static_cast<float>(s->frame_size)))
        return 0;
    *low = static_cast<uint32_t>(low_index);
    *high = static_cast<uint32_t>(high_index);
    return *low <= *high;
}

uint8_t sfp_band_range_fixed(const BandStatistics *s, uint32_t band, uint32_t *low, uint32_t *high)
{
    const uint32_t *edges = static_cast<const uint32_t *>(s->edges);
    *low = edges[2 * band];
    *high = edges[2 * band + 1];
    return *low <= *high && *high < s->frame_size;
}

// Both arithmetics: the frame's frequency content is measured before the
// equalisation changes it.
void sfp_bands_analyse_float(BandStatistics *s, const void *first, uint32_t first_count,
                             const void *second, uint32_t second_count, BandFrame *frame)
{
    auto *x = static_cast<float *>(s->frame);
    frame->frequency.f =
        sfp_frame_frequency_float(first, first_count, second, second_count, s->frame_size);
    if (s->equalise_bins == 0)
        sfp_copy_frame(first, first_count, second, second_count, x, s->frame_size);
    else
        sfp_equalise_float(static_cast<const float *>(first), first_count,
                           static_cast<const float *>(second), second_count, x, s->frame_size,
                           s->histogram, s->equalise_bins);
    sfp_dct_float(s->transform, x);
    sfp_bands_measure_float(s, x, frame);
}

void sfp_bands_analyse_fixed(BandStatistics *s, const void *first, uint32_t first_count,
                             const void *second, uint32_t second_count, BandFrame *frame)
{
    auto *x = static_cast<int32_t *>(s->frame);
    frame->frequency.q =
        sfp_frame_frequency_fixed(first, first_count, second, second_count, s->frame_size);
    if (s->equalise_bins == 0)
        sfp_copy_frame(first, first_count, second, second_count, x, s->frame_size);
    else
        sfp_equalise_fixed(static_cast<const int32_t *>(first), first_count,
                           static_cast<const int32_t *>(second), second_count, x, s->frame_size,
                           s->histogram, s->equalise_bins, s->flat_half_range);
    sfp_dct_fixed(s->transform, x);
    sfp_bands_measure_fixed(s, x, frame);
}

void sfp_bands_measure_float(const BandStatistics *s, const float *x, BandFrame *frame)
{
    for (uint32_t b = 0; b < s->bands; ++b) {
        float energy = 0.0f;
        for (uint32_t k = s->low[b]; k <= s->high[b]; ++k)
            energy += x[k] * x[k];
        const float width = static_cast<float>(s->high[b] - s->low[b] + 1);
        frame->energy.f[b] = energy;
        frame->rms.f[b] = static_cast<float>(eng_sqrt(energy / width));
    }
}

void sfp_bands_measure_fixed(const BandStatistics *s, const int32_t *x, BandFrame *frame)
{
    for (uint32_t b = 0; b < s->bands; ++b) {
        int64_t sum = 0;
        for (uint32_t k = s->low[b]; k <= s->high[b]; ++k)
            sum += (int64_t{x[k]} * x[k]) >> 16;
        const int32_t energy = eng_low32(sum >> 16);
        // Mean square = energy x weight / 2^32; its root in Q15.
        const int32_t mean_square = sfp_mulhi(energy, kWeights[b]);
        frame->energy.q[b] = energy;
        frame->rms.q[b] = static_cast<int32_t>(
            sfp_isqrt(mean_square > 0 ? static_cast<uint32_t>(mean_square) : 0));
    }
}
