// The fingerprinting pipeline: audio decoded by FFmpeg, in the format the
// algorithm takes, through the engine into a fingerprint: its numbers,
// and its document when asked for.
#ifndef VOKID_FINGERPRINT_FINGERPRINTER_H
#define VOKID_FINGERPRINT_FINGERPRINTER_H

#include <cstdint>
#include <string>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"
#include "vokid/document/document.h"
#include "vokid/fingerprint/algorithm.h"
#include "vokid/input/audio_source.h"

namespace vokid {

struct FingerprintRequest {
    Algorithm algorithm = Algorithm::Stream1;
    double lengthSeconds = 0; // fingerprint only this much; 0: all there is
    bool document = false;    // the document, exactly as vok writes it, instead of numbers
    bool louderChannel = false; // see AudioTarget (for the index: print takes the mix)
    // A streaming fingerprint also gives the FileFloat values of the
    // audio's beginning, made from the same decoded audio (the index keeps
    // them for spectral lookups).
    bool fileValues = false;
};

struct Fingerprint {
    Algorithm algorithm = Algorithm::Stream1;
    SubFingerprints frames;       // streaming: the whole blocks a document holds
    std::vector<uint32_t> values; // spectral: the values (0 to 65535)
    std::string xml;              // the document instead, when asked for
    double duration = 0;          // seconds of audio in the input
    uint32_t sampleRate = 0;      // the input's own format
    uint32_t channels = 0;
    std::string title; // from the file's tags; empty when it has none
    std::string artist;
    std::string album;
    // With FingerprintRequest::fileValues: the FileFloat values (0 to
    // 65535) of the audio's beginning; empty when it holds too little sound.
    std::vector<uint32_t> fileValues;

    // The fingerprint as a document read back would give it.
    Document asDocument() const;
};

// Throws InputError when the input cannot be read or holds too little
// audio, EngineError when the engine fails.
Fingerprint fingerprint(const AudioInput &input, const FingerprintRequest &request);

} // namespace vokid

#endif
