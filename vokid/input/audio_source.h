// Any audio FFmpeg can decode, delivered as interleaved 16-bit PCM in
// bounded chunks: one or two channels as they are, more mixed down to
// stereo; the file's rate when the consumer takes it, else resampled to a
// fallback rate. Memory stays bounded whatever the file's length.
#ifndef VOKID_INPUT_AUDIO_SOURCE_H
#define VOKID_INPUT_AUDIO_SOURCE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vokid {

// Where the audio comes from: a file, or standard input; for monitoring
// also a URL or a sound card, and a file still being written.
struct AudioInput {
    std::string path; // ignored for standard input
    bool standardInput = false;
    std::string taken; // bytes already read from standard input
    bool url = false;    // path is a URL or a device, opened by FFmpeg with any protocol
    bool follow = false; // a file still being written: read as it grows, never ending
    std::string format;  // FFmpeg's input format ("alsa", "s16le"); empty: told by the bytes
    uint32_t rawRate = 0; // of raw PCM (format "s16le", ...)
    uint32_t rawChannels = 0;

    static AudioInput named(const std::string &name); // "-" is standard input
};

// What the consumer takes.
struct AudioTarget {
    std::vector<uint32_t> rates; // rates kept as they are; empty: any rate
    uint32_t fallbackRate = 44100;
    double limitSeconds = 0; // deliver at most this much; 0: everything
    // Bytes read to find the stream's parameters (see AudioSource).
    int64_t probeBytes = kProbeBytes;
    // Two channels whose mix is more than 20 dB below the louder of them
    // (stereo in anti-phase, whose mix is near silence) are delivered as
    // that channel alone; told by their first 10 seconds.
    bool louderChannel = false;

    static constexpr int64_t kProbeBytes = 32768;
};

struct AudioChunk {
    const int16_t *samples = nullptr; // interleaved frames
    size_t frames = 0;
};

class AudioSource {
public:
    // Opens the input and decodes up to its first audio, which settles the
    // delivered format. Throws InputError with the cause in plain words.
    AudioSource(const AudioInput &input, const AudioTarget &target);
    ~AudioSource();
    AudioSource(const AudioSource &) = delete;
    AudioSource &operator=(const AudioSource &) = delete;

    // The file's own format.
    uint32_t sourceRate() const;
    uint32_t sourceChannels() const;
    // The delivered format.
    uint32_t rate() const;
    uint32_t channels() const;

    // The next chunk; frames is 0 at the end (or at the length limit).
    // The samples stay valid until the next call.
    AudioChunk read();

    // Seconds delivered so far.
    double deliveredSeconds() const;
    // True once the whole input has been decoded (not cut by the limit).
    bool decodedToEnd() const;
    // The duration the container states, or a negative value when it
    // states none worth trusting.
    double statedSeconds() const;
    // A tag of the file ("title", "artist", ...): the container's, else
    // the audio stream's (Ogg and Opus keep them there); empty when none.
    std::string tag(const char *key) const;

private:
    struct Decoder;
    struct Choice;
    void choose();
    std::unique_ptr<Decoder> decoder;
    std::unique_ptr<Choice> choice; // with louderChannel, for two channels
};

} // namespace vokid

#endif
