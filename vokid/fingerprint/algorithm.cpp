#include "vokid/fingerprint/algorithm.h"

#include <array>
#include <cmath>
#include <mutex>

#include "vokid/support/engine.h"

namespace vokid {

namespace {

struct AlgorithmRow {
    Algorithm algorithm;
    const char *name;
    uint32_t engineId;
    Family family;
};

constexpr AlgorithmRow kRows[] = {
    {Algorithm::FileFixed, "FileFixed", ENG_ALG_FILE_FIXED, Family::Spectral},
    {Algorithm::FileFloat, "FileFloat", ENG_ALG_FILE_FLOAT, Family::Spectral},
    {Algorithm::Stream1, "Stream1", ENG_ALG_STREAM1, Family::Streaming},
    {Algorithm::Stream4, "Stream4", ENG_ALG_STREAM4, Family::Streaming},
};

// The rates audio commonly comes at; an algorithm takes some of them as
// they are. A rate no algorithm has a table for tells one that takes any.
constexpr uint32_t kCommonRates[] = {8000,  11025, 12000, 16000, 22050, 24000, 32000,
                                     44100, 48000, 64000, 88200, 96000, 176400, 192000};
constexpr uint32_t kUnusualRate = 12345;

// The spectral fingerprint analyses twelve frames of 32768 samples at
// 11025 Hz, 11264 apart.
constexpr double kSpectralSeconds = (11.0 * 11264.0 + 32768.0) / 11025.0;

const AlgorithmRow &rowOf(Algorithm algorithm)
{
    return kRows[static_cast<int>(algorithm)];
}

double roundUpToTenth(double seconds)
{
    return std::ceil(seconds * 10.0 - 1e-9) / 10.0;
}

bool engineTakes(uint32_t id, uint32_t rate)
{
    EngineHandle *handle = nullptr;
    const ResultCode result = eng_create(id, SAMPLE_PCM_S16, rate, 2, &handle);
    eng_destroy(&handle);
    return result == ENG_OK;
}

std::vector<uint32_t> askEngine(uint32_t id)
{
    startEngine();
    std::vector<uint32_t> rates;
    if (engineTakes(id, kUnusualRate))
        return rates; // any rate
    for (uint32_t rate : kCommonRates)
        if (engineTakes(id, rate))
            rates.push_back(rate);
    return rates;
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

std::optional<Algorithm> algorithmOfEngineId(uint32_t id)
{
    for (const AlgorithmRow &row : kRows)
        if (row.engineId == id)
            return row.algorithm;
    return std::nullopt;
}

Family familyOf(Algorithm algorithm)
{
    return rowOf(algorithm).family;
}

const std::vector<uint32_t> &acceptedRates(Algorithm algorithm)
{
    static std::once_flag asked[std::size(kRows)];
    static std::array<std::vector<uint32_t>, std::size(kRows)> rates;
    const auto k = static_cast<size_t>(algorithm);
    std::call_once(asked[k], [&] { rates[k] = askEngine(rowOf(algorithm).engineId); });
    return rates[k];
}

uint32_t fallbackRate(Algorithm algorithm)
{
    // The integer spectral fingerprint analyses at 11025 Hz: resampling
    // straight to it spares a second resampling in the engine.
    return algorithm == Algorithm::FileFixed ? 11025 : 44100;
}

double minimumSeconds(Algorithm algorithm)
{
    if (familyOf(algorithm) == Family::Spectral)
        return roundUpToTenth(kSpectralSeconds);
    // One block: its first sub-fingerprint and 255 more.
    const StreamGrid &grid = streamGrid(engineId(algorithm));
    return roundUpToTenth(grid.firstOffsetSeconds +
                          (ENG_BLOCK_FRAMES - 1) * grid.frameSeconds);
}

} // namespace vokid
