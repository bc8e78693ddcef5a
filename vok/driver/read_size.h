// How the driver turns a flag word and a block count into an engine
// algorithm id and a read size.
#ifndef VOK_DRIVER_READ_SIZE_H
#define VOK_DRIVER_READ_SIZE_H

#include <cstdint>

#include "driver/algorithm_flags.h"
#include "driver/audio_format.h"

namespace Zuvanti {

// Upper bound of one read when the fingerprint does not depend on the read
// size (a block count of 1 or more): memory stays bounded whatever -n says.
constexpr uint32_t MaxReadBytes = 4u * 1024u * 1024u;

// The engine algorithm id of the first algorithm bit set, in the order
// FileFixed, FileFloat, Stream1, Stream4; 1 when none is set. The spectral
// ids always use one block, so *blocks becomes 1 for them.
uint32_t AlgorithmIdFor(AlgorithmFlags flags, int32_t *blocks);

// Bytes to ask the input for per read. Spectral ids (1, 2): fifteen seconds
// of audio; streaming ids: blocks times three and a half seconds. Both
// counted in bytes of 8-bit samples and doubled for 16-bit ones. A block
// count of 0 or below, or a size that does not fit in 32 bits, gives 0:
// the whole rest of the current data stretch in one read. A read always
// holds whole frames. With blocks of 1 or more the size is capped at
// MaxReadBytes (whole frames).
uint32_t ReadSizeFor(uint32_t algorithm_id, int32_t blocks, const AudioFormat &format);

// Whether audio added after the engine reports the fingerprint complete can
// still change it. A spectral fingerprint (ids 1, 2) is fixed once its
// fourteen seconds are in; a streaming one grows by a block every three
// seconds.
bool GrowsAfterDone(uint32_t algorithm_id);

} // namespace Zuvanti

#endif
