// The WAVE driver: a BaseFingerprinter whose input is a WAVE file read
// through the WAVE parser. It decides which encodings are accepted and how
// they map to the engine's sample types, and turns parser codes into
// messages.
#ifndef VOK_WAV_WAV_FINGERPRINTER_H
#define VOK_WAV_WAV_FINGERPRINTER_H

#include "driver/base_fingerprinter.h"
#include "wav/wav_parser.h"

namespace Zuvanti {

class WAVFingerprinter : public BaseFingerprinter {
public:
    WAVFingerprinter() = default;
    // Releases a parser still open (a successful run ends with it open).
    ~WAVFingerprinter() override;

protected:
    void GetAudioType(AudioFormat *audio) override;
    bool GetAudioSample(AudioFormat *audio, uint32_t *count, uint8_t **bytes) override;
    void CloseAudio() override;

private:
    WavParser *parser = nullptr;
};

} // namespace Zuvanti

#endif
