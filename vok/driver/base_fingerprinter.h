// The fingerprinting driver: turns an audio input and an algorithm choice
// into fingerprint text. A concrete input supplies three operations that
// describe its audio, deliver it piece by piece and release it; this class
// owns the conversation with the engine and reports every failure by
// throwing a FingerprinterException pointer.
#ifndef VOK_DRIVER_BASE_FINGERPRINTER_H
#define VOK_DRIVER_BASE_FINGERPRINTER_H

#include <cstdint>
#include <string>

#include "driver/algorithm_flags.h"
#include "driver/audio_format.h"
#include "driver/fingerprinter_exception.h"
#include <vok/vok_engine.h>

namespace Zuvanti {

class BaseFingerprinter {
public:
    // Driver states.
    static constexpr int32_t NoInput = 0;
    static constexpr int32_t Ready = 1;
    static constexpr int32_t Extracting = 2;

    // Starts the engine's memory layer (a second start is harmless).
    BaseFingerprinter();
    // Does not close the input: a derived class that holds one releases it.
    virtual ~BaseFingerprinter();
    BaseFingerprinter(const BaseFingerprinter &) = delete;
    BaseFingerprinter &operator=(const BaseFingerprinter &) = delete;

    // Opens the input through GetAudioType. Its failure is rethrown as
    // "Get audio type error" with the input's exception as inner.
    void Initialize(std::string path);

    // Extracts one fingerprint into *text (NUL-terminated XML, released by
    // the caller with eng_free_text). Answers 1 when the input reported its
    // end during this call, 0 when audio remains; -1 while an extraction is
    // in progress, -2 without a usable input. With blocks of 1 or more the
    // input is read until a read delivers nothing; with 0 or fewer one read
    // is made. The input stays open and positioned after a success, so a
    // further call goes on from there.
    int GenerateFingerprint(AlgorithmFlags flags, int32_t blocks, char **text);

protected:
    // Opens or inspects the input named by path and sets sample_type,
    // sample_rate and channels of *audio.
    virtual void GetAudioType(AudioFormat *audio) = 0;
    // Delivers the next piece, at most audio->block_bytes bytes (0: the
    // rest of the current data stretch), through *bytes (owned by the
    // input, valid until the next call) and *count. True exactly at the
    // end of the input, with *count 0.
    virtual bool GetAudioSample(AudioFormat *audio, uint32_t *count, uint8_t **bytes) = 0;
    // Releases whatever the input holds open.
    virtual void CloseAudio();

    // Serialises into *text; on failure closes the input, destroys the
    // handle and throws.
    void SerializeFingerprint(EngineHandle **handle, char **text);

    std::string path;
    AlgorithmFlags flags = 0;
    AudioFormat format;
    int32_t state = NoInput;

private:
    // The common cleanup of every failure of an extraction.
    void Abandon(EngineHandle **handle);
    // The steps of an extraction, each throwing on failure: the engine
    // handle; the audio added until the input ends, a read delivers
    // nothing or (unless reads_on_when_done) the fingerprint is done, one
    // read only with blocks of 0 or fewer (answers whether the input
    // ended); one piece read, its failure rethrown as "Unable to get audio
    // sample." (answers GetAudioSample's end flag).
    void CreateHandle(uint32_t algorithm_id, EngineHandle **handle);
    bool AddAudio(EngineHandle *handle, bool reads_on_when_done, int32_t blocks, uint8_t *done);
    bool ReadPiece(uint32_t *count, uint8_t **bytes);
};

} // namespace Zuvanti

#endif
