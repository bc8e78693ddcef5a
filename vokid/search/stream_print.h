// The Stream1 sub-fingerprints of audio handed over piece by piece,
// covering it to its end. The engine writes whole blocks of 256
// sub-fingerprints (about 3 s), so up to 3 s at the end would go unused:
// a 6-s clip would give 256 sub-fingerprints where it holds 482. Those are
// made by a second engine handle started on the same frame grid over the
// kept last 3.4 s, and appended.
#ifndef VOKID_SEARCH_STREAM_PRINT_H
#define VOKID_SEARCH_STREAM_PRINT_H

#include <cstddef>
#include <cstdint>
#include <vector>

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
    double seconds() const { return static_cast<double>(frames) / rate; }

private:
    uint32_t rate;
    uint32_t channels;
    FingerprintHandle handle;
    uint64_t frames = 0;
    std::vector<int16_t> tail; // the last frames, from frame tailStart on
    uint64_t tailStart = 0;
    uint64_t tailKeep; // frames the second handle may need
};

// The same for a clip held whole in memory, with less work: the first
// handle takes only the audio its whole blocks need.
SubFingerprints clipPrint(const int16_t *frames, size_t count, uint32_t rate, uint32_t channels);

} // namespace vokid

#endif
