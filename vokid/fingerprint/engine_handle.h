// One fingerprint being made by the engine from interleaved 16-bit frames,
// owned the C++ way: a handle that destroys itself, engine failures as
// exceptions, and the fingerprint as numbers (or, when asked, its
// document).
#ifndef VOKID_FINGERPRINT_ENGINE_HANDLE_H
#define VOKID_FINGERPRINT_ENGINE_HANDLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"
#include "vokid/support/engine.h"

namespace vokid {

class FingerprintHandle {
public:
    FingerprintHandle(uint32_t algorithmId, uint32_t sampleRate, uint32_t channels);
    ~FingerprintHandle();
    FingerprintHandle(const FingerprintHandle &) = delete;
    FingerprintHandle &operator=(const FingerprintHandle &) = delete;

    // Adds frames; true once the fingerprint is complete enough to be
    // given (a streaming one: a whole block).
    bool add(const int16_t *samples, size_t frames);

    // A streaming fingerprint's frames: valid until the next call on the
    // handle.
    EngineFrames frames();
    // Drops the oldest `count` frames of a streaming fingerprint once they
    // have been taken, so that a handle runs for days in flat memory.
    void discard(size_t count);
    // A spectral fingerprint's values (0 to 65535).
    std::vector<uint32_t> values();
    // The fingerprint document as the engine writes it.
    std::string serialize();

private:
    ::EngineHandle *handle = nullptr;
    uint32_t channels;
    bool ready = false;
};

} // namespace vokid

#endif
