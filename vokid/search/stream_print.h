// The Stream1 sub-fingerprints of audio handed over piece by piece,
// covering it to its end: every frame the engine has analysed, the block
// in progress included (a 6-s clip gives 482, where its whole blocks hold
// 256).
#ifndef VOKID_SEARCH_STREAM_PRINT_H
#define VOKID_SEARCH_STREAM_PRINT_H

#include <cstddef>
#include <cstdint>

#include "vokid/compare/sub_fingerprints.h"
#include "vokid/fingerprint/engine_handle.h"

namespace vokid {

class StreamPrint {
public:
    // A rate the engine takes (8000, 11025, ... 48000 Hz), one or two channels.
    StreamPrint(uint32_t rate, uint32_t channels);
    void add(const int16_t *frames, size_t count);
    // Throws InputError when the audio is too short for one block (3.4 s).
    SubFingerprints finish();
    // The frames analysed since the last take, handed over and dropped
    // from the engine: all of them at the end of the audio (`last`), else
    // all but the newest, whose weak bits may still change (the block's
    // next kept mask is not analysed yet). For audio that runs for days.
    SubFingerprints take(bool last = false);
    double seconds() const { return static_cast<double>(frames) / rate; }

private:
    uint32_t rate;
    FingerprintHandle handle;
    uint64_t frames = 0;
};

// The same for a clip held whole in memory.
SubFingerprints clipPrint(const int16_t *frames, size_t count, uint32_t rate, uint32_t channels);

} // namespace vokid

#endif
