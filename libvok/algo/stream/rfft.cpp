// Real FFT plan and forward transform (32-bit fixed point; the stages scale
// themselves so that the result is the spectrum divided by N).
//
// The complex stages keep real and imaginary parts in separate runs (the
// first half and the second half of a buffer) and read their twiddles in
// order, so that the compiler can vectorise them. All arithmetic is 32-bit:
// each operand is brought to its share of the result before the sums
// (rounded to nearest), twiddle products are formed from 16-bit halves, and
// twiddles of whole quarter turns are exact. Only X[0], X[N/2] and X[N/4]
// are formed from one wide sum.
#include "algo/stream/rfft.h"

#include "engine/eng_memory.h"
#include "engine/eng_vector.h"
#include "engine/eng_wrap.h"

#define RFFT_HOT ENG_VECTOR_CLONES

// Iterations of a stage loop touch disjoint points (each reads and writes
// only its own four), so they carry no dependence even when a stage works
// in place.
#if defined(__GNUC__) && !defined(__clang__)
#define RFFT_INDEPENDENT _Pragma("GCC ivdep")
#else
#define RFFT_INDEPENDENT
#endif

namespace {

// v / 2^shift rounded to nearest, as a 32-bit value (the low 32 bits of a
// logical and of an arithmetic shift agree for shifts up to 32).
inline int32_t round_down(int64_t v, int32_t shift)
{
    const uint64_t biased = static_cast<uint64_t>(v) + (static_cast<uint64_t>(1) << (shift - 1));
    return static_cast<int32_t>(static_cast<uint32_t>(biased >> shift));
}

// x / 2^shift rounded to nearest.
inline int32_t round_shift(int32_t x, int32_t shift)
{
    return eng_asr(eng_wrap_add(x, 1 << (shift - 1)), shift);
}

// The four outputs of a radix-4 butterfly, `stride` apart, from its four
// operands, each already brought to a quarter (see radix4_stage).
inline void butterfly4(int32_t a0r, int32_t a0i, int32_t a1r, int32_t a1i, int32_t a2r, int32_t a2i,
                       int32_t a3r, int32_t a3i, int32_t *re, int32_t *im, int32_t stride)
{
    const int32_t t0r = eng_wrap_add(a0r, a2r), t0i = eng_wrap_add(a0i, a2i);
    const int32_t t1r = eng_wrap_sub(a0r, a2r), t1i = eng_wrap_sub(a0i, a2i);
    const int32_t t2r = eng_wrap_add(a1r, a3r), t2i = eng_wrap_add(a1i, a3i);
    const int32_t t3r = eng_wrap_sub(a1r, a3r), t3i = eng_wrap_sub(a1i, a3i);
    re[0] = eng_wrap_add(t0r, t2r);
    im[0] = eng_wrap_add(t0i, t2i);
    re[stride] = eng_wrap_add(t1r, t3i);
    im[stride] = eng_wrap_sub(t1i, t3r);
    re[2 * stride] = eng_wrap_sub(t0r, t2r);
    im[2 * stride] = eng_wrap_sub(t0i, t2i);
    re[3 * stride] = eng_wrap_sub(t1r, t3i);
    im[3 * stride] = eng_wrap_add(t1i, t3r);
}

// The first radix-4 stage: all its twiddles are 1; it divides by 4. It
// reads the interleaved complex inputs in decimation order: the four
// inputs of the butterfly at positions 4u ... 4u + 3 are d, d + N/8,
// d + N/4 and d + 3N/8 for d = order[4u].
RFFT_HOT void first_stage(const uint16_t *__restrict order, const int32_t *__restrict input,
                          int32_t points, int32_t *__restrict re, int32_t *__restrict im)
{
    const int32_t quarter = points / 4;
    for (int32_t u = 0; u < quarter; ++u) {
        const int32_t *x = input + 2 * order[4 * u];
        // Each input brought to a quarter first, as in the later stages.
        butterfly4(round_shift(x[0], 2), round_shift(x[1], 2), round_shift(x[2 * quarter], 2),
                   round_shift(x[2 * quarter + 1], 2), round_shift(x[4 * quarter], 2),
                   round_shift(x[4 * quarter + 1], 2), round_shift(x[6 * quarter], 2),
                   round_shift(x[6 * quarter + 1], 2), re + 4 * u, im + 4 * u, 1);
    }
}

// v t / 2^16 rounded, for a Q15 twiddle half t (|t| <= 32768), formed from
// the signed high and unsigned low 16-bit halves of v so that every product
// stays within 32 bits. With Q15 twiddles it carries a factor of one half.
inline int32_t twiddle_product(int32_t v, int32_t t)
{
    const int32_t high = eng_asr(v, 16) * t;
    const int32_t low = eng_asr((v & 0xFFFF) * t + 0x7FFF, 16);
    return eng_wrap_add(high, low);
}

// (xr + i xi) rotated by c - i s, halved by the twiddle products and halved
// again: a quarter, as butterfly4 takes it.
inline void rotate(int32_t xr, int32_t xi, int32_t c, int32_t s, int32_t &ar, int32_t &ai)
{
    ar = round_shift(eng_wrap_add(twiddle_product(xr, c), twiddle_product(xi, s)), 1);
    ai = round_shift(eng_wrap_sub(twiddle_product(xi, c), twiddle_product(xr, s)), 1);
}

// A radix-4 decimation-in-time stage combining sub-transforms of q points
// into ones of 4q points, divided by 4:
//   y0 = a0 + a1 + a2 + a3,   y1 = a0 - i a1 - a2 + i a3,
//   y2 = a0 - a1 + a2 - a3,   y3 = a0 + i a1 - a2 - i a3,
// with a_m the m-th quarter rotated by W^(m j) = c - i s. Each operand is
// brought to a quarter first (the rotated ones from the half that the
// twiddle product leaves), so the sums stay within the input's range.
// Source and destination may be the same runs.
RFFT_HOT void radix4_stage(const int32_t *sre, const int32_t *sim, int32_t *dre, int32_t *dim,
                           int32_t points, int32_t q, const int32_t *tw)
{
    const int32_t *c1 = tw;
    const int32_t *s1 = tw + q;
    const int32_t *c2 = tw + 2 * q;
    const int32_t *s2 = tw + 3 * q;
    const int32_t *c3 = tw + 4 * q;
    const int32_t *s3 = tw + 5 * q;
    for (int32_t base = 0; base < points; base += 4 * q) {
        const int32_t *r0 = sre + base;
        const int32_t *i0 = sim + base;
        int32_t *o0 = dre + base;
        int32_t *p0 = dim + base;
        RFFT_INDEPENDENT
        for (int32_t j = 0; j < q; ++j) {
            int32_t a1r, a1i, a2r, a2i, a3r, a3i;
            rotate(r0[j + q], i0[j + q], c1[j], s1[j], a1r, a1i);
            rotate(r0[j + 2 * q], i0[j + 2 * q], c2[j], s2[j], a2r, a2i);
            rotate(r0[j + 3 * q], i0[j + 3 * q], c3[j], s3[j], a3r, a3i);
            butterfly4(round_shift(r0[j], 2), round_shift(i0[j], 2), a1r, a1i, a2r, a2i, a3r, a3i,
                       o0 + j, p0 + j, q);
        }
    }
}

// The final radix-2 stage over the two halves, divided by 2.
RFFT_HOT void radix2_stage(const int32_t *sre, const int32_t *sim, int32_t *dre, int32_t *dim,
                           int32_t half, const int32_t *tw)
{
    const int32_t *c = tw;
    const int32_t *s = tw + half;
    RFFT_INDEPENDENT
    for (int32_t k = 0; k < half; ++k) {
        const int32_t er = round_shift(sre[k], 1);
        const int32_t ei = round_shift(sim[k], 1);
        const int32_t orr = sre[k + half], oi = sim[k + half];
        const int32_t br = eng_wrap_add(twiddle_product(orr, c[k]), twiddle_product(oi, s[k]));
        const int32_t bi = eng_wrap_sub(twiddle_product(oi, c[k]), twiddle_product(orr, s[k]));
        dre[k] = eng_wrap_add(er, br);
        dim[k] = eng_wrap_add(ei, bi);
        dre[k + half] = eng_wrap_sub(er, br);
        dim[k + half] = eng_wrap_sub(ei, bi);
    }
}

// floor((a + b) / 2) and floor((a - b) / 2) without leaving 32 bits.
inline int32_t half_sum(int32_t a, int32_t b)
{
    return eng_wrap_add(eng_wrap_add(eng_asr(a, 1), eng_asr(b, 1)), a & b & 1);
}

inline int32_t half_difference(int32_t a, int32_t b)
{
    return eng_wrap_sub(eng_wrap_sub(eng_asr(a, 1), eng_asr(b, 1)), ~a & b & 1);
}

// The split step forms the packed real spectrum from the complex
// transform Z of the N/2 values z[n] = x[2n] + i x[2n+1] and divides by 2:
//   X[k] = (A + B) / 4 + W^k (A - B) / 4i,  A = Z[k], B = conj Z[N/2 - k].
// With P = c Im(A - B) - s Re(A - B) and Q = -c Re(A - B) - s Im(A - B)
// (W^k = c - i s, Q15):
//   X[k]       = ( Re(A + B) / 4 + P / 2^17,  Im(A + B) / 4 + Q / 2^17),
//   X[N/2 - k] = ( Re(A + B) / 4 - P / 2^17, -Im(A + B) / 4 + Q / 2^17).
// Sums and differences are halved first, so everything stays in 32 bits.
// Each half of the spectrum is written by a loop of its own, in order.
struct SplitTerms {
    int32_t sum_re; // Re(A + B) / 4
    int32_t sum_im; // Im(A + B) / 4
    int32_t p;      // P / 2^17
    int32_t q;      // Q / 2^17
};

inline SplitTerms split_terms(int32_t ar, int32_t ai, int32_t br, int32_t bi, int32_t c, int32_t s)
{
    // Halves of Re(A + B), Im(A + B), Re(A - B), Im(A - B) for B = conj(b).
    const int32_t sr = half_sum(ar, br);
    const int32_t si = half_difference(ai, bi);
    const int32_t dr = half_difference(ar, br);
    const int32_t di = half_sum(ai, bi);
    return {round_shift(sr, 1), round_shift(si, 1),
            eng_wrap_sub(twiddle_product(di, c), twiddle_product(dr, s)),
            eng_wrap_sub(0, eng_wrap_add(twiddle_product(dr, c), twiddle_product(di, s)))};
}

// X[k] for 1 <= k < N/4.
RFFT_HOT void split_lower(const int32_t *__restrict re, const int32_t *__restrict im,
                          const int32_t *__restrict c, const int32_t *__restrict s, int32_t points,
                          int32_t *__restrict out)
{
    for (int32_t k = 1; k < points / 2; ++k) {
        const SplitTerms t = split_terms(re[k], im[k], re[points - k], im[points - k], c[k], s[k]);
        out[2 * k] = eng_wrap_add(t.sum_re, t.p);
        out[2 * k + 1] = eng_wrap_add(t.sum_im, t.q);
    }
}

// X[k] for N/4 < k < N/2, from the terms of its partner N/2 - k.
RFFT_HOT void split_upper(const int32_t *__restrict re, const int32_t *__restrict im,
                          const int32_t *__restrict c, const int32_t *__restrict s, int32_t points,
                          int32_t *__restrict out)
{
    for (int32_t k = points / 2 + 1; k < points; ++k) {
        const int32_t partner = points - k;
        const SplitTerms t =
            split_terms(re[partner], im[partner], re[k], im[k], c[partner], s[partner]);
        out[2 * k] = eng_wrap_sub(t.sum_re, t.p);
        out[2 * k + 1] = eng_wrap_sub(t.q, t.sum_im);
    }
}

void split_step(const RealFft *plan, const int32_t *re, const int32_t *im, int32_t *out)
{
    const int32_t points = plan->size / 2;
    out[0] = round_down(static_cast<int64_t>(re[0]) + im[0], 1); // X[0]
    out[1] = round_down(static_cast<int64_t>(re[0]) - im[0], 1); // X[N/2]
    const int32_t *tw = plan->stages + plan->split_offset;
    split_lower(re, im, tw, tw + points / 2, points, out);
    split_upper(re, im, tw, tw + points / 2, points, out);
    // k = N/4: W is -i exactly, so X = conj Z / 2.
    const int32_t h = points / 2;
    out[2 * h] = round_down(re[h], 1);
    out[2 * h + 1] = round_down(-static_cast<int64_t>(im[h]), 1);
}

} // namespace

ResultCode rfft_create(int32_t size, RealFft **plan)
{
    if (!plan || size < 8 || size > 1048576 || (size & (size - 1)) != 0)
        return RFFT_E_INVALID_ARG;
    const FrameSizeTables *tables = rfft_size_tables(size);
    if (!tables)
        return RFFT_E_INVALID_ARG;
    auto *created = static_cast<RealFft *>(eng_malloc(sizeof(RealFft)));
    if (!created)
        return RFFT_E_NO_MEMORY;
    created->size = size;
    created->twiddles = tables->twiddles;
    created->order = tables->input_order;
    created->stages = tables->stage_twiddles;
    created->split_offset = tables->split_offset;
    *plan = created;
    return ENG_OK;
}

ResultCode rfft_destroy(RealFft *plan)
{
    eng_free(plan);
    return ENG_OK;
}

ResultCode rfft_forward(const RealFft *plan, int32_t *input, int32_t *output)
{
    if (!plan || !input || !output)
        return RFFT_E_INVALID_ARG;
    const int32_t points = plan->size / 2;
    int32_t extent = 1; // the largest power of four within the points
    while (extent * 4 <= points)
        extent *= 4;

    // Stages run in output (real parts, then imaginary parts); the last
    // complex stage writes into input, from which the split step fills
    // output.
    int32_t *re = output;
    int32_t *im = output + points;
    first_stage(plan->order, input, points, re, im);
    const int32_t *tw = plan->stages;
    const bool radix2 = extent != points;
    for (int32_t q = 4; q * 4 <= extent; q *= 4) {
        const bool last = !radix2 && q * 4 == extent;
        radix4_stage(re, im, last ? input : re, last ? input + points : im, points, q, tw);
        tw += 6 * q;
    }
    if (radix2)
        radix2_stage(re, im, input, input + points, points / 2, tw);
    split_step(plan, input, input + points, output);
    return ENG_OK;
}
