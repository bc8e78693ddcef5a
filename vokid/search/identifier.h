// Identification of a clip: the clip (or its first --length seconds) in
// overlapping windows of about 6 s, 3.2 s apart (a clip up to one window
// is one window), each searched as played, at the tempos and at the speeds
// (window_search.h). Windows that agree (the same track, its position
// advancing with the clip at the window's rate) add up to a track heard;
// the one heard for the most seconds is the clip's match. A track heard in
// one window only of a longer clip must beat a stricter bar (acceptance.h:
// more windows tried, more chances for a wrong recording to look good).
// Without `all`, the search stops once the match is certain.
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

// Windows of 6.4 s (552 sub-fingerprints: a 6-s clip is one window, as
// are all clips searched before windows were), 3.2 s apart: every stretch
// of 3.2 s of a track lies whole in some window, and a track heard for
// 6.4 s or more in two.
constexpr size_t kWindowWords = 552;
constexpr size_t kWindowStep = 276;
// The first sub-fingerprint of each window of a print of `words`; the
// last window ends with the print.
std::vector<size_t> windowStarts(size_t words);

// Audio decoded to the end (or to `maxSeconds`) in a rate the engine takes.
struct DecodedAudio {
    std::vector<int16_t> frames;
    uint32_t rate = 0;
    uint32_t channels = 0;
};

// Why a clip has no match.
enum class MissReason {
    None,           // it has one
    TooQuiet,       // fewer than 256 sub-fingerprints that are not quiet frames
    NoCandidate,    // no alignment got a vote
    BerTooHigh,     // the nearest differs in too many bits (or overlaps too little)
    MarginTooSmall, // the nearest is not far enough ahead of another recording
};
// "too_quiet", "no_candidate", "ber_too_high", "margin_too_small"; "" for None.
const char *reasonName(MissReason reason);
// Why `match` (the nearest, found or not) is not accepted by `rule`.
MissReason missReason(const AcceptanceRule &rule, const Match &match);

// A track heard in a clip: the windows that agree on it.
struct Heard {
    Match match;          // of its best window (query position 0: that window's start)
    double speed = 1;     // the clip's playback speed that match was found at
    double tempo = 1;     // its tempo (pitch kept), when the speed is 1
    double clipStart = 0; // seconds of the clip where the track is heard
    double clipEnd = 0;
    double trackStart = 0;     // the track's second heard at clipStart
    double matchedSeconds = 0; // of the windows that agree, overlaps counted once
    size_t windows = 0;
    std::optional<TrackInfo> track; // its record (identifyKnown)
};

struct Identification : Heard {
    double seconds = 0;     // of the clip searched
    std::vector<Heard> all; // with `all`: every track heard, in clip order
    MissReason reason = MissReason::None;
    // Without a match, `match` is the nearest candidate any window found.
};

class Identifier {
public:
    // The pool runs the hypotheses of a window (it may be shared by
    // several identifiers); without `speeds` the clip is searched as
    // played only.
    Identifier(IndexStore &store, WorkerPool &pool, bool speeds = true);

    // The first `maxSeconds` of a clip (0: all of it). Throws InputError.
    Identification identify(const AudioInput &clip, double maxSeconds, bool all = false);
    // Interleaved frames at a rate the engine takes, one or two channels.
    Identification identify(const std::vector<int16_t> &frames, uint32_t rate, uint32_t channels,
                            bool all = false);
    // As identify(clip, maxSeconds), with the matched track's record in
    // *track: a match whose track is removed meanwhile is dropped and the
    // clip searched again (at most kSearches times; then no match).
    static constexpr int kSearches = 3;
    // The tracks of `all` have their records too; removed ones are left out.
    Identification identifyKnown(const AudioInput &clip, double maxSeconds,
                                 std::optional<TrackInfo> &track, bool all = false);
    // A print given whole (a fingerprint document's), searched as played
    // and at the tempos: there is no audio to read back at other speeds.
    Identification identifyKnown(const SubFingerprints &query, std::optional<TrackInfo> &track,
                                 bool all = false);

private:
    class ClipScan;

    Identification identifyDecoded(const DecodedAudio &audio, bool all);
    Identification search(const SubFingerprints &print, const DecodedAudio *audio, bool all);
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
                             std::optional<TrackInfo> &track, bool all = false);
// A document read already, as identifyInput takes it; InputError for one
// that is not Stream1 or Stream4.
Identification identifyDocument(Identifier &identifier, const Document &document, double length,
                                std::optional<TrackInfo> &track, bool all = false);

DecodedAudio decodeForPrint(const AudioInput &input, double maxSeconds,
                            int64_t probeBytes = AudioTarget::kProbeBytes);

} // namespace vokid

#endif
