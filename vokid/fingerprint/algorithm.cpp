#include "vokid/fingerprint/algorithm.h"

#include <cmath>

namespace vokid {

namespace {

struct AlgorithmRow {
    Algorithm algorithm;
    const char *name;
    uint32_t engineId;
};

constexpr AlgorithmRow kRows[] = {
    {Algorithm::FileFixed, "FileFixed", 1},
    {Algorithm::FileFloat, "FileFloat", 2},
    {Algorithm::Stream1, "Stream1", 3},
    {Algorithm::Stream4, "Stream4", 4},
};

const AlgorithmRow &rowOf(Algorithm algorithm)
{
    return kRows[static_cast<int>(algorithm)];
}

double roundUpToTenth(double seconds)
{
    return std::ceil(seconds * 10.0 - 1e-9) / 10.0;
}

} // namespace

const char *algorithmName(Algorithm algorithm)
{
    return rowOf(algorithm).name;
}

std::optional<Algorithm> algorithmNamed(std::string_view name)
{
    for (const AlgorithmRow &row : kRows)
        if (name == row.name)
            return row.algorithm;
    return std::nullopt;
}

std::vector<std::string> algorithmNames()
{
    std::vector<std::string> names;
    for (const AlgorithmRow &row : kRows)
        names.emplace_back(row.name);
    return names;
}

uint32_t engineId(Algorithm algorithm)
{
    return rowOf(algorithm).engineId;
}

Family familyOf(Algorithm algorithm)
{
    return algorithm == Algorithm::Stream1 || algorithm == Algorithm::Stream4 ? Family::Streaming
                                                                              : Family::Spectral;
}

std::vector<uint32_t> acceptedRates(Algorithm algorithm)
{
    if (algorithm == Algorithm::FileFloat)
        return {};
    // The rates for which both the streaming and the integer spectral
    // fingerprint have their resampling filters.
    return {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
}

uint32_t fallbackRate(Algorithm algorithm)
{
    // The integer spectral fingerprint analyses at 11025 Hz: resampling
    // straight to it spares a second resampling in the engine.
    return algorithm == Algorithm::FileFixed ? 11025 : 44100;
}

double minimumSeconds(Algorithm algorithm)
{
    // Streaming: a block is 256 sub-fingerprints, one every 64 samples at
    // 5512.5 Hz, after a first frame of 2048 samples. Spectral: twelve
    // frames of 32768 samples at 11025 Hz, 11264 apart.
    if (familyOf(algorithm) == Family::Streaming)
        return roundUpToTenth((2048.0 + 256.0 * 64.0) / 5512.5);
    return roundUpToTenth((11.0 * 11264.0 + 32768.0) / 11025.0);
}

} // namespace vokid
