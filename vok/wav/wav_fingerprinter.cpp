#include "wav/wav_fingerprinter.h"

#include <string>

namespace Zuvanti {

WAVFingerprinter::~WAVFingerprinter()
{
    CloseAudio();
}

void WAVFingerprinter::GetAudioType(AudioFormat *audio)
{
    // A second open replaces the first without leaving it open.
    CloseAudio();
    const int code = wav_open(path.c_str(), &parser);
    if (code != WAV_OK)
        throw new FingerprinterException(
            std::string("Error parsing WAV file: ") + wav_error_name(code), nullptr);

    // Until the mapping succeeds the sample type holds the raw format tag.
    audio->sample_type = static_cast<SampleType>(parser->format_tag);
    audio->sample_rate = parser->sample_rate;
    audio->channels = parser->channels;

    switch (parser->format_tag) {
    case WAV_FORMAT_PCM:
        if (parser->bits_per_sample == 8)
            audio->sample_type = SAMPLE_PCM_U8;
        else if (parser->bits_per_sample == 16)
            audio->sample_type = SAMPLE_PCM_S16;
        else
            throw new FingerprinterException("Unsupported bits per sample", nullptr);
        break;
    case WAV_FORMAT_ALAW:
        audio->sample_type = SAMPLE_ALAW;
        break;
    case WAV_FORMAT_MULAW:
        audio->sample_type = SAMPLE_MULAW;
        break;
    default:
        throw new FingerprinterException("Unknown encoding type", nullptr);
    }
}

bool WAVFingerprinter::GetAudioSample(AudioFormat *audio, uint32_t *count, uint8_t **bytes)
{
    if (!bytes)
        throw new FingerprinterException("Audio sample buffer is NULL", nullptr);
    const int code = wav_read(count, parser, audio->block_bytes, bytes);
    if (code == WAV_OK)
        return false;
    if (code == WAV_E_END_OF_FILE)
        return true;
    throw new FingerprinterException(
        std::string("Error getting audio sample: ") + wav_error_name(code), nullptr);
}

void WAVFingerprinter::CloseAudio()
{
    if (parser) {
        wav_close(parser);
        parser = nullptr;
    }
}

} // namespace Zuvanti
