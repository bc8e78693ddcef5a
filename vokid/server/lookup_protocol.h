// The lookup server's protocol: the body of a POST /query, as vok -om
// zuserver writes it (one or more ZUSERVER_QUERY_LIST elements one after
// another, each holding queries whose FPDATA carries an escaped
// fingerprint document), and the ZUSERVER_RESPONSE_LIST answered to it.
// Nothing here knows the index or HTTP: the server reads the queries,
// searches, and writes the answers.
#ifndef VOKID_SERVER_LOOKUP_PROTOCOL_H
#define VOKID_SERVER_LOOKUP_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/document/document.h"

namespace vokid {

// The most queries one body may hold, and the longest ID (in characters)
// a query may carry: the answer echoes each ID, so a body cannot make it
// much longer than itself.
constexpr size_t kMaxLookupQueries = 1000;
constexpr size_t kMaxLookupIdLength = 64;

// One query of a body, in the order it came.
struct LookupQuery {
    std::string id;   // as written (references resolved); cut to 64 characters when longer
    std::string type; // FPDATA's TYPE as written: "ZUVOK" or "QDV" when usable
    // The fingerprint document (its wrapping is the TYPE), or nothing when
    // the query cannot be used: then `error` says why, in one line.
    std::optional<Document> document;
    std::string error;
};

// A body that is not a sequence of server query lists at all; the server
// answers it with 400. The message is one line.
class LookupBodyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The queries of a body, in order. Throws LookupBodyError for a body that
// is not one or more ZUSERVER_QUERY_LIST elements (each after optional white
// space and an optional <?xml ...?> declaration) holding only
// ZUSERVER_QUERY elements, or that holds none or more than
// kMaxLookupQueries; EngineError when the engine fails (out of memory).
// Time and memory are linear in the body's length.
std::vector<LookupQuery> parseLookupBody(std::string_view body);

enum class LookupStatus { Ok, NoMatch, Error };

struct LookupMatch {
    uint32_t rank = 1; // from 1
    uint64_t trackId = 0;
    double offsetSeconds = 0; // where the query begins in the track
    double ber = 0;           // bit error rate of the alignment, 0 to 1
    double confidence = 0; // 0 to 1
    // Empty ones are left out of the answer (an empty path hides it).
    std::string title;
    std::string artist;
    std::string album;
    std::string path;
    // A FileFixed or FileFloat query's match: the L1 distance of its 30
    // values from the track's, written as DISTANCE in place of BER.
    std::optional<uint32_t> distance;
    // Where in the query the track is heard, in seconds, and the query's
    // playback speed and tempo (1: as played): a Stream1 or Stream4 match's.
    std::optional<double> clipStart;
    double clipEnd = 0;
    double speed = 1;
    double tempo = 1;
};

struct LookupAnswer {
    std::string id;
    LookupStatus status = LookupStatus::NoMatch;
    bool partial = false;             // the search stopped before it had looked everywhere
    std::string message;              // Error: why; NoMatch: why, when known ("ber_too_high")
    std::vector<LookupMatch> matches; // Ok: one or more
};

// The response document, one ZUSERVER_RESPONSE per answer in order, each
// line ending in "\n": well-formed UTF-8 XML whatever the strings hold
// (markup characters escaped, bytes that are not UTF-8 and characters XML
// does not allow written as U+FFFD). Throws std::invalid_argument for an
// answer that contradicts itself: Ok without matches, NoMatch or Error
// with them, a rank of 0, or a number that is not finite. A match with a
// clipStart has CLIP_START, CLIP_END, SPEED and TEMPO; a NoMatch with a
// message has it as REASON.
std::string writeLookupResponse(const std::vector<LookupAnswer> &answers);

// Text as XML character data or an attribute value: & < > " ' and the
// line breaks and tab as references, the rest as described above.
std::string escapeXml(std::string_view text);

} // namespace vokid

#endif
