#include "driver/read_size.h"

#include <vok/eng_types.h>

namespace Zuvanti {

uint32_t AlgorithmIdFor(AlgorithmFlags flags, int32_t *blocks)
{
    if (flags & FileFixed) {
        *blocks = 1;
        return 1;
    }
    if (flags & FileFloat) {
        *blocks = 1;
        return 2;
    }
    if (flags & Stream1)
        return 3;
    if (flags & Stream4)
        return 4;
    return 1; // no algorithm bit: the caller's block count is kept
}

uint32_t ReadSizeFor(uint32_t algorithm_id, int32_t blocks, const AudioFormat &format)
{
    constexpr uint64_t kLimit = 0xFFFFFFFFu;
    uint64_t size = 0;
    if (algorithm_id == 1 || algorithm_id == 2) {
        size = 15u * static_cast<uint64_t>(format.sample_rate) * format.channels;
    } else if (blocks > 0) {
        // Three and a half seconds per block, truncated toward zero. The
        // product is exact in double for every value below 2^53; anything
        // at or past 2^32 is out of range anyway.
        const double exact = static_cast<double>(format.sample_rate) * 3.5 *
                             static_cast<double>(format.channels) * static_cast<double>(blocks);
        size = exact < 4294967296.0 ? static_cast<uint64_t>(exact) : kLimit + 1;
    }
    if (format.sample_type == SAMPLE_PCM_S16)
        size *= 2;
    if (size > kLimit)
        size = 0; // too large to ask for: read the whole data stretch

    const uint64_t frame =
        static_cast<uint64_t>(format.channels) * eng_sample_type_bits(format.sample_type) / 8u;
    // A partial frame would be split between two reads. (Every size above
    // is at least three frames, so whole frames never round it down to 0.)
    if (frame != 0)
        size -= size % frame;
    if (blocks >= 1) {
        uint64_t cap = MaxReadBytes;
        if (frame != 0 && frame <= cap)
            cap -= cap % frame;
        if (size == 0 || size > cap)
            size = cap;
    }
    return static_cast<uint32_t>(size);
}

bool GrowsAfterDone(uint32_t algorithm_id)
{
    return algorithm_id != 1 && algorithm_id != 2;
}

} // namespace Zuvanti
