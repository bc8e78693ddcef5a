// The resampler's life and its process step: creation for either
// arithmetic, the history of stream samples that coming outputs still need,
// and the per-output kernels.
#include "algo/spectral/sfp_resampler.h"

#include "algo/spectral/sfp_fixed_math.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"
#include "engine/eng_vector.h"

namespace {

Resampler *allocate(uint32_t up, uint32_t down, uint32_t length)
{
    auto *r = static_cast<Resampler *>(eng_malloc(sizeof(Resampler)));
    if (!r)
        return nullptr;
    eng_memset(r, 0, sizeof(Resampler));
    r->up = up;
    r->down = down;
    r->length = length;
    r->taps = length == 0 ? 0 : (length + up - 1) / up;
    return r;
}

// The history holds K - 1 samples between calls and takes one run of input
// (the state converts at most SFP_SCRATCH_FRAMES frames at a time) behind
// them, so the whole window of every output lies in one array.
bool allocate_history(Resampler *r)
{
    if (r->taps == 0)
        return true;
    r->history_capacity = r->taps + SFP_SCRATCH_FRAMES;
    r->history = eng_malloc(sizeof(int32_t) * r->history_capacity);
    return r->history != nullptr;
}

// Z zeros ahead of the first input put the filter's centre near the first
// input sample: the least Z with Z L >= v M, for v the input samples the
// centre lies behind (each arithmetic rounds it its own way).
uint32_t history_zeros(const Resampler *r, uint64_t v)
{
    if (r->length == 0)
        return 0;
    return static_cast<uint32_t>((v * r->down + r->up - 1) / r->up);
}

// Drops the history samples that no coming output needs.
template <class Sample>
void compact(Resampler *r, Sample *buffer)
{
    const uint32_t keep_from = r->next_end + 1 - r->taps;
    if (keep_from >= r->history_count) {
        r->skip += keep_from - r->history_count;
        r->history_count = 0;
    } else if (keep_from > 0) {
        eng_memmove(buffer, buffer + keep_from, sizeof(Sample) * (r->history_count - keep_from));
        r->history_count -= keep_from;
    }
    r->next_end -= keep_from;
}

// The process step shared by both arithmetics; kernel(r, phase, window)
// makes one output from the K samples at window.
template <class Sample, class Kernel>
void process(Resampler *r, const Sample *input, uint32_t count, Sample *output, uint32_t room,
             uint32_t *used_out, uint32_t *made_out, Kernel kernel)
{
    uint32_t used = 0;
    uint32_t made = 0;
    if (r->length == 0) {
        made = count < room ? count : room;
        if (made > 0)
            eng_memcpy(output, input, sizeof(Sample) * made);
        *used_out = made;
        *made_out = made;
        return;
    }
    auto *buffer = static_cast<Sample *>(r->history);
    const uint32_t k = r->taps;
    for (;;) {
        if (r->skip > 0) {
            const uint32_t passed = r->skip < count - used ? r->skip : count - used;
            used += passed;
            r->skip -= passed;
        }
        uint32_t take = r->history_capacity - r->history_count;
        if (take > count - used)
            take = count - used;
        if (take > 0)
            eng_memcpy(buffer + r->history_count, input + used, sizeof(Sample) * take);
        r->history_count += take;
        used += take;
        while (r->next_end < r->history_count && made < room) {
            const uint32_t e = r->phase + r->down;
            r->phase = e % r->up;
            output[made++] = kernel(r, r->phase, buffer + r->next_end + 1 - k);
            r->next_end += e / r->up;
        }
        if (r->next_end < r->history_count) {
            // Out of room: the samples from the next output's newest one on
            // stay with the caller (they all came in this round).
            used -= r->history_count - r->next_end;
            r->history_count = r->next_end;
            compact(r, buffer);
            break;
        }
        compact(r, buffer);
        if (used == count)
            break;
    }
    *used_out = used;
    *made_out = made;
}

// One sum in single precision from the newest sample (window[K - 1], tap
// j = 0) to the oldest: the output's defined order. Partial sums or another
// order round differently, by up to a few units of the last place, which
// moves fingerprint values by one or two. The engine is built without
// contraction of a * b + c into fused multiply-adds for the same reason.
float float_kernel(const Resampler *r, uint32_t phase, const float *window)
{
    const uint32_t k = r->taps;
    const float *h = r->coefficients + static_cast<size_t>(phase) * k;
    float sum = 0.0f;
    for (uint32_t i = k; i-- > 0;)
        sum += h[i] * window[i];
    return sum;
}

// x x h / 2^31 from the halves: 2 h_hi x_hi + ((h_hi x_lo + h_lo x_hi) >> 15),
// summed modulo 2^32. Each cross product fits 32 bits (16 x 16 bits, one
// side at most 2^15) but their sum needs 33, so the sum is shifted in
// parts: floor((a + b) / 2^15) = floor(a / 2^15) + floor(b / 2^15) + the
// carry out of their low 15 bits. Every step stays in 32 bits, which lets
// the compiler vectorise the loop.
ENG_VECTOR_CLONES int32_t fixed_kernel(const Resampler *r, uint32_t phase, const int32_t *window)
{
    const uint32_t k = r->taps;
    const int16_t *high = r->coefficients_high + static_cast<size_t>(phase) * k;
    const uint16_t *low = r->coefficients_low + static_cast<size_t>(phase) * k;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < k; ++i) {
        const int32_t x = window[i];
        const int32_t x_high = eng_asr(x, 16);
        const int32_t x_low = x & 0xFFFF;
        const int32_t h_high = high[i];
        const int32_t h_low = low[i];
        const uint32_t main = static_cast<uint32_t>(h_high * x_high) << 1;
        const int32_t a = h_high * x_low;
        const int32_t b = h_low * x_high;
        const int32_t cross =
            eng_asr(a, 15) + eng_asr(b, 15) + (((a & 0x7FFF) + (b & 0x7FFF)) >> 15);
        sum += main + static_cast<uint32_t>(cross);
    }
    return static_cast<int32_t>(sum);
}

// The stored filters (L = 1): about x x h / 2^32. While an output still
// reaches into the reset zeros it takes every product exactly; after that
// the two samples of a symmetric pair are added first and zero taps are
// skipped.
int32_t symmetric_kernel(Resampler *r, uint32_t, const int32_t *window)
{
    uint32_t sum = 0;
    if (r->exact_left > 0) {
        --r->exact_left;
        const uint32_t k = r->taps;
        for (uint32_t i = 0; i < k; ++i) {
            const int32_t h = static_cast<int32_t>(
                (static_cast<uint32_t>(r->coefficients_high[i]) << 16) | r->coefficients_low[i]);
            sum += static_cast<uint32_t>(eng_low32((int64_t{window[i]} * h) >> 32));
        }
        return static_cast<int32_t>(sum);
    }
    const SfpSymmetricFilter *f = r->symmetric;
    // The window is oldest sample first; tap j meets window[K - 1 - j], and
    // the filter is symmetric about its centre tap.
    const int32_t *centre = window + (r->taps - 1 - f->centre);
    auto term = [](int32_t p, int32_t h_high, int32_t h_low) {
        const int32_t p_high = eng_asr(p, 16);
        const int32_t p_low = p & 0xFFFF;
        const uint32_t main = static_cast<uint32_t>(h_high * p_high);
        const int64_t cross = int64_t{h_low} * p_high + int64_t{h_high} * p_low;
        return main + static_cast<uint32_t>(eng_low32(cross >> 16));
    };
    sum += term(centre[0], f->centre_high, f->centre_low);
    for (uint32_t n = 0; n < f->pairs; ++n) {
        const uint32_t d = f->offset[n];
        const int32_t pair = eng_wrap_add(centre[d], centre[-static_cast<int32_t>(d)]);
        sum += term(pair, f->high[n], f->low[n]);
    }
    return static_cast<int32_t>(sum);
}

} // namespace

Resampler *sfp_resampler_create_float(float input_rate, float output_rate)
{
    uint32_t up = 0;
    uint32_t down = 0;
    if (!(input_rate > 0.0f) || !(output_rate > 0.0f) ||
        !sfp_choose_factors(input_rate, output_rate, &up, &down))
        return nullptr;
    Resampler *r;
    if (up == 1 && down == 1) {
        r = allocate(1, 1, 0);
    } else if (up == 1 && (down == 4 || down == 2)) {
        r = allocate(1, down, down == 4 ? 84 : 42);
        if (r)
            r->coefficients = sfp_stored_filter_layout(down);
    } else {
        SfpFilterShape shape;
        if (!sfp_filter_shape(up, down, &shape))
            return nullptr;
        r = allocate(up, down, shape.length);
        if (!r)
            return nullptr;
        r->owned_coefficients = static_cast<float *>(eng_malloc(sizeof(float) * shape.length));
        if (!r->owned_coefficients) {
            eng_free(r);
            return nullptr;
        }
        const uint32_t k = shape.per_phase;
        for (uint32_t phase = 0; phase < up; ++phase)
            for (uint32_t i = 0; i < k; ++i)
                r->owned_coefficients[phase * k + i] =
                    sfp_filter_tap(&shape, phase + (k - 1 - i) * up);
        r->coefficients = r->owned_coefficients;
    }
    if (!r || !allocate_history(r)) {
        sfp_resampler_destroy(&r);
        return nullptr;
    }
    // length / 2 is (length - 1) / 2 rounded half up.
    r->history_zeros = history_zeros(r, (r->length / 2) / r->down);
    sfp_resampler_reset(r);
    return r;
}

Resampler *sfp_resampler_create_fixed(uint32_t input_rate_q15, uint32_t output_rate_q15)
{
    const uint32_t input_rate = input_rate_q15 >> 15;
    const uint32_t output_rate = output_rate_q15 >> 15;
    const RateTableRow *row = nullptr;
    for (uint32_t i = 0; i < sfp_fixed_rate_count() && !row; ++i) {
        const RateTableRow *candidate = sfp_fixed_rate_row(i);
        if (candidate->input_rate == input_rate && candidate->output_rate == output_rate)
            row = candidate;
    }
    if (!row && input_rate == output_rate)
        row = sfp_fixed_rate_row(0);
    if (!row)
        return nullptr;
    Resampler *r = allocate(row->up, row->down, row->length);
    if (!r)
        return nullptr;
    r->coefficients_high = row->coefficients_high;
    r->coefficients_low = row->coefficients_low;
    if (row->up == 1 && row->length > 0)
        r->symmetric = sfp_fixed_symmetric_filter(row->down);
    // The stored filters take products / 2^32 instead of / 2^31, and the
    // 8000 Hz table has half the design's gain: those rates come out at
    // half the scale of the others.
    r->scale_log2 = r->symmetric || row->input_rate == 8000 ? 13 : 14;
    if (!allocate_history(r)) {
        sfp_resampler_destroy(&r);
        return nullptr;
    }
    r->history_zeros = history_zeros(r, ((uint64_t{r->length} * 128) / r->down) >> 8);
    sfp_resampler_reset(r);
    return r;
}

void sfp_resampler_destroy(Resampler **resampler)
{
    if (!resampler || !*resampler)
        return;
    eng_free((*resampler)->owned_coefficients);
    eng_free((*resampler)->history);
    eng_free(*resampler);
    *resampler = nullptr;
}

void sfp_resampler_reset(Resampler *r)
{
    r->phase = 0;
    r->skip = 0;
    r->history_count = r->history_zeros;
    if (r->history_zeros > 0)
        eng_memset(r->history, 0, sizeof(int32_t) * r->history_zeros);
    r->next_end = r->taps == 0 ? 0 : r->taps - 1;
    // Output n of a stored filter starts its window at stream position n M.
    r->exact_left = r->symmetric ? (r->history_zeros + r->down - 1) / r->down : 0;
}

uint32_t sfp_resampler_input_for(const Resampler *r, uint32_t n)
{
    const uint64_t needed = (uint64_t{n} * r->down + r->up - 1) / r->up;
    return needed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(needed);
}

void sfp_resampler_process_float(Resampler *r, const float *input, uint32_t count, float *output,
                                 uint32_t room, uint32_t *used, uint32_t *made)
{
    process(r, input, count, output, room, used, made, float_kernel);
}

void sfp_resampler_process_fixed(Resampler *r, const int32_t *input, uint32_t count,
                                 int32_t *output, uint32_t room, uint32_t *used, uint32_t *made)
{
    if (r->symmetric)
        process(r, input, count, output, room, used, made, symmetric_kernel);
    else
        process(r, input, count, output, room, used, made, fixed_kernel);
}

namespace {

// Where h[index] sits in the polyphase layout, or false beyond the table.
bool layout_index(const Resampler *r, uint32_t index, size_t *at)
{
    if (index >= r->length)
        return false;
    const uint32_t phase = index % r->up;
    const uint32_t j = index / r->up;
    *at = static_cast<size_t>(phase) * r->taps + (r->taps - 1 - j);
    return true;
}

} // namespace

int32_t sfp_resampler_coefficient_fixed(const Resampler *r, uint32_t index)
{
    size_t at;
    if (!r->coefficients_high || !layout_index(r, index, &at))
        return 0;
    return static_cast<int32_t>((static_cast<uint32_t>(r->coefficients_high[at]) << 16) |
                                r->coefficients_low[at]);
}
