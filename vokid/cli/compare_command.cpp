#include "vokid/cli/compare_command.h"

#include <cmath>
#include <cstdio>
#include <new>

#include <nlohmann/json.hpp>

#include "vokid/cli/exit_codes.h"
#include "vokid/cli/json_text.h"
#include "vokid/cli/usage_error.h"
#include "vokid/fingerprint/recognised_input.h"
#include "vokid/input/input_error.h"

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
           "\nthreshold: " + fixed(result.threshold, 4) + "\nverdict: " + verdict + "\n";
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

} // namespace

int runCompare(const CompareOptions &options, Console &console)
{
    if (options.a == "-" && options.b == "-")
        throw UsageError("standard input can be A or B, not both");
    Side a{"A", options.a, {}, {}};
    Side b{"B", options.b, {}, {}};
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
    } catch (const UsageError &) {
        throw;
    } catch (const std::bad_alloc &) {
        console.failure(failing->name, "out of memory");
        return kExitFailure;
    } catch (const std::exception &error) {
        console.failure(failing->name, error.what());
        return kExitFailure;
    }

    if (a.document.family != b.document.family)
        throw UsageError("A is " + std::string(familyName(a.document.family)) +
                         " fingerprint and B " + familyName(b.document.family) +
                         " one: they cannot be compared");
    if (a.document.family == Family::Spectral) {
        console.write(
            spectralReport(options, spectralDistance(a.document.values, b.document.values)));
        return kExitSuccess;
    }
    const SubFingerprints &framesA = a.document.frames;
    const SubFingerprints &framesB = b.document.frames;
    if (framesA.blockLength != framesB.blockLength)
        throw UsageError("A has " + std::to_string(framesA.blockLength) + "-second blocks and B " +
                         std::to_string(framesB.blockLength) +
                         "-second ones: their sub-fingerprints cannot be compared");
    console.write(streamingReport(options, compareStreaming(framesA, framesB, options.threshold)));
    return kExitSuccess;
}

} // namespace vokid
