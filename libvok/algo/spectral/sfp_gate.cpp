// The silence gate that finds where the sound of a recording begins.
#include "algo/spectral/sfp_fixed_math.h"
#include "algo/spectral/sfp_internal.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// A FileFloat sample truncated toward zero, kept inside 32 bits.
int32_t float_value(float x)
{
    if (!(x > -2147483648.0f))
        return x < 0.0f ? INT32_MIN : 0; // NaN counts as silence
    if (x >= 2147483647.0f)
        return INT32_MAX;
    return static_cast<int32_t>(x);
}

// A FileFixed sample / 2^shift, rounded toward zero like the float's
// truncation.
int32_t fixed_value(int32_t x, uint32_t shift)
{
    if (x >= 0)
        return x >> shift;
    const uint32_t magnitude = 0u - static_cast<uint32_t>(x);
    return -static_cast<int32_t>(magnitude >> shift);
}

template <class ValueOf>
uint32_t feed(SilenceGate *g, uint32_t count, ValueOf value_of)
{
    const int32_t window = static_cast<int32_t>(g->window);
    if (!g->primed) {
        // The window starts filled with the run's first values, so the very
        // first samples are judged against the level that follows them.
        g->value_sum = 0;
        g->deviation_sum = 0;
        g->pos = 0;
        for (uint32_t i = 0; i < g->window; ++i) {
            g->values[i] = i < count ? value_of(i) : 0;
            g->deviations[i] = 0;
            g->value_sum = eng_wrap_add(g->value_sum, g->values[i]);
        }
        g->primed = 1;
    }
    uint32_t result = count;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t v = value_of(i);
        g->value_sum = eng_wrap_add(g->value_sum, eng_wrap_sub(v, g->values[g->pos]));
        g->values[g->pos] = v;
        int64_t d = int64_t{v} - g->value_sum / window;
        if (d < 0)
            d = -d;
        if (d > g->clip)
            d = g->clip;
        const int32_t deviation = static_cast<int32_t>(d);
        g->deviation_sum =
            eng_wrap_add(g->deviation_sum, eng_wrap_sub(deviation, g->deviations[g->pos]));
        g->deviations[g->pos] = deviation;
        g->pos = (g->pos + 1) % g->window;
        if (result == count && static_cast<uint32_t>(g->deviation_sum / window) >
                                   static_cast<uint32_t>(g->threshold)) {
            // Keep half a window ahead of the sound.
            const uint32_t look_back = g->window / 2;
            result = i > look_back ? i - look_back : 0;
        }
    }
    return result;
}

} // namespace

SilenceGate *sfp_gate_create(uint32_t window, int32_t threshold, int32_t clip)
{
    if (window == 0 || window > INT32_MAX)
        return nullptr;
    auto *g = static_cast<SilenceGate *>(eng_malloc(sizeof(SilenceGate)));
    if (!g)
        return nullptr;
    eng_memset(g, 0, sizeof(SilenceGate));
    g->window = window;
    g->threshold = threshold;
    g->clip = clip;
    g->values = static_cast<int32_t *>(eng_malloc(sizeof(int32_t) * window));
    g->deviations = static_cast<int32_t *>(eng_malloc(sizeof(int32_t) * window));
    if (!g->values || !g->deviations) {
        sfp_gate_destroy(&g);
        return nullptr;
    }
    return g;
}

void sfp_gate_destroy(SilenceGate **gate)
{
    if (!gate || !*gate)
        return;
    eng_free((*gate)->values);
    eng_free((*gate)->deviations);
    eng_free(*gate);
    *gate = nullptr;
}

void sfp_gate_reset(SilenceGate *gate)
{
    gate->primed = 0;
}

uint32_t sfp_gate_feed_float(SilenceGate *gate, const float *samples, uint32_t count)
{
    return feed(gate, count, [samples](uint32_t i) { return float_value(samples[i]); });
}

uint32_t sfp_gate_feed_fixed(SilenceGate *gate, const int32_t *samples, uint32_t count,
                             uint32_t shift)
{
    shift &= 31u;
    return feed(gate, count,
                [samples, shift](uint32_t i) { return fixed_value(samples[i], shift); });
}
