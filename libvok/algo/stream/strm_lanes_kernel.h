/*
 * The lane path's kernels, written once for any lane count: several
 * consecutive frames analysed together, one frame per vector lane.
 *
 * Included only by strm_lanes_avx2.cpp and strm_lanes_avx512.cpp, each
 * compiled for its own instruction set. Everything here has internal
 * linkage, so that no function built for those instructions can stand in
 * for one of the rest of the engine. Before including it, a file defines
 * struct Lanes with:
 *   kCount          lanes per vector (8 or 16)
 *   V, U            int32_t and uint32_t vectors of kCount lanes
 *   sum(v)          the lanes added, wrapping
 *   madd_add(c, a, b) per lane: c plus the products of the signed 16-bit
 *                   low halves and of the high halves of a and b (the
 *                   products' sum is exact in 32 bits; adding c wraps)
 *   transpose(f, r) r[m] = {f[0][m], ..., f[kCount - 1][m]}, m < kCount
 *
 * Each step gives, lane by lane, exactly the values that the scalar step
 * of strm_frame.cpp, rfft.cpp or strm_input.cpp gives for that frame. Most
 * are the same 32-bit operations in the same order, sums and products on
 * unsigned lanes (they wrap), right shifts on signed lanes (arithmetic);
 * where a value is formed another way (twiddle products, the weak-bit
 * ranking, normalisation spreads) the comment there says why it is the
 * same value.
 */
#ifndef VOK_ALGO_STREAM_STRM_LANES_KERNEL_H
#define VOK_ALGO_STREAM_STRM_LANES_KERNEL_H

#include <cstdint>
#include <cstring>
#include <utility>

#include "algo/stream/strm_lanes.h"
#include "engine/eng_bytes.h"

namespace {

using V = Lanes::V;
using U = Lanes::U;
constexpr int32_t kLanes = Lanes::kCount;

// --- Lane arithmetic ---------------------------------------------------------

inline V splat(int32_t x)
{
    return V{} + x;
}

inline V vadd(V a, V b)
{
    return (V)((U)a + (U)b);
}

inline V vsub(V a, V b)
{
    return (V)((U)a - (U)b);
}

inline V vmul(V a, V b)
{
    return (V)((U)a * (U)b);
}

inline V vmul(V a, int32_t b)
{
    return (V)((U)a * static_cast<uint32_t>(b));
}

// x / 2^shift rounded to nearest (rfft.cpp round_shift).
inline V round_shift(V x, int32_t shift)
{
    return vadd(x, splat(1 << (shift - 1))) >> shift;
}

// v t / 2^16 rounded, floor((v t + 0x7FFF) / 2^16), which is what
// rfft.cpp's twiddle_product forms from the signed high and unsigned low
// halves of v. Here v = H 2^16 + L with L the signed low half, so that both
// H t and L t are products of signed 16-bit values, and one multiply-add
// instruction forms each:
//   floor((v t + 0x7FFF) / 2^16) = H t + floor((L t + 0x7FFF) / 2^16).
// This needs |t| <= 32767, which holds for every twiddle but the exact
// ones of whole quarter turns (32768 for 1, handled apart), and
// |v| < 2^31 - 2^15 so that H = (v + 2^15) >> 16 fits 16 bits: the
// transform's inputs are within 2^30 (15 bits times a Q15 window), so its
// complex values stay within 2^30.5 (each stage divides by its radix), and
// the split step's halved sums and differences too.
struct Halves {
    V high;  // H in the low 16 bits
    V whole; // v: L in the low 16 bits
};

inline Halves halves(V v)
{
    return {vadd(v, splat(0x8000)) >> 16, v};
}

inline V product(const Halves &v, V t)
{
    const V low = Lanes::madd_add(splat(0x7FFF), v.whole, t) >> 16;
    return Lanes::madd_add(low, v.high, t);
}

// The same plus 1: 2^16 more before the low part's shift (|L t| < 2^30,
// so nothing wraps).
inline V product_plus_one(const Halves &v, V t)
{
    const V low = Lanes::madd_add(splat(0x17FFF), v.whole, t) >> 16;
    return Lanes::madd_add(low, v.high, t);
}

// A twiddle W = c - i s: its two halves as multiply-add operands, t in
// the low 16 bits and 0 in the high ones (strm_lanes_setup lays them out
// in the order of the transform's table).
struct Twiddle {
    V c;
    V s;
};

inline Twiddle twiddle_at(const int32_t *c, const int32_t *s, int32_t k)
{
    return {splat(c[k]), splat(s[k])};
}

// b = x W in Q15 with the twiddle products' halving:
// Re b = tp(Re x, c) + tp(Im x, s), Im b = tp(Im x, c) - tp(Re x, s).
inline void twiddled(V xr, V xi, const Twiddle &w, V &br, V &bi)
{
    const Halves hr = halves(xr), hi = halves(xi);
    br = vadd(product(hr, w.c), product(hi, w.s));
    bi = vsub(product(hi, w.c), product(hr, w.s));
}

// The same halved once more, rounded: the rotated operands of a radix-4
// butterfly. round_shift(v, 1) is (v + 1) >> 1; the 1 joins the first
// product.
inline void rotate(V xr, V xi, const Twiddle &w, V &ar, V &ai)
{
    const Halves hr = halves(xr), hi = halves(xi);
    ar = vadd(product_plus_one(hr, w.c), product(hi, w.s)) >> 1;
    ai = vsub(product_plus_one(hi, w.c), product(hr, w.s)) >> 1;
}

// Quarter turns are exact in the table (32768, which 16 bits cannot
// hold): for W = 1 the twiddle products are v >> 1 and 0, for W = -i
// (s = 32768) the same with the parts exchanged.
inline void rotate_by_one(V xr, V xi, V &ar, V &ai)
{
    ar = round_shift(xr >> 1, 1);
    ai = round_shift(xi >> 1, 1);
}

inline void rotate_by_minus_i(V xr, V xi, V &ar, V &ai)
{
    ar = round_shift(xi >> 1, 1);
    ai = round_shift(vsub(V{}, xr >> 1), 1);
}

// Per-lane scaling by 2^shift as in strm_frame.cpp's scaled(): a left
// shift by up, then an arithmetic right shift by down; one of the two is 0.
struct Scale {
    V up;
    V down;
};

inline Scale scale_of(const int32_t *shifts)
{
    Scale s;
    for (int32_t l = 0; l < kLanes; ++l) {
        s.up[l] = shifts[l] > 0 ? shifts[l] & 31 : 0;
        s.down[l] = shifts[l] < 0 ? (-shifts[l]) & 31 : 0;
    }
    return s;
}

inline V scaled(V v, const Scale &s)
{
    return (V)((U)v << (U)s.up) >> s.down;
}

inline V square(V v)
{
    return vmul(v, v);
}

// --- Normalisation -------------------------------------------------------------

// Index of the highest set bit, -1 for 0.
inline int32_t highest_bit(uint32_t v)
{
    return v == 0 ? -1 : 31 - __builtin_clz(v);
}

// OR of v XOR (v >> 1) over a run of one frame (strm_normalize_shift).
uint32_t spread_of(const int32_t *values, int32_t count)
{
    uint32_t spread = 0;
    for (int32_t k = 0; k < count; ++k)
        spread |= static_cast<uint32_t>(values[k] ^ (values[k] >> 1));
    return spread;
}

inline V spread_row(V v)
{
    return v ^ (v >> 1);
}

// Shifts for target bits from the spread of each lane.
void shifts_of(V spread, int32_t target_bits, int32_t *shifts)
{
    for (int32_t l = 0; l < kLanes; ++l)
        shifts[l] = target_bits - highest_bit(static_cast<uint32_t>(spread[l])) - 1;
}

// --- Transform (rfft.cpp, one frame per lane) ------------------------------------

// Where the frames are: sample n of frame l at base[(start[l] + n) & mask].
// Every start is a multiple of the lane count (frames begin on hops of 64
// or 128 samples), and so is the ring's size, so each run of kLanes samples
// of a frame lies in one piece.
struct Frames {
    const int32_t *base;
    const int32_t *start;
    uint32_t mask;
};

// The frames across the lanes, scaled by 2^a of each frame and windowed
// (strm_frame.cpp window_scaled): row n holds sample n of every frame.
// kLanes samples of kLanes frames are turned at a time.
void window_rows(const Frames &frames, const Scale &a, const uint16_t *w, int32_t n, V *rows)
{
    const int32_t half = n / 2; // a multiple of kLanes: no block straddles it
    const int32_t *from[kLanes];
    V block[kLanes];
    for (int32_t at = 0; at < n; at += kLanes) {
        for (int32_t l = 0; l < kLanes; ++l)
            from[l] = frames.base + (static_cast<uint32_t>(frames.start[l] + at) & frames.mask);
        Lanes::transpose(from, block);
        if (at < half) {
            for (int32_t m = 0; m < kLanes; ++m)
                rows[at + m] = vmul(scaled(block[m], a), static_cast<int32_t>(w[at + m]));
        } else {
            for (int32_t m = 0; m < kLanes; ++m)
                rows[at + m] = vmul(scaled(block[m], a), static_cast<int32_t>(w[n - 1 - at - m]));
        }
    }
}

// rfft.cpp first_stage: all its twiddles are 1; it divides by 4 and reads
// the inputs in decimation order.
void first_stage(const uint16_t *order, const V *input, int32_t points, V *re, V *im)
{
    const int32_t quarter = points / 4;
    for (int32_t u = 0; u < quarter; ++u) {
        const V *x = input + 2 * order[4 * u];
        const V a0r = round_shift(x[0], 2);
        const V a0i = round_shift(x[1], 2);
        const V a1r = round_shift(x[2 * quarter], 2);
        const V a1i = round_shift(x[2 * quarter + 1], 2);
        const V a2r = round_shift(x[4 * quarter], 2);
        const V a2i = round_shift(x[4 * quarter + 1], 2);
        const V a3r = round_shift(x[6 * quarter], 2);
        const V a3i = round_shift(x[6 * quarter + 1], 2);
        const V t0r = vadd(a0r, a2r), t0i = vadd(a0i, a2i);
        const V t1r = vsub(a0r, a2r), t1i = vsub(a0i, a2i);
        const V t2r = vadd(a1r, a3r), t2i = vadd(a1i, a3i);
        const V t3r = vsub(a1r, a3r), t3i = vsub(a1i, a3i);
        re[4 * u] = vadd(t0r, t2r);
        im[4 * u] = vadd(t0i, t2i);
        re[4 * u + 1] = vadd(t1r, t3i);
        im[4 * u + 1] = vsub(t1i, t3r);
        re[4 * u + 2] = vsub(t0r, t2r);
        im[4 * u + 2] = vsub(t0i, t2i);
        re[4 * u + 3] = vsub(t1r, t3i);
        im[4 * u + 3] = vadd(t1i, t3r);
    }
}

// The radix-4 butterfly at j of the group at r0, i0 from its four
// quarters, the last three already rotated (rfft.cpp radix4_stage).
inline void butterfly(V *r0, V *i0, int32_t q, int32_t j, V a1r, V a1i, V a2r, V a2i, V a3r, V a3i)
{
    const V a0r = round_shift(r0[j], 2);
    const V a0i = round_shift(i0[j], 2);
    const V t0r = vadd(a0r, a2r), t0i = vadd(a0i, a2i);
    const V t1r = vsub(a0r, a2r), t1i = vsub(a0i, a2i);
    const V t2r = vadd(a1r, a3r), t2i = vadd(a1i, a3i);
    const V t3r = vsub(a1r, a3r), t3i = vsub(a1i, a3i);
    r0[j] = vadd(t0r, t2r);
    i0[j] = vadd(t0i, t2i);
    r0[j + q] = vadd(t1r, t3i);
    i0[j + q] = vsub(t1i, t3r);
    r0[j + 2 * q] = vsub(t0r, t2r);
    i0[j + 2 * q] = vsub(t0i, t2i);
    r0[j + 3 * q] = vsub(t1r, t3i);
    i0[j + 3 * q] = vadd(t1i, t3r);
}

// rfft.cpp radix4_stage, in place; op holds the stage's twiddles as
// multiply-add operands. Quarter m of butterfly j turns by W^(m j) of a
// 4q-point transform: W^0 = 1 at j = 0, and a quarter turn, -i, exactly
// when m j = q, that is m = 2 and j = q / 2; every other twiddle half
// fits 16 signed bits.
void radix4_stage(V *re, V *im, int32_t points, int32_t q, const int32_t *op)
{
    const int32_t *c1 = op;
    const int32_t *s1 = op + q;
    const int32_t *c2 = op + 2 * q;
    const int32_t *s2 = op + 3 * q;
    const int32_t *c3 = op + 4 * q;
    const int32_t *s3 = op + 5 * q;
    for (int32_t base = 0; base < points; base += 4 * q) {
        V *r0 = re + base;
        V *i0 = im + base;
        V a1r, a1i, a2r, a2i, a3r, a3i;
        rotate_by_one(r0[q], i0[q], a1r, a1i);
        rotate_by_one(r0[2 * q], i0[2 * q], a2r, a2i);
        rotate_by_one(r0[3 * q], i0[3 * q], a3r, a3i);
        butterfly(r0, i0, q, 0, a1r, a1i, a2r, a2i, a3r, a3i);
        for (int32_t j = 1; j < q; ++j) {
            rotate(r0[j + q], i0[j + q], twiddle_at(c1, s1, j), a1r, a1i);
            if (j == q / 2)
                rotate_by_minus_i(r0[j + 2 * q], i0[j + 2 * q], a2r, a2i);
            else
                rotate(r0[j + 2 * q], i0[j + 2 * q], twiddle_at(c2, s2, j), a2r, a2i);
            rotate(r0[j + 3 * q], i0[j + 3 * q], twiddle_at(c3, s3, j), a3r, a3i);
            butterfly(r0, i0, q, j, a1r, a1i, a2r, a2i, a3r, a3i);
        }
    }
}

// rfft.cpp radix2_stage, in place, over twiddles W^(2k) of the N-point
// transform: 1 at k = 0 and -i at k = N/8 = half / 2.
void radix2_stage(V *re, V *im, int32_t half, const int32_t *op)
{
    const int32_t *c = op;
    const int32_t *s = op + half;
    for (int32_t k = 0; k < half; ++k) {
        const V er = round_shift(re[k], 1);
        const V ei = round_shift(im[k], 1);
        const V orr = re[k + half], oi = im[k + half];
        V br, bi;
        if (k == 0) {
            br = orr >> 1;
            bi = oi >> 1;
        } else if (k == half / 2) {
            br = oi >> 1;
            bi = vsub(V{}, orr >> 1);
        } else {
            twiddled(orr, oi, twiddle_at(c, s, k), br, bi);
        }
        re[k] = vadd(er, br);
        im[k] = vadd(ei, bi);
        re[k + half] = vsub(er, br);
        im[k + half] = vsub(ei, bi);
    }
}

inline V half_sum(V a, V b)
{
    return vadd(vadd(a >> 1, b >> 1), a & b & 1);
}

inline V half_difference(V a, V b)
{
    return vsub(vsub(a >> 1, b >> 1), ~a & b & 1);
}

struct SplitTerms {
    V sum_re;
    V sum_im;
    V p;
    V q;
};

// P = tp(Im d, c) - tp(Re d, s) and Q = -(tp(Re d, c) + tp(Im d, s)) for
// d = (A - B) / 2: the parts of d W exchanged, one negated. The split
// step's twiddles lie strictly between the quarter turns.
inline SplitTerms split_terms(V ar, V ai, V br, V bi, const Twiddle &w)
{
    const V sr = half_sum(ar, br);
    const V si = half_difference(ai, bi);
    V wr, wi;
    twiddled(half_difference(ar, br), half_sum(ai, bi), w, wr, wi);
    return {round_shift(sr, 1), round_shift(si, 1), wi, vsub(V{}, wr)};
}

// Low 32 bits of (v + 1) / 2 for a 64-bit v (rfft.cpp round_down by 1).
inline int32_t round_down_half(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>((static_cast<uint64_t>(v) + 1u) >> 1));
}

// rfft.cpp split_step: the packed real spectrum into out.
// Answers the spread of the whole spectrum (for its normalisation).
V split_step(const V *re, const V *im, const int32_t *c, const int32_t *s, int32_t points, V *out)
{
    // split_upper forms X[N/2 - k] from the same terms as split_lower's
    // X[k]: both come from one evaluation.
    V spread{};
    for (int32_t k = 1; k < points / 2; ++k) {
        const int32_t partner = points - k;
        const SplitTerms t =
            split_terms(re[k], im[k], re[partner], im[partner], twiddle_at(c, s, k));
        out[2 * k] = vadd(t.sum_re, t.p);
        out[2 * k + 1] = vadd(t.sum_im, t.q);
        out[2 * partner] = vsub(t.sum_re, t.p);
        out[2 * partner + 1] = vsub(t.q, t.sum_im);
        spread |= spread_row(out[2 * k]) | spread_row(out[2 * k + 1]) |
                  spread_row(out[2 * partner]) | spread_row(out[2 * partner + 1]);
    }
    // X[0], X[N/2] and X[N/4] come from sums that need 33 bits.
    const int32_t h = points / 2;
    for (int32_t l = 0; l < kLanes; ++l) {
        out[0][l] = round_down_half(static_cast<int64_t>(re[0][l]) + im[0][l]);
        out[1][l] = round_down_half(static_cast<int64_t>(re[0][l]) - im[0][l]);
        out[2 * h][l] = round_down_half(re[h][l]);
        out[2 * h + 1][l] = round_down_half(-static_cast<int64_t>(im[h][l]));
    }
    return spread | spread_row(out[0]) | spread_row(out[1]) | spread_row(out[2 * h]) |
           spread_row(out[2 * h + 1]);
}

// --- Spectrum to band energies (strm_frame.cpp) -----------------------------------

// power_scaled: N/2 + 1 power values of the packed spectrum scaled by 2^b.
// Answers their spread.
V power_rows(const V *spectrum, const Scale &b, int32_t n, V *power)
{
    const int32_t half = n / 2;
    power[0] = square(scaled(spectrum[0], b));
    power[half] = square(scaled(spectrum[1], b));
    V spread = spread_row(power[0]) | spread_row(power[half]);
    for (int32_t k = 1; k < half; ++k) {
        power[k] = vadd(square(scaled(spectrum[2 * k], b)), square(scaled(spectrum[2 * k + 1], b)));
        spread |= spread_row(power[k]);
    }
    return spread;
}

// band_sums: each quarter-bin position of a band adds its nearest bin.
void band_rows(const V *power, const Scale &c, const int16_t *edges, V *energies)
{
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band) {
        const int32_t first = edges[band];
        const int32_t last = edges[band + 1] - 1;
        const int32_t b0 = (first + 2) >> 2;
        const int32_t b1 = (last + 2) >> 2;
        V sum;
        if (b0 == b1) {
            sum = vmul(scaled(power[b0], c), last - first + 1);
        } else {
            sum = vmul(scaled(power[b0], c), 4 * b0 + 2 - first);
            V inner{};
            for (int32_t b = b0 + 1; b < b1; ++b)
                inner = vadd(inner, scaled(power[b], c));
            sum = vadd(sum, vmul(inner, 4));
            sum = vadd(sum, vmul(scaled(power[b1], c), last - 4 * b1 + 3));
        }
        energies[band] = sum;
    }
}

// --- Steps carried from frame to frame (strm_frame.cpp) ---------------------------

// {first, v[0], ..., v[kLanes - 2]}: each lane gets the value of the lane
// before it, the first lane the one carried in.
template <size_t... I>
inline V shifted_in(V v, int32_t first, std::index_sequence<I...>)
{
    return __builtin_shufflevector(splat(first), v, (I == 0 ? 0 : kLanes + I - 1)...);
}

inline V shifted_in(V v, int32_t first)
{
    return shifted_in(v, first, std::make_index_sequence<kLanes>{});
}

// strm_finish_frame for count frames at once: frame l's previous filter
// values and exponent are frame l - 1's (frame 0's those of the state).
// The generator then runs for the quiet frames in order, and the state
// keeps the last frame's values, as after count calls of the scalar step.
void finish_batch(StreamState *state, const V *bands, const int32_t *exponents, int32_t count,
                  uint32_t *fingerprints, uint32_t *masks)
{
    V exponent;
    for (int32_t l = 0; l < kLanes; ++l)
        exponent[l] = exponents[l];
    const V next = vadd(exponent, splat(2));
    // Shift counts modulo 32: a step of 32 or more shifts by its low bits.
    const V d = vsub(next, shifted_in(next, state->previous_exponent));
    const V up = d & 31;
    const V down = vsub(V{}, d) & 31;
    const V rising = d >= 0;
    const int32_t last = count - 1;

    U bits{};
    U magnitude[STRM_FILTER_COUNT];
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        const V *b = bands + 2 * k;
        const V h = vsub(vadd(vadd(b[0], b[1]), b[2]), vadd(vadd(b[3], b[4]), b[5]));
        const V prev = shifted_in(h, state->previous_filter[k]);
        const V out = rising ? vsub(h >> up, prev) : vsub(h, prev >> down);
        state->previous_filter[k] = h[last];
        bits |= (U)(out > 0) & (0x80000000u >> k);
        magnitude[k] = out < 0 ? U{} - (U)out : (U)out;
    }
    state->previous_exponent = next[last];

    // Weak bits: rank k by magnitude, ties to the lower k; the W lowest
    // ranks are marked (strm_weak_bit_mask).
    const int32_t w = state->weak_bits;
    const V wanted = splat(w < 0 ? 0 : w > 32 ? 32 : w);
    U weak{};
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        V rank{};
        for (int32_t j = 0; j < k; ++j)
            rank -= (V)(magnitude[j] <= magnitude[k]);
        for (int32_t j = k + 1; j < STRM_FILTER_COUNT; ++j)
            rank -= (V)(magnitude[j] < magnitude[k]);
        weak |= (U)(rank < wanted) & (0x80000000u >> k);
    }

    // Quiet-frame test (strm_is_quiet): the bands normalised to 24 bits.
    V spread{};
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band)
        spread |= spread_row(bands[band]);
    int32_t g[kLanes];
    shifts_of(spread, 24, g);
    const Scale scale = scale_of(g);
    V sum{};
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band)
        sum = vadd(sum, scaled(bands[band], scale));

    for (int32_t l = 0; l < count; ++l) {
        const int32_t level = state->log2_frame + exponents[l] + g[l] + 1;
        const bool kept = level < 0 || (level < 32 && (sum[l] >> level) >= 32);
        fingerprints[l] = kept ? bits[l] : strm_random_next(&state->random);
        masks[l] = weak[l];
    }
}

// --- One batch -------------------------------------------------------------------

// Analyses count frames (1 to kLanes; lanes beyond count repeat frame 0 and
// are ignored): the per-frame work across lanes, then the carried-over
// steps. spreads: each frame's OR of v XOR (v >> 1), or null to compute it.
void analyse_batch(StreamState *state, const int32_t *base, const int32_t *starts,
                   uint32_t index_mask, const uint32_t *spreads, int32_t count,
                   uint32_t *fingerprints, uint32_t *masks)
{
    const int32_t n = state->frame_length;
    const RealFft *fft = state->fft;
    V *work = reinterpret_cast<V *>(state->lane_work);
    V *re = work;           // N rows: the complex transform, then the power values
    V *spectrum = work + n; // N rows: the windowed frames, then the packed spectrum

    int32_t frame_shift[kLanes];
    int32_t start[kLanes];
    for (int32_t l = 0; l < kLanes; ++l) {
        const int32_t from = l < count ? l : 0;
        start[l] = starts[from];
        uint32_t spread;
        if (spreads) {
            spread = spreads[from];
        } else {
            // A frame wraps around the ring at most once.
            const uint32_t first = static_cast<uint32_t>(start[l]) & index_mask;
            const uint64_t room = static_cast<uint64_t>(index_mask) + 1 - first;
            const int32_t head = room < static_cast<uint64_t>(n) ? static_cast<int32_t>(room) : n;
            spread = spread_of(base + first, head) | spread_of(base, n - head);
        }
        frame_shift[l] = 15 - highest_bit(spread) - 1;
    }
    const Frames frames = {base, start, index_mask};

    const int32_t points = n / 2;
    int32_t extent = 1;
    while (extent * 4 <= points)
        extent *= 4;
    V *im = re + points;
    window_rows(frames, scale_of(frame_shift), state->window, n, spectrum);
    first_stage(fft->order, spectrum, points, re, im);
    const int32_t *op = state->lane_twiddles; // laid out as fft->stages
    for (int32_t q = 4; q * 4 <= extent; q *= 4) {
        radix4_stage(re, im, points, q, op);
        op += 6 * q;
    }
    if (extent != points)
        radix2_stage(re, im, points / 2, op);
    const int32_t *split = state->lane_twiddles + fft->split_offset;
    int32_t spectrum_shift[kLanes];
    shifts_of(split_step(re, im, split, split + points / 2, points, spectrum), 15, spectrum_shift);

    V *power = re; // free again after the split step
    int32_t power_shift[kLanes];
    shifts_of(power_rows(spectrum, scale_of(spectrum_shift), n, power), 21, power_shift);
    V bands[STRM_BAND_COUNT];
    band_rows(power, scale_of(power_shift), state->band_edges, bands);

    int32_t exponents[kLanes];
    for (int32_t l = 0; l < kLanes; ++l)
        exponents[l] = 46 + 2 * frame_shift[l] + 2 * spectrum_shift[l] + power_shift[l];
    finish_batch(state, bands, exponents, count, fingerprints, masks);
}

// --- Input: conversion, resampling, framing ------------------------------------------

// Input frames converted per pass; with the 32 samples before them (the
// input ring's worth) and the outputs they give, 8320 bytes on the stack.
constexpr int32_t kChunk = 1024;
constexpr int32_t kHistory = STRM_INPUT_RING;
constexpr uint32_t kPhaseStep = 441;

// The 16 taps of the filter, oldest first, as whole vectors.
struct Taps {
    V v[16 / kLanes];
};

Taps taps_of(const int16_t *c)
{
    Taps taps;
    for (int32_t k = 0; k < 8; ++k) {
        taps.v[k / kLanes][k % kLanes] = c[k];
        taps.v[(15 - k) / kLanes][(15 - k) % kLanes] = c[k];
    }
    return taps;
}

// The 16-tap filter over x[0 ... 15] (strm_input.cpp fir): 32-bit products
// summed with wrap-around, so in any order.
inline int32_t fir16(const Taps &taps, const int32_t *x)
{
    V sum{};
    for (int32_t k = 0; k < 16 / kLanes; ++k) {
        V v;
        std::memcpy(&v, x + k * kLanes, sizeof v);
        sum = vadd(sum, vmul(v, taps.v[k]));
    }
    return Lanes::sum(sum);
}

// Analyses the waiting frames: a batch across the lanes, or frame by frame
// on the scalar path when so few wait that a batch would cost more.
void run_pending(StreamState *s)
{
    const int32_t n = s->frame_length;
    const uint32_t ring_mask = static_cast<uint32_t>(2 * n - 1);
    const int32_t count = s->pending;
    s->pending = 0;
    if (count == 0)
        return;
    uint32_t fingerprints[kLanes];
    uint32_t masks[kLanes];
    if (4 * count >= kLanes) {
        // A frame's spread is the OR of those of the N / H hops it covers.
        const int32_t hops = n / s->hop;
        int32_t starts[kLanes];
        uint32_t spreads[kLanes];
        for (int32_t l = 0; l < count; ++l) {
            starts[l] = static_cast<int32_t>(static_cast<uint32_t>(s->pending_start + l * s->hop) &
                                             ring_mask);
            spreads[l] = 0;
            const int32_t first = starts[l] / s->hop;
            for (int32_t k = 0; k < hops; ++k)
                spreads[l] |= s->hop_spread[(first + k) & (2 * hops - 1)];
        }
        analyse_batch(s, s->lane_ring, starts, ring_mask, spreads, count, fingerprints, masks);
    } else {
        for (int32_t l = 0; l < count; ++l) {
            const uint32_t start = static_cast<uint32_t>(s->pending_start + l * s->hop) & ring_mask;
            const int32_t head =
                2 * n - static_cast<int32_t>(start) < n ? 2 * n - static_cast<int32_t>(start) : n;
            std::memcpy(s->frame, s->lane_ring + start,
                        static_cast<size_t>(head) * sizeof(int32_t));
            std::memcpy(s->frame + head, s->lane_ring,
                        static_cast<size_t>(n - head) * sizeof(int32_t));
            fingerprints[l] = strm_analyze_frame(s, &masks[l]);
        }
    }
    for (int32_t l = 0; l < count; ++l)
        strm_store_frame(s, fingerprints[l], masks[l]);
}

// The framing step of strm_frame.cpp for count samples, with frames
// waiting for a batch. The samples go in runs up to the next hop boundary,
// where a frame may be due; the frame ring and the lane ring are at the
// same place within a hop, so no run wraps either of them.
void push_samples(StreamState *s, const int32_t *samples, int32_t count)
{
    const int32_t n = s->frame_length;
    const int32_t hop = s->hop;
    while (count > 0) {
        const int32_t room = hop - (s->ring_position & (hop - 1));
        const int32_t run = count < room ? count : room;
        const size_t bytes = static_cast<size_t>(run) * sizeof(int32_t);
        std::memcpy(s->frame_ring + s->ring_position, samples, bytes);
        std::memcpy(s->lane_ring + s->lane_position, samples, bytes);
        s->spread_sum |= spread_of(samples, run);
        samples += run;
        count -= run;
        s->ring_position += run;
        if (s->ring_position == n) {
            s->ring_position = 0;
            s->ring_filled = 1;
        }
        s->lane_position += run;
        if (run < room)
            break;
        // A hop is complete: hop j of the lane ring covers samples
        // j H ... j H + H - 1.
        s->hop_spread[(s->lane_position - hop) / hop] = s->spread_sum;
        s->spread_sum = 0;
        s->lane_position &= 2 * n - 1;
        if (!s->ring_filled)
            continue;
        if (s->pending == 0)
            s->pending_start = (s->lane_position - n) & (2 * n - 1);
        s->pending += 1;
        if (s->pending == kLanes)
            run_pending(s);
    }
}

// The output samples of count input frames, line[32 ... 32 + count - 1]
// with the 32 before them in line[0 ... 31], from phase *p on (left at the
// phase of the frame after them): strm_input.cpp's loop without the
// framing. Answers how many.
int32_t resample(const Taps &taps, const int32_t *line, int32_t count, uint32_t modulus,
                 uint32_t *phase, int32_t *outputs)
{
    int32_t made = 0;
    uint32_t p = *phase;
    if (modulus % kPhaseStep == 0) {
        // 11025, 22050 and 44100 Hz: the phase stays a multiple of 441, so
        // it is 0 at every output (no interpolation), and outputs follow
        // every M / 441 = 2, 4 or 8 frames.
        const int32_t every = static_cast<int32_t>(modulus / kPhaseStep);
        const int32_t first = p == 0 ? 0 : static_cast<int32_t>((modulus - p) / kPhaseStep);
        for (int32_t f = first; f < count; f += every)
            outputs[made++] = fir16(taps, line + f + kHistory - 15);
        *phase = (p + static_cast<uint32_t>(count) * kPhaseStep) % modulus; // below 2^19
        return made;
    }
    int32_t f = 0;
    while (f < count) {
        if (p >= kPhaseStep) {
            // No output until the phase wraps: after ceil((M - p) / 441)
            // frames, or at the chunk's end.
            const uint32_t skip = (modulus - p + kPhaseStep - 1) / kPhaseStep;
            if (skip > static_cast<uint32_t>(count - f)) {
                p += static_cast<uint32_t>(count - f) * kPhaseStep;
                break;
            }
            p = p + skip * kPhaseStep - modulus;
            f += static_cast<int32_t>(skip);
            continue;
        }
        // Frame f is line[f + 32]; the filter at it reads the 16 samples
        // ending there, the one at the frame before it the 16 ending one
        // earlier.
        const int32_t *x = line + f + kHistory - 15;
        int32_t y = fir16(taps, x);
        if (p != 0) {
            // Linear interpolation towards the previous filter output,
            // weight p * 74 / 2^15 (about p / 442.8).
            const int32_t g = fir16(taps, x - 1);
            const int32_t step =
                static_cast<int32_t>(static_cast<uint32_t>(g) - static_cast<uint32_t>(y)) >> 15;
            y = static_cast<int32_t>(static_cast<uint32_t>(y) +
                                     static_cast<uint32_t>(step) * (p * 74));
        }
        outputs[made++] = y;
        p += kPhaseStep;
        if (p >= modulus)
            p -= modulus;
        f += 1;
    }
    *phase = p;
    return made;
}

// strm_input.cpp feed: each frame to one sample in the input ring; an
// output sample whenever the phase is below 441, from the filter at the
// frame and, between input samples, at the one before it.
void feed(StreamState *s, const uint8_t *bytes, uint32_t frames)
{
    const uint32_t modulus = 2 * s->sample_rate / 25;
    const Taps taps = taps_of(strm_fir_coefficients(s->rate_index));
    // line[0 ... 31]: the 32 samples before the chunk, oldest first. A
    // chunk gives at most one output per input frame (8000 Hz: 441 of 640).
    int32_t line[kHistory + kChunk];
    int32_t outputs[kChunk];
    const int32_t *ring = s->input_ring;
    int32_t i = s->input_index;
    for (int32_t k = 0; k < kHistory; ++k)
        line[k] = ring[(i - kHistory + k) & (STRM_INPUT_RING - 1)];
    uint32_t p = s->phase;
    const uint32_t stride = s->bytes_per_frame;
    while (frames > 0) {
        const int32_t count =
            frames < static_cast<uint32_t>(kChunk) ? static_cast<int32_t>(frames) : kChunk;
        strm_convert(s, bytes, count, line + kHistory);
        const int32_t made = resample(taps, line, count, modulus, &p, outputs);
        push_samples(s, outputs, made);
        std::memmove(line, line + count, kHistory * sizeof(int32_t));
        i = (i + count) & (STRM_INPUT_RING - 1);
        bytes += static_cast<size_t>(count) * stride;
        frames -= static_cast<uint32_t>(count);
    }
    // The input ring ends as the scalar loop leaves it: the last 32
    // samples at their slots, each twice.
    for (int32_t k = 0; k < kHistory; ++k) {
        const int32_t slot = (i - kHistory + k) & (STRM_INPUT_RING - 1);
        s->input_ring[slot] = line[k];
        s->input_ring[slot + STRM_INPUT_RING] = line[k];
    }
    s->input_index = i;
    s->phase = p;
    run_pending(s);
}

} // namespace

#endif /* VOK_ALGO_STREAM_STRM_LANES_KERNEL_H */
