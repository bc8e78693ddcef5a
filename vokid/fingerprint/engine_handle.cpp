#include "vokid/fingerprint/engine_handle.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <mutex>

namespace vokid {

// The engine reads 16-bit samples as little-endian bytes; the frames are
// handed over as they lie in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit samples must be little-endian");

namespace {

std::string describe(const char *operation, ResultCode code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", code);
    return std::string("fingerprint engine failed to ") + operation + ": " + eng_result_text(code) +
           " (code " + hex + ")";
}

void check(const char *operation, ResultCode code)
{
    if (code != ENG_OK)
        throw EngineError(operation, code);
}

// Text handed out by the engine, released by it.
struct EngineText {
    char *text = nullptr;
    ~EngineText() { eng_free_text(&text); }
};

} // namespace

EngineError::EngineError(const char *operation, ResultCode code)
    : std::runtime_error(describe(operation, code))
{
}

void startEngine()
{
    static std::once_flag started;
    std::call_once(started, [] {
        const EngineConfig config = {nullptr, 0, 0};
        check("start", eng_initialize(&config));
    });
}

FingerprintHandle::FingerprintHandle(uint32_t algorithmId, uint32_t sampleRate,
                                     uint32_t frameChannels)
    : channels(frameChannels)
{
    startEngine();
    check("create a fingerprint",
          eng_create(algorithmId, SAMPLE_PCM_S16, sampleRate, channels, &handle));
}

FingerprintHandle::~FingerprintHandle()
{
    eng_destroy(&handle);
}

bool FingerprintHandle::add(const int16_t *samples, size_t frames)
{
    // The engine counts bytes in 32 bits: hand over at most 2^30 bytes
    // at a time, in whole frames.
    const size_t frameBytes = 2u * channels;
    const size_t maxFrames = (size_t{1} << 30) / frameBytes;
    while (frames > 0) {
        uint8_t done = 0;
        const size_t now = std::min(frames, maxFrames);
        check("add audio", eng_add_audio(handle, reinterpret_cast<const uint8_t *>(samples),
                                         static_cast<uint32_t>(now * frameBytes), &done));
        ready = done != 0;
        samples += now * channels;
        frames -= now;
    }
    return ready;
}

std::string FingerprintHandle::serialize()
{
    EngineText text;
    check("write the fingerprint", eng_serialize_xml(handle, &text.text));
    return text.text;
}

} // namespace vokid
