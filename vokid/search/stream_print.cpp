#include "vokid/search/stream_print.h"

#include <cstdio>

#include "vokid/fingerprint/algorithm.h"
#include "vokid/input/input_error.h"

namespace vokid {

namespace {

InputError tooShort(uint64_t frames, uint32_t rate)
{
    if (frames == 0)
        return InputError("no audio in it");
    char text[96];
    std::snprintf(text, sizeof text, "%.1f s of audio, identification needs at least %.1f s",
                  static_cast<double>(frames) / rate, minimumSeconds(Algorithm::Stream1));
    return InputError(text);
}

} // namespace

StreamPrint::StreamPrint(uint32_t sampleRate, uint32_t channels)
    : rate(sampleRate), handle(engineId(Algorithm::Stream1), sampleRate, channels)
{
}

void StreamPrint::add(const int16_t *samples, size_t count)
{
    handle.add(samples, count);
    frames += count;
}

SubFingerprints StreamPrint::finish()
{
    const EngineFrames all = handle.frames();
    if (all.complete == 0)
        throw tooShort(frames, rate);
    return SubFingerprints::of(all);
}

SubFingerprints StreamPrint::take(bool last)
{
    const EngineFrames held = handle.frames();
    const size_t count = last || held.count == 0 ? held.count : held.count - 1;
    SubFingerprints taken = SubFingerprints::of(held, count);
    if (count > 0)
        handle.discard(count);
    return taken;
}

SubFingerprints clipPrint(const int16_t *frames, size_t count, uint32_t rate, uint32_t channels)
{
    StreamPrint print(rate, channels);
    print.add(frames, count);
    return print.finish();
}

} // namespace vokid
