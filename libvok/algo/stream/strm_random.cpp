// The streaming fingerprint's pseudo-random generator: a 32-word XOR
// feedback register that stands in for the sub-fingerprints of frames too
// quiet to carry information. A handle starts it once at creation and steps
// it only for such frames; a decoder runs its own copy from the same seed
// to find them again.
#include "algo/stream/strm_internal.h"

#include "engine/eng_support.h"

namespace {

const uint32_t kSeed[STRM_RANDOM_WORDS] = {
    0x48cf0057u, 0x781f152fu, 0x10957ee4u, 0xfd0384bdu, 0x9531d5ecu, 0x6c6a402du, 0x83f89404u,
    0x557dd81cu, 0x6ed2f778u, 0x39d7d9beu, 0x946e3926u, 0xc2a74802u, 0x87a27cdeu, 0xa3f98b6du,
    0x3585928eu, 0x613bc6d7u, 0xc88839f5u, 0xae4be83bu, 0x760a5489u, 0x915d38f5u, 0xcb5163a5u,
    0x0f269727u, 0x9a55a0deu, 0x0cde6a94u, 0x6a5601c1u, 0x4e1464afu, 0xdfd686e6u, 0x03d7a999u,
    0xc4986592u, 0xf8894b3fu, 0xfd760d83u, 0xc9f2d701u};

} // namespace

void strm_random_start(StreamRandom *random)
{
    eng_memcpy(random->words, kSeed, sizeof random->words);
    random->index = 0;
}

uint32_t strm_random_next(StreamRandom *random)
{
    // Indices modulo 32, taken on the unsigned value.
    const uint32_t mask = STRM_RANDOM_WORDS - 1;
    const uint32_t i = static_cast<uint32_t>(random->index) & mask;
    const uint32_t *w = random->words;
    const uint32_t r = w[(i + 4) & mask] ^ w[(i + 6) & mask] ^ w[(i + 2) & mask] ^
                       w[(i + mask) & mask] ^ w[(i + 1) & mask] ^ w[i];
    random->index = static_cast<int32_t>((i + mask) & mask);
    random->words[random->index] = r;
    return r;
}

void strm_quiet_start(StreamQuietMarker *marker)
{
    strm_random_start(&marker->generator);
    marker->expected = strm_random_next(&marker->generator);
    marker->second = strm_random_next(&marker->generator);
    marker->started = 0;
}

uint8_t strm_quiet_mark(StreamQuietMarker *marker, uint32_t word)
{
    if (marker->started) {
        if (word != marker->expected)
            return 0;
        marker->expected = strm_random_next(&marker->generator);
        return 1;
    }
    // The frame that only primes the analysis is dropped, quiet or not,
    // after drawing its word: when it was quiet, the first kept quiet frame
    // holds the generator's second word. Until a first match either word
    // may come.
    if (word == marker->expected)
        marker->expected = marker->second;
    else if (word == marker->second)
        marker->expected = strm_random_next(&marker->generator);
    else
        return 0;
    marker->started = 1;
    return 1;
}

void strm_mark_quiet(const uint32_t *words, size_t count, uint8_t *quiet)
{
    StreamQuietMarker marker;
    strm_quiet_start(&marker);
    for (size_t i = 0; i < count; ++i)
        quiet[i] = strm_quiet_mark(&marker, words[i]);
}
