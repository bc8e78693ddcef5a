// Counting set bits. Comparison spends nearly all its time here, so its
// loops are compiled twice: once for the processor's population count
// instruction (x86 has had it since 2008, but the baseline of x86-64 does
// not promise it) and once without, chosen when the program runs.
#ifndef VOKID_COMPARE_POPCOUNT_H
#define VOKID_COMPARE_POPCOUNT_H

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define VOKID_POPCNT_TARGET     __attribute__((target("popcnt")))
#define VOKID_HAS_POPCNT_TARGET 1
#else
// Elsewhere the compiler uses the instruction the target has (ARM: cnt).
#define VOKID_POPCNT_TARGET
#define VOKID_HAS_POPCNT_TARGET 0
#endif

namespace vokid {

// Inlined into its callers, where the callers' target decides the
// instruction.
__attribute__((always_inline)) inline unsigned popcount64(uint64_t word)
{
    return static_cast<unsigned>(__builtin_popcountll(word));
}

__attribute__((always_inline)) inline unsigned popcount32(uint32_t word)
{
    return static_cast<unsigned>(__builtin_popcount(word));
}

// Whether the processor running the program has the instruction.
inline bool hasPopcountInstruction()
{
#if VOKID_HAS_POPCNT_TARGET
    return __builtin_cpu_supports("popcnt");
#else
    return true;
#endif
}

} // namespace vokid

#endif
