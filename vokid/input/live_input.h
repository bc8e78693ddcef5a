// What FFmpeg is told when it opens an input: the input format asked for
// (a sound card's, raw PCM's), and the options of each kind of input.
#ifndef VOKID_INPUT_LIVE_INPUT_H
#define VOKID_INPUT_LIVE_INPUT_H

#include "vokid/input/audio_source.h"

struct AVInputFormat;
struct AVDictionary;

namespace vokid {

// The input format the input names, or null to tell it by its bytes.
// A format FFmpeg's own formats do not have is looked for among its
// devices (sound cards, lavfi), libavdevice being loaded for it then.
// Throws InputError for a format FFmpeg does not have (saying so when
// libavdevice, which reads sound cards, cannot be loaded).
const AVInputFormat *inputFormat(const AudioInput &input);

// The options for avformat_open_input, to be freed by the caller.
void openingOptions(const AudioInput &input, AVDictionary **options);

} // namespace vokid

#endif
