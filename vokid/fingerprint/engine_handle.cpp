#include "vokid/fingerprint/engine_handle.h"

#include <algorithm>

namespace vokid {

// The engine reads 16-bit samples as little-endian bytes; the frames are
// handed over as they lie in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit samples must be little-endian");

FingerprintHandle::FingerprintHandle(uint32_t algorithmId, uint32_t sampleRate,
                                     uint32_t frameChannels)
    : channels(frameChannels)
{
    startEngine();
    checkEngine("create a fingerprint",
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
        checkEngine("add audio", eng_add_audio(handle, reinterpret_cast<const uint8_t *>(samples),
                                               static_cast<uint32_t>(now * frameBytes), &done));
        ready = done != 0;
        samples += now * channels;
        frames -= now;
    }
    return ready;
}

EngineFrames FingerprintHandle::frames()
{
    EngineFrames out{};
    checkEngine("give the frames", eng_stream_frames(handle, &out));
    return out;
}

void FingerprintHandle::discard(size_t count)
{
    checkEngine("drop frames", eng_stream_discard(handle, count));
}

std::vector<uint32_t> FingerprintHandle::values()
{
    int16_t values[ENG_SPECTRAL_VALUES];
    checkEngine("give the values", eng_spectral_values(handle, values));
    std::vector<uint32_t> out;
    for (int16_t value : values)
        out.push_back(static_cast<uint16_t>(value));
    return out;
}

std::string FingerprintHandle::serialize()
{
    EngineText text;
    checkEngine("write the fingerprint", eng_serialize_xml(handle, text.out()));
    return text.str();
}

} // namespace vokid
