// An input that cannot be fingerprinted, with the cause in plain words
// ("no such file", "no audio stream in it", ...). Callers add the name.
#ifndef VOKID_INPUT_INPUT_ERROR_H
#define VOKID_INPUT_INPUT_ERROR_H

#include <stdexcept>

namespace vokid {

class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An input that holds no audio at all (not a container FFmpeg reads, or
// one without an audio stream), as against audio that fails to decode.
class NotAudioError : public InputError {
public:
    using InputError::InputError;
};

} // namespace vokid

#endif
