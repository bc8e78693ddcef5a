#include "vokid/search/stream_print.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "vokid/document/block_decoder.h"
#include "vokid/document/document_reader.h"
#include "vokid/fingerprint/algorithm.h"
#include "vokid/input/input_error.h"

namespace vokid {

namespace {

// The engine's grid at 5512.5 Hz: a frame of 2048 samples, a
// sub-fingerprint every 64; the first frame only primes the analysis.
constexpr double kAnalysisRate = 5512.5;
constexpr uint64_t kFrame = 2048;
constexpr uint64_t kHop = 64;
// A tail shorter than this many sub-fingerprints (0.1 s) is left out.
constexpr uint64_t kMinTail = 8;
// Sub-fingerprints the second handle starts early, so that its block ends
// before the audio does whatever the engine's resampling delay.
constexpr uint64_t kTailSlack = 2;

SubFingerprints printOf(FingerprintHandle &handle)
{
    return SubFingerprints(readDocuments(handle.serialize()).front());
}

// Sub-fingerprints that `frames` frames at `rate` hold: one per hop after
// the first full frame, the priming one not counted.
uint64_t wordsIn(uint64_t frames, uint32_t rate)
{
    const double analysed = static_cast<double>(frames) * kAnalysisRate / rate;
    return static_cast<uint64_t>(std::max(0.0, (analysed - kFrame) / kHop));
}

// The frame at which an engine handle starts so that its first
// sub-fingerprint is sub-fingerprint `word` of one started at frame 0.
uint64_t startOf(uint64_t word, uint32_t rate)
{
    return static_cast<uint64_t>(
        std::llround(static_cast<double>(word * kHop) * rate / kAnalysisRate));
}

InputError tooShort(uint64_t frames, uint32_t rate)
{
    if (frames == 0)
        return InputError("no audio in it");
    char text[96];
    std::snprintf(text, sizeof text, "%.1f s of audio, identification needs at least %.1f s",
                  static_cast<double>(frames) / rate, minimumSeconds(Algorithm::Stream1));
    return InputError(text);
}

// Appends the sub-fingerprints after the whole blocks of `print` up to
// `total`, from a second handle over the audio's end. `audio` holds frames
// [audioStart, audioEnd) of the whole.
void appendTail(SubFingerprints &print, uint64_t total, const int16_t *audio, uint64_t audioStart,
                uint64_t audioEnd, uint32_t rate, uint32_t channels)
{
    if (total < print.size() + kMinTail)
        return;
    const uint64_t first = total - kBlockWords - kTailSlack;
    const uint64_t start = startOf(first, rate);
    if (first > print.size() || start < audioStart || start >= audioEnd)
        return;
    FingerprintHandle second(engineId(Algorithm::Stream1), rate, channels);
    second.add(audio + (start - audioStart) * channels, static_cast<size_t>(audioEnd - start));
    const SubFingerprints end = printOf(second);
    for (size_t p = print.size(); p < first + end.size(); ++p) {
        const size_t j = p - first;
        print.words.push_back(end.words[j]);
        print.weak.push_back(end.weak[j]);
        print.quiet.push_back(end.quiet[j]);
    }
}

} // namespace

StreamPrint::StreamPrint(uint32_t sampleRate, uint32_t frameChannels)
    : rate(sampleRate), channels(frameChannels),
      handle(engineId(Algorithm::Stream1), sampleRate, frameChannels),
      tailKeep(static_cast<uint64_t>(
          std::ceil((kFrame + kHop * (kBlockWords + 2 * kTailSlack)) * sampleRate / kAnalysisRate)))
{
}

void StreamPrint::add(const int16_t *samples, size_t count)
{
    handle.add(samples, count);
    frames += count;
    tail.insert(tail.end(), samples, samples + count * channels);
    // Trimmed when it holds twice what is kept: each frame is moved once.
    const uint64_t held = tail.size() / channels;
    if (held > 2 * tailKeep) {
        const uint64_t drop = held - tailKeep;
        tail.erase(tail.begin(), tail.begin() + static_cast<long>(drop * channels));
        tailStart += drop;
    }
}

SubFingerprints StreamPrint::finish()
{
    SubFingerprints print = printOf(handle);
    if (print.size() == 0)
        throw tooShort(frames, rate);
    appendTail(print, wordsIn(frames, rate), tail.data(), tailStart, frames, rate, channels);
    return print;
}

SubFingerprints clipPrint(const int16_t *frames, size_t count, uint32_t rate, uint32_t channels)
{
    const uint64_t total = wordsIn(count, rate);
    const uint64_t blocks = total / kBlockWords;
    if (blocks == 0)
        throw tooShort(count, rate);
    // The first handle takes only the audio of its whole blocks (and a
    // little for the resampling delay): the second does the rest.
    const uint64_t needed = std::min<uint64_t>(
        count, startOf(blocks * kBlockWords + kTailSlack, rate) +
                   static_cast<uint64_t>(std::ceil(kFrame * rate / kAnalysisRate)));
    FingerprintHandle handle(engineId(Algorithm::Stream1), rate, channels);
    handle.add(frames, static_cast<size_t>(needed));
    SubFingerprints print = printOf(handle);
    if (print.size() == 0)
        throw tooShort(count, rate);
    appendTail(print, total, frames, 0, count, rate, channels);
    return print;
}

} // namespace vokid
