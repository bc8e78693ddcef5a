#include "vokid/fingerprint/fingerprinter.h"

#include <cstdio>
#include <optional>

#include "vokid/fingerprint/engine_handle.h"
#include "vokid/input/input_error.h"

namespace vokid {

namespace {

std::string tenths(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

InputError tooLittleAudio(Algorithm algorithm, double seconds)
{
    if (seconds == 0)
        return InputError("no audio in it");
    return InputError(
        "unsupported: " + tenths(seconds) + " s of audio, " + algorithmName(algorithm) +
        " needs at least " + tenths(minimumSeconds(algorithm)) + " s" +
        (familyOf(algorithm) == Family::Spectral ? " of sound after leading silence" : ""));
}

// The fingerprint's document when asked for, else its numbers: a long
// streaming fingerprint's frames would take more memory than its text.
void takeResult(FingerprintHandle &handle, const FingerprintRequest &request, Fingerprint &result)
{
    if (request.document) {
        result.xml = handle.serialize();
    } else if (familyOf(request.algorithm) == Family::Streaming) {
        const EngineFrames frames = handle.frames();
        result.frames = SubFingerprints::of(frames, frames.complete);
    } else {
        result.values = handle.values();
    }
}

// The FileFloat fingerprint made beside a streaming one, from the same
// chunks: it takes any rate and one or two channels, as delivered. Its
// fourteen seconds of sound done, it is fed no more.
class BesideValues {
public:
    BesideValues(bool wanted, const AudioSource &source)
    {
        if (wanted)
            handle.emplace(engineId(Algorithm::FileFloat), source.rate(), source.channels());
    }
    void add(const AudioChunk &chunk)
    {
        if (handle && !done)
            done = handle->add(chunk.samples, chunk.frames);
    }
    std::vector<uint32_t> values()
    {
        return done ? handle->values() : std::vector<uint32_t>();
    }

private:
    std::optional<FingerprintHandle> handle;
    bool done = false;
};

void describeSource(const AudioSource &source, Fingerprint &result)
{
    // Exact when the whole input was decoded; else what the container says.
    const double stated = source.statedSeconds();
    result.duration = source.decodedToEnd() || stated < 0 ? source.deliveredSeconds() : stated;
    result.sampleRate = source.sourceRate();
    result.channels = source.sourceChannels();
    result.title = source.tag("title");
    result.artist = source.tag("artist");
    result.album = source.tag("album");
}

} // namespace

Document Fingerprint::asDocument() const
{
    Document document;
    document.family = familyOf(algorithm);
    document.algorithm = document.family == Family::Streaming ? engineId(algorithm) : 0;
    document.frames = frames;
    document.values = values;
    return document;
}

Fingerprint fingerprint(const AudioInput &input, const FingerprintRequest &request)
{
    const Algorithm algorithm = request.algorithm;
    AudioTarget target{acceptedRates(algorithm), fallbackRate(algorithm), request.lengthSeconds};
    target.louderChannel = request.louderChannel;
    AudioSource source(input, target);
    FingerprintHandle handle(engineId(algorithm), source.rate(), source.channels());

    // A streaming fingerprint grows with every block, to the end of the
    // audio. A spectral one is complete after its fourteen seconds of
    // sound, and reading on would only cost time.
    const bool readsOn = familyOf(algorithm) == Family::Streaming;
    BesideValues beside(readsOn && request.fileValues, source);
    bool done = false;
    while (readsOn || !done) {
        const AudioChunk chunk = source.read();
        if (chunk.frames == 0)
            break;
        done = handle.add(chunk.samples, chunk.frames);
        beside.add(chunk);
    }
    if (!done)
        throw tooLittleAudio(algorithm, source.deliveredSeconds());

    Fingerprint result;
    result.algorithm = algorithm;
    takeResult(handle, request, result);
    result.fileValues = beside.values();
    describeSource(source, result);
    return result;
}

} // namespace vokid
