#include "vokid/cli/compare_command.h"

#include <cmath>
#include <cstdio>
#include <new>

#include <nlohmann/json.hpp>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/json_text.h"
#include "vokid/cli/usage_error.h"
#include "vokid/fingerprint/recognised_input.h"
#include "vokid/input/input_error.h"
#include "vokid/input/mono_resampler.h"
#include "vokid/search/identifier.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"

namespace vokid {

namespace {

struct Side {
    std::string label; // "A" or "B"
    std::string name;
    RecognisedInput input;
    Document document;
};

const char *familyName(Family family)
{
    return family == Family::Streaming ? "a streaming" : "a spectral";
}

// The algorithm for audio inputs: the one asked for, else one of the
// family of a document on the other side, else Stream1.
Algorithm audioAlgorithm(const CompareOptions &options, const Side &a, const Side &b)
{
    const Algorithm chosen = options.algorithm.value_or(Algorithm::Stream1);
    if (!a.input.audio && !b.input.audio)
        return chosen; // nothing to fingerprint
    for (const Side *side : {&a, &b}) {
        if (side->input.audio)
            continue;
        const Family family = side->document.family;
        if (!options.algorithm && family == Family::Spectral)
            throw UsageError(side->label + " is a spectral fingerprint: give -a FileFixed or "
                                           "-a FileFloat for the audio to compare with it");
        if (familyOf(chosen) != family)
            throw UsageError(side->label + " is " + familyName(family) + " fingerprint, but -a " +
                             algorithmName(chosen) + " makes " +
                             (familyOf(chosen) == Family::Streaming ? "streaming" : "spectral") +
                             " ones");
    }
    return chosen;
}

// Audio read back at other speeds is first made mono at 11025 Hz, as
// identify does: the sub-fingerprints use 200 to 2100 Hz.
constexpr uint32_t kSpeedRate = 11025;

// The side read back at the speed hypotheses: B's audio, else A's; none
// for documents only, for standard input (it cannot be read again) and
// for another algorithm than Stream1 (the one clipPrint makes).
const Side *speedSide(const Side &a, const Side &b, Algorithm algorithm)
{
    if (algorithm != Algorithm::Stream1)
        return nullptr;
    for (const Side *side : {&b, &a})
        if (side->input.audio && !side->input.audio->standardInput)
            return side;
    return nullptr;
}

std::vector<int16_t> monoOf(const AudioInput &input)
{
    const DecodedAudio audio = decodeForPrint(input, 0);
    std::vector<int16_t> mono;
    MonoResampler toMono(audio.rate, audio.channels, kSpeedRate);
    toMono.add(audio.frames.data(), audio.frames.size() / audio.channels, mono);
    toMono.finish(mono);
    return mono;
}

// A side's audio read back `speed` times too fast; empty when that is too
// short for a block.
SubFingerprints readBack(const std::vector<int16_t> &mono, double speed)
{
    std::vector<int16_t> stretched;
    SpeedResampler(speed).add(mono.data(), mono.size(), stretched);
    try {
        return clipPrint(stretched.data(), stretched.size(), kSpeedRate, 1);
    } catch (const InputError &) {
        return SubFingerprints{};
    }
}

// B as played; when the acceptance rule does not take that, B laid on A's
// time grid at each tempo (cheap: no audio is read again), and one side
// read back at each speed. The accepted hypothesis with the lowest bit
// error rate wins; with none, the result as played stands. When A is the
// side read back, it goes at 1 / speed, so that the speed is B's, and the
// offset is then counted in A's words as read back (within 5%).
StreamComparison compareHypotheses(const Side &a, const Side &b, Algorithm algorithm,
                                   double threshold)
{
    const SubFingerprints &framesA = a.document.frames, &framesB = b.document.frames;
    const StreamComparison played = compareStreaming(framesA, framesB, threshold);
    if (played.sameRecording)
        return played;
    StreamComparison found = played;
    const auto consider = [&](StreamComparison result, double speed, double tempo) {
        result.speed = speed;
        result.tempo = tempo;
        if (result.sameRecording && improves(result, found))
            found = result;
    };
    for (double tempo : tempoHypotheses())
        consider(compareStreaming(framesA, atTempo(framesB, tempo), threshold), 1, tempo);
    const Side *side = speedSide(a, b, algorithm);
    if (!side)
        return found;
    const std::vector<int16_t> mono = monoOf(*side->input.audio);
    for (double speed : speedHypotheses()) {
        if (speed == 1)
            continue;
        if (side == &b)
            consider(compareStreaming(framesA, readBack(mono, speed), threshold), speed, 1);
        else
            consider(compareStreaming(readBack(mono, 1 / speed), framesB, threshold), speed, 1);
    }
    return found;
}

std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

nlohmann::ordered_json rate(double value)
{
    return value < 0 ? nlohmann::ordered_json()
                     : nlohmann::ordered_json(std::round(value * 1e6) / 1e6);
}

std::string streamingReport(const CompareOptions &options, const StreamComparison &result)
{
    const Alignment &alignment = result.alignment;
    const char *verdict = result.sameRecording ? "same recording" : "different";
    if (options.json) {
        return readableJson({
            {"a", options.a},
            {"b", options.b},
            {"family", "streaming"},
            {"offset", alignment.offset},
            {"offset_seconds", roundedSeconds(result.offsetSeconds())},
            {"overlap_seconds", roundedSeconds(result.overlapSeconds())},
            {"pairs", alignment.pairs},
            {"quiet_pairs", alignment.quietPairs},
            {"ber", rate(alignment.ber())},
            {"ber_non_weak", rate(alignment.strongBer())},
            {"threshold", result.threshold},
            {"verdict", verdict},
            {"speed", result.speed},
            {"tempo", result.tempo},
        });
    }
    const auto shown = [](double value) {
        return value < 0 ? std::string("none (no pair without a quiet frame)") : fixed(value, 4);
    };
    return "A: " + options.a + "\nB: " + options.b +
           "\noffset of B in A: " + std::to_string(alignment.offset) + " sub-fingerprints, " +
           fixed(result.offsetSeconds(), 3) + " s\noverlap: " + fixed(result.overlapSeconds(), 3) +
           " s, " + std::to_string(alignment.pairs) + " pairs, " +
           std::to_string(alignment.quietPairs) +
           " with a quiet frame\nbit error rate: " + shown(alignment.ber()) +
           "\nbit error rate without weak bits: " + shown(alignment.strongBer()) +
           "\nthreshold: " + fixed(result.threshold, 4) + "\nverdict: " + verdict +
           paceText(result.speed, result.tempo) + "\n";
}

std::string spectralReport(const CompareOptions &options, uint64_t distance)
{
    if (options.json)
        return readableJson({{"a", options.a},
                             {"b", options.b},
                             {"family", "spectral"},
                             {"l1_distance", distance}});
    return "A: " + options.a + "\nB: " + options.b + "\nL1 distance: " + std::to_string(distance) +
           "\n";
}

// Reads both sides, fingerprinting audio; the algorithm used for audio,
// or nothing when a side cannot be read (named on standard error).
std::optional<Algorithm> readSides(const CompareOptions &options, Side &a, Side &b,
                                   Console &console)
{
    Side *failing = &a;
    try {
        for (Side *side : {&a, &b}) {
            failing = side;
            side->input = recogniseInput(side->name);
            if (side->input.audio)
                continue;
            if (side->input.documents.size() != 1)
                throw InputError("holds " + std::to_string(side->input.documents.size()) +
                                 " fingerprint documents; compare takes one");
            side->document = std::move(side->input.documents.front());
        }
        const Algorithm algorithm = audioAlgorithm(options, a, b);
        for (Side *side : {&a, &b}) {
            failing = side;
            if (side->input.audio)
                side->document = fingerprint(*side->input.audio, {algorithm, 0, false}).asDocument();
        }
        return algorithm;
    } catch (const UsageError &) {
        throw;
    } catch (const std::bad_alloc &) {
        console.failure(failing->name, "out of memory");
    } catch (const std::exception &error) {
        console.failure(failing->name, error.what());
    }
    return std::nullopt;
}

// Throws UsageError for sequences of different block lengths.
int compareStreams(const CompareOptions &options, const Side &a, const Side &b,
                   Algorithm algorithm, Console &console)
{
    const SubFingerprints &framesA = a.document.frames;
    const SubFingerprints &framesB = b.document.frames;
    if (framesA.blockLength != framesB.blockLength)
        throw UsageError("A has " + std::to_string(framesA.blockLength) + "-second blocks and B " +
                         std::to_string(framesB.blockLength) +
                         "-second ones: their sub-fingerprints cannot be compared");
    const Side *reading = speedSide(a, b, algorithm);
    try {
        console.write(streamingReport(
            options, compareHypotheses(a, b, algorithm, options.threshold)));
    } catch (const std::bad_alloc &) {
        console.failure(reading ? reading->name : a.name, "out of memory");
        return kExitFailure;
    } catch (const std::exception &error) {
        // Only reading audio back again can fail here.
        console.failure(reading ? reading->name : a.name, error.what());
        return kExitFailure;
    }
    return kExitSuccess;
}

} // namespace

int runCompare(const CompareOptions &options, Console &console)
{
    if (options.a == "-" && options.b == "-")
        throw UsageError("standard input can be A or B, not both");
    Side a{"A", options.a, {}, {}};
    Side b{"B", options.b, {}, {}};
    const std::optional<Algorithm> algorithm = readSides(options, a, b, console);
    if (!algorithm)
        return kExitFailure;
    if (a.document.family != b.document.family)
        throw UsageError("A is " + std::string(familyName(a.document.family)) +
                         " fingerprint and B " + familyName(b.document.family) +
                         " one: they cannot be compared");
    if (a.document.family == Family::Spectral) {
        console.write(
            spectralReport(options, spectralDistance(a.document.values, b.document.values)));
        return kExitSuccess;
    }
    return compareStreams(options, a, b, *algorithm, console);
}

} // namespace vokid
