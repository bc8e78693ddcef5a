// Identification of a clip: its sub-fingerprints searched in the index as
// played, then, when that finds nothing the acceptance rule takes, read
// back at the other speed hypotheses side by side; the first accepted
// match stops the rest. A match found at a speed a little off drifts
// through its track; the speed the drift tells is tried last.
#ifndef VOKID_SEARCH_IDENTIFIER_H
#define VOKID_SEARCH_IDENTIFIER_H

#include <cstdint>
#include <optional>
#include <vector>

#include "vokid/document/document.h"
#include "vokid/index/index_store.h"
#include "vokid/input/audio_source.h"
#include "vokid/search/matcher.h"
#include "vokid/search/worker_pool.h"

namespace vokid {

struct Identification {
    Match match;        // accepted, or the best candidate any speed found
    double speed = 1;   // the clip's playback speed that match was found at
    double seconds = 0; // of the clip searched
};

class Identifier {
public:
    // The pool runs the speed hypotheses (it may be shared by several
    // identifiers); without `speeds` the clip is searched as played only.
    Identifier(IndexStore &store, WorkerPool &pool, bool speeds = true);

    // The first `maxSeconds` of a clip (0: all of it). Throws InputError.
    Identification identify(const AudioInput &clip, double maxSeconds);
    // Interleaved frames at a rate the engine takes, one or two channels.
    Identification identify(const std::vector<int16_t> &frames, uint32_t rate, uint32_t channels);
    // As identify(clip, maxSeconds), with the matched track's record in
    // *track: a match whose track is removed meanwhile is dropped and the
    // clip searched again (at most kSearches times; then no match).
    static constexpr int kSearches = 3;
    Identification identifyKnown(const AudioInput &clip, double maxSeconds,
                                 std::optional<TrackInfo> &track);
    // A print given whole (a fingerprint document's), searched as played:
    // there is no audio to read back at other speeds.
    Identification identifyKnown(const SubFingerprints &query, std::optional<TrackInfo> &track);

private:
    class ClipSearch;

    template <class Search>
    Identification known(Search search, std::optional<TrackInfo> &track);

    IndexStore &store;
    WorkerPool &pool;
    bool speeds;
};

// A clip named as the user gives it ('-' is standard input): audio, of
// which the first `length` seconds are searched (0: all), or a Stream1 or
// Stream4 document, searched as played (its first `length` seconds). With
// the matched track's record in *track, as Identifier::identifyKnown.
// Throws InputError, DecodeError, IndexError.
Identification identifyInput(Identifier &identifier, const std::string &file, double length,
                             std::optional<TrackInfo> &track);
// A document read already, as identifyInput takes it; InputError for one
// that is not Stream1 or Stream4.
Identification identifyDocument(Identifier &identifier, const Document &document, double length,
                                std::optional<TrackInfo> &track);

// Audio decoded to the end (or to `maxSeconds`) in a rate the engine takes.
struct DecodedAudio {
    std::vector<int16_t> frames;
    uint32_t rate = 0;
    uint32_t channels = 0;
};
DecodedAudio decodeForPrint(const AudioInput &input, double maxSeconds,
                            int64_t probeBytes = AudioTarget::kProbeBytes);

} // namespace vokid

#endif
