// The fingerprint engine through its public C interface, owned the C++
// way: the engine started once per process, a handle that destroys itself,
// and engine failures as exceptions.
#ifndef VOKID_FINGERPRINT_ENGINE_HANDLE_H
#define VOKID_FINGERPRINT_ENGINE_HANDLE_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <vok/vok_engine.h>

namespace vokid {

class EngineError : public std::runtime_error {
public:
    EngineError(const char *operation, ResultCode code);
};

// Starts the engine; safe to call from any thread, any number of times.
void startEngine();

// One fingerprint being made from interleaved 16-bit frames.
class FingerprintHandle {
public:
    FingerprintHandle(uint32_t algorithmId, uint32_t sampleRate, uint32_t channels);
    ~FingerprintHandle();
    FingerprintHandle(const FingerprintHandle &) = delete;
    FingerprintHandle &operator=(const FingerprintHandle &) = delete;

    // Adds frames; true once the fingerprint can be serialised.
    bool add(const int16_t *samples, size_t frames);
    // The fingerprint document as the engine writes it.
    std::string serialize();

private:
    ::EngineHandle *handle = nullptr;
    uint32_t channels;
    bool ready = false;
};

} // namespace vokid

#endif
