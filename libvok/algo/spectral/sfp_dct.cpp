// The fingerprint's DCT-II: reordering, butterfly stages with the factor
// table, final bit reversal and the post-additions that assemble the odd
// coefficients; in single precision and in 32-bit fixed point.
#include "algo/spectral/sfp_dct.h"

#include "algo/spectral/sfp_fixed_math.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// 1/sqrt(2) in Q31, rounded: scales X[0] without changing its scale.
const int64_t kInvSqrt2Q31 = 1518500250;

// Right shifts of the integer transform, stage by stage (15 stages). The
// input is the equalised frame in Q30 (at most 2^30 in magnitude). The first
// stage's products reach about N / pi times a sample difference, so that
// stage divides by 2^13, after which every intermediate value stays below
// 2^31 for any input; two more halvings bring the total to 2^15. Sums and
// products of a stage are shifted alike, so every coefficient leaves the
// transform on one scale: X x 2^15 in FileFloat units, and a constant frame
// gives X[0] equal to the constant over sqrt(2).
const uint32_t kStageShift[SFP_FIXED_DCT_LOG2] = {13, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Shifts right by count (0 to 62) rounding half up; the value's low 32 bits.
inline int32_t scale_down(int64_t value, uint32_t count)
{
    if (count == 0)
        return eng_low32(value);
    const int64_t half = int64_t{1} << (count - 1);
    // value + half stays far inside 64 bits: callers pass at most 2^63 / 2.
    return eng_low32((value + half) >> count);
}

// Exchanges element i with element reverse(i) of an array of n = 2^k
// entries, walking the reversed index along with i.
template <class T>
void bit_reverse(T *v, uint32_t n)
{
    if (n < 3)
        return;
    uint32_t j = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (i < j) {
            const T keep = v[i];
            v[i] = v[j];
            v[j] = keep;
        }
        uint32_t bit = n >> 1;
        while (j & bit) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
    }
}

template <class T>
void reorder(T *v, uint32_t n)
{
    bit_reverse(v, n);
    bit_reverse(v, n / 2);
    bit_reverse(v + n / 2, n / 2);
    for (uint32_t lo = n / 2, hi = n - 1; lo < hi; ++lo, --hi) {
        const T keep = v[lo];
        v[lo] = v[hi];
        v[hi] = keep;
    }
}

// X[2k+1] = H[k] + H[k+1], level by level. For one j the additions run in
// increasing m; different j are independent, so m is the outer loop.
template <class T, class Add>
void post_additions(T *v, uint32_t log2_size, Add add)
{
    const uint32_t n = 1u << log2_size;
    for (uint32_t u = 0; u + 2 <= log2_size; ++u) {
        const uint32_t h = n >> (u + 1);
        const uint32_t e = h / 2;
        const uint32_t groups = 1u << (u + 1);
        for (uint32_t m = 0; m + 2 <= groups; ++m) {
            T *to = v + e + m * h;
            const T *from = to + h;
            for (uint32_t j = 0; j < e; ++j)
                to[j] = add(to[j], from[j]);
        }
    }
}

// cos(pi (4i + 1) / 4e) for level e of an n-point table: the angle is
// pi / 2n (in double) times (4i + 1) n / 2e.
double level_cosine(uint32_t n, uint32_t e, uint32_t i)
{
    const double base = ENG_PI / (2.0 * n);
    return eng_cos(base * ((4.0 * i + 1.0) * (n / (2 * e))));
}

struct FixedPlan {
    int32_t table[1u << SFP_FIXED_DCT_LOG2];
    CosineTransform plan;

    FixedPlan()
    {
        const uint32_t n = 1u << SFP_FIXED_DCT_LOG2;
        table[0] = 0;
        for (uint32_t e = 1, level = 0; e < n; e *= 2, ++level) {
            const double q = static_cast<double>(uint64_t{1} << (31 - level));
            for (uint32_t i = 0; i < e; ++i) {
                // Rounded to single precision, then truncated toward zero.
                const float value = static_cast<float>(q / (2.0 * level_cosine(n, e, i)));
                table[e + i] = static_cast<int32_t>(value);
            }
        }
        plan.log2_size = SFP_FIXED_DCT_LOG2;
        plan.size = n;
        plan.table_float = nullptr;
        plan.table_fixed = table;
    }
};

} // namespace

CosineTransform *sfp_dct_create_float(uint32_t log2_size)
{
    if (log2_size < 1 || log2_size > 24)
        return nullptr;
    const uint32_t n = 1u << log2_size;
    auto *plan = static_cast<CosineTransform *>(eng_malloc(sizeof(CosineTransform)));
    auto *table = static_cast<float *>(eng_malloc(sizeof(float) * n));
    if (!plan || !table) {
        eng_free(plan);
        eng_free(table);
        return nullptr;
    }
    table[0] = 0.0f;
    for (uint32_t e = 1; e < n; e *= 2) {
        for (uint32_t i = 0; i < e; ++i) {
            const float c = static_cast<float>(level_cosine(n, e, i));
            table[e + i] = 1.0f / (2.0f * c);
        }
    }
    plan->log2_size = log2_size;
    plan->size = n;
    plan->table_float = table;
    plan->table_fixed = nullptr;
    return plan;
}

void sfp_dct_destroy(CosineTransform **plan)
{
    if (!plan || !*plan)
        return;
    eng_free(const_cast<float *>((*plan)->table_float));
    eng_free(*plan);
    *plan = nullptr;
}

const CosineTransform *sfp_dct_fixed_plan(uint32_t log2_size)
{
    if (log2_size != SFP_FIXED_DCT_LOG2)
        return nullptr;
    // Built by the first caller; C++ makes the construction thread-safe.
    static const FixedPlan fixed;
    return &fixed.plan;
}

uint32_t sfp_dct_fixed_stage_shift(uint32_t stage)
{
    return stage < SFP_FIXED_DCT_LOG2 ? kStageShift[stage] : 0u;
}

void sfp_dct_float(const CosineTransform *plan, float *v)
{
    const uint32_t n = plan->size;
    const float *table = plan->table_float;
    reorder(v, n);
    for (uint32_t s = 0; s < plan->log2_size; ++s) {
        const uint32_t w = n >> (s + 1);
        for (uint32_t base = 0; base < n; base += 2 * w) {
            float *lo = v + base;
            float *hi = lo + w;
            for (uint32_t j = 0; j < w; ++j) {
                const float a = lo[j];
                const float b = hi[j];
                lo[j] = a + b;
                hi[j] = (a - b) * table[w + j];
            }
        }
    }
    bit_reverse(v, n);
    post_additions(v, plan->log2_size, [](float a, float b) { return a + b; });
    v[0] *= static_cast<float>(1.0 / eng_sqrt(2.0));
}

void sfp_dct_fixed(const CosineTransform *plan, int32_t *v)
{
    const uint32_t n = plan->size;
    const int32_t *table = plan->table_fixed;
    reorder(v, n);
    for (uint32_t s = 0; s < plan->log2_size; ++s) {
        const uint32_t w = n >> (s + 1);
        const uint32_t shift = kStageShift[s];
        // The table level w is in Q(31 - log2 w) = Q(32 - d), d = n - s.
        const uint32_t product_shift = 32 - (plan->log2_size - s) + shift;
        for (uint32_t base = 0; base < n; base += 2 * w) {
            int32_t *lo = v + base;
            int32_t *hi = lo + w;
            for (uint32_t j = 0; j < w; ++j) {
                const int64_t a = lo[j];
                const int64_t b = hi[j];
                lo[j] = scale_down(a + b, shift);
                hi[j] = scale_down((a - b) * table[w + j], product_shift);
            }
        }
    }
    bit_reverse(v, n);
    post_additions(v, plan->log2_size, eng_wrap_add);
    v[0] = scale_down(int64_t{v[0]} * kInvSqrt2Q31, 31);
}
