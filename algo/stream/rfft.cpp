// Real FFT plan and forward transform (32-bit fixed point, block scaled by
// the stages themselves so that the result is the spectrum divided by N).
//
// Every stage works on exact 64-bit sums of Q15 products and rounds once
// to nearest when it writes its 32-bit outputs; trivial twiddles (angle 0
// and a quarter turn in the split step) are applied exactly.
#include "algo/stream/rfft.h"

#include "algo/stream/strm_arith.h"
#include "engine/eng_memory.h"

namespace {

using strm_arith::asr64;
using strm_arith::wrap64;

struct Wide {
    int64_t re;
    int64_t im;
};

// A stored half of a twiddle word: signed 16-bit.
int32_t twiddle_half(uint32_t bits)
{
    return bits >= 0x8000u ? static_cast<int32_t>(bits) - 0x10000 : static_cast<int32_t>(bits);
}

// x times e^(-i theta) for the twiddle word of theta, in Q15 (scaled 2^15).
Wide rotate(const int32_t *x, uint32_t word)
{
    const int64_t c = twiddle_half(word >> 16);
    const int64_t s = twiddle_half(word & 0xFFFFu);
    return {c * x[0] + s * x[1], c * x[1] - s * x[0]};
}

// x scaled by 2^15 to line up with rotated values.
Wide lift(const int32_t *x)
{
    return {static_cast<int64_t>(x[0]) * 32768, static_cast<int64_t>(x[1]) * 32768};
}

// v / 2^shift rounded to nearest, as a 32-bit value.
int32_t round_down(int64_t v, int32_t shift)
{
    return wrap64(asr64(v + (static_cast<int64_t>(1) << (shift - 1)), shift));
}

// Radix-4 decimation-in-time butterfly on four lifted or rotated operands,
// divided by 4: y0 = a0 + a1 + a2 + a3, y1 = a0 - i a1 - a2 + i a3,
// y2 = a0 - a1 + a2 - a3, y3 = a0 + i a1 - a2 - i a3.
void butterfly4(const Wide &a0, const Wide &a1, const Wide &a2, const Wide &a3, int32_t *y0,
                int32_t *y1, int32_t *y2, int32_t *y3)
{
    const Wide t0 = {a0.re + a2.re, a0.im + a2.im};
    const Wide t1 = {a0.re - a2.re, a0.im - a2.im};
    const Wide t2 = {a1.re + a3.re, a1.im + a3.im};
    const Wide t3 = {a1.re - a3.re, a1.im - a3.im};
    const int32_t shift = 15 + 2;
    y0[0] = round_down(t0.re + t2.re, shift);
    y0[1] = round_down(t0.im + t2.im, shift);
    y2[0] = round_down(t0.re - t2.re, shift);
    y2[1] = round_down(t0.im - t2.im, shift);
    y1[0] = round_down(t1.re + t3.im, shift);
    y1[1] = round_down(t1.im - t3.re, shift);
    y3[0] = round_down(t1.re - t3.im, shift);
    y3[1] = round_down(t1.im + t3.re, shift);
}

// First radix-4 stage, reading the inputs in decimation order. All its
// twiddles are 1.
void first_stage(const RealFft *plan, const int32_t *input, int32_t *z)
{
    const int32_t points = plan->size / 2;
    const uint16_t *order = plan->order;
    for (int32_t base = 0; base < points; base += 4) {
        const Wide a0 = lift(input + 2 * order[base]);
        const Wide a1 = lift(input + 2 * order[base + 1]);
        const Wide a2 = lift(input + 2 * order[base + 2]);
        const Wide a3 = lift(input + 2 * order[base + 3]);
        int32_t *y = z + 2 * base;
        butterfly4(a0, a1, a2, a3, y, y + 2, y + 4, y + 6);
    }
}

// A radix-4 stage combining sub-transforms of `quarter` points into ones of
// 4 * quarter points, over the first `extent` points.
void radix4_stage(const RealFft *plan, int32_t *z, int32_t extent, int32_t quarter)
{
    const int32_t step = plan->size / (4 * quarter); // twiddle word step: N / L
    const uint32_t *tw = plan->twiddles;
    for (int32_t base = 0; base < extent; base += 4 * quarter) {
        int32_t *x0 = z + 2 * base;
        int32_t *x1 = x0 + 2 * quarter;
        int32_t *x2 = x1 + 2 * quarter;
        int32_t *x3 = x2 + 2 * quarter;
        butterfly4(lift(x0), lift(x1), lift(x2), lift(x3), x0, x1, x2, x3);
        for (int32_t j = 1; j < quarter; ++j) {
            const int32_t o = 2 * j;
            const Wide a0 = lift(x0 + o);
            const Wide a1 = rotate(x1 + o, tw[j * step]);
            const Wide a2 = rotate(x2 + o, tw[2 * j * step]);
            const Wide a3 = rotate(x3 + o, tw[3 * j * step]);
            butterfly4(a0, a1, a2, a3, x0 + o, x1 + o, x2 + o, x3 + o);
        }
    }
}

// Final radix-2 stage over the two halves, divided by 2.
void radix2_stage(const RealFft *plan, int32_t *z)
{
    const int32_t half = plan->size / 4;
    const uint32_t *tw = plan->twiddles;
    for (int32_t k = 0; k < half; ++k) {
        int32_t *e = z + 2 * k;
        int32_t *o = z + 2 * (k + half);
        const Wide a = lift(e);
        const Wide b = k == 0 ? lift(o) : rotate(o, tw[2 * k]);
        e[0] = round_down(a.re + b.re, 16);
        e[1] = round_down(a.im + b.im, 16);
        o[0] = round_down(a.re - b.re, 16);
        o[1] = round_down(a.im - b.im, 16);
    }
}

// Forms the real spectrum from the complex transform Z of the N/2 values
// z[n] = x[2n] + i x[2n+1], in place, and divides by 2:
//   X[k] = (A + B) / 4 + W^k (A - B) / 4i,  A = Z[k], B = conj Z[N/2 - k].
// X[N/2 - k] follows from the same A and B, so each pair is done at once.
void split_step(const RealFft *plan, int32_t *z)
{
    const int32_t points = plan->size / 2;
    const uint32_t *tw = plan->twiddles;

    const int64_t r0 = z[0];
    const int64_t i0 = z[1];
    z[0] = round_down(r0 + i0, 1); // X[0]
    z[1] = round_down(r0 - i0, 1); // X[N/2]

    for (int32_t k = 1; k < points / 2; ++k) {
        int32_t *a = z + 2 * k;
        int32_t *b = z + 2 * (points - k);
        const int64_t sr = static_cast<int64_t>(a[0]) + b[0];
        const int64_t si = static_cast<int64_t>(a[1]) - b[1];
        const int64_t dr = static_cast<int64_t>(a[0]) - b[0];
        const int64_t di = static_cast<int64_t>(a[1]) + b[1];
        const int64_t c = twiddle_half(tw[k] >> 16);
        const int64_t s = twiddle_half(tw[k] & 0xFFFFu);
        const int64_t p = c * di - s * dr;
        const int64_t q = -c * dr - s * di;
        a[0] = round_down(sr * 32768 + p, 17);
        a[1] = round_down(si * 32768 + q, 17);
        b[0] = round_down(sr * 32768 - p, 17);
        b[1] = round_down(q - si * 32768, 17);
    }

    // k = N/4: W is -i exactly, so X = conj Z / 2.
    int32_t *m = z + points;
    m[0] = round_down(m[0], 1);
    m[1] = round_down(-static_cast<int64_t>(m[1]), 1);
}

} // namespace

ResultCode rfft_create(int32_t size, RealFft **plan)
{
    if (!plan || size < 8 || size > 1048576 || (size & (size - 1)) != 0)
        return RFFT_E_INVALID_ARG;
    const uint32_t *twiddles = rfft_twiddle_table(size);
    const uint16_t *order = rfft_input_order(size);
    if (!twiddles || !order)
        return RFFT_E_INVALID_ARG;
    auto *created = static_cast<RealFft *>(eng_malloc(sizeof(RealFft)));
    if (!created)
        return RFFT_E_NO_MEMORY;
    created->size = size;
    created->twiddles = twiddles;
    created->order = order;
    *plan = created;
    return ENG_OK;
}

ResultCode rfft_destroy(RealFft *plan)
{
    eng_free(plan);
    return ENG_OK;
}

ResultCode rfft_forward(const RealFft *plan, const int32_t *input, int32_t *output)
{
    if (!plan || !input || !output)
        return RFFT_E_INVALID_ARG;
    const int32_t points = plan->size / 2;
    // Radix-4 stages cover the largest power of four within the points.
    int32_t extent = 1;
    while (extent * 4 <= points)
        extent *= 4;

    first_stage(plan, input, output);
    for (int32_t quarter = 4; quarter * 4 <= extent; quarter *= 4)
        radix4_stage(plan, output, points, quarter);
    if (extent != points)
        radix2_stage(plan, output);
    split_step(plan, output);
    return ENG_OK;
}
