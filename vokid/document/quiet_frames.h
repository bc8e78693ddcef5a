// Quiet frames. A frame too quiet to carry information gets the next word
// of a fixed pseudo-random generator instead of a sub-fingerprint. The
// generator starts from the same seed for every fingerprint and runs only
// for such frames, so the quiet frames of any document hold the same words
// in the same order and are found by walking the generator alongside.
#ifndef VOKID_DOCUMENT_QUIET_FRAMES_H
#define VOKID_DOCUMENT_QUIET_FRAMES_H

#include <array>
#include <cstdint>
#include <vector>

namespace vokid {

// The generator: 32 words of state, each new word the XOR of six of them.
class QuietWordGenerator {
public:
    QuietWordGenerator();
    uint32_t next();

private:
    std::array<uint32_t, 32> words;
    uint32_t index = 0;
};

// 1 for every word of a fingerprint's sub-fingerprint sequence that stands
// for a quiet frame, 0 for the others.
std::vector<uint8_t> markQuietFrames(const std::vector<uint32_t> &words);

} // namespace vokid

#endif
