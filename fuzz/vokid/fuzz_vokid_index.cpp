// vokid's index records on any bytes: the index folder's header, the first
// look at the store's data file, track records and stored sequences, as
// read back from disk, and the location given as DB. Each must answer or
// throw IndexError and nothing else, and what it accepts must be exactly
// what it writes: a header, record or sequence written again gives the
// same bytes, and a data file taken holds every page its meta pages name;
// a location's scheme is exactly what precedes its "://".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/open_store.h"
#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void header(std::string_view bytes)
{
    const vokid::IndexHeader read = vokid::decodeHeader(bytes);
    require(vokid::encodeHeader(read) == bytes);
}

void dataFile(std::string_view bytes)
{
    // The bytes are the whole file.
    const vokid::DataFileFacts facts = vokid::checkDataFile(bytes, bytes.size());
    require(facts.pageSize >= 512 && (facts.pageSize & (facts.pageSize - 1)) == 0);
    require((facts.lastPage + 1) * facts.pageSize <= bytes.size());
}

void track(std::string_view bytes)
{
    const vokid::TrackInfo read = vokid::decodeTrack(7, bytes);
    require(read.id == 7 && read.postings <= read.words);
    require(vokid::encodeTrack(read) == bytes);
}

void sequence(std::string_view bytes)
{
    const vokid::TrackPrint read = vokid::decodeSequence(bytes, 7);
    require(vokid::encodeSequence(read, 7) == bytes);
    const vokid::SequenceView view(bytes, 7);
    require(view.size() == read.size());
    // A slice across the end stays within the track.
    int64_t first = 0;
    const vokid::SubFingerprints end =
        view.slice(static_cast<int64_t>(read.size()) - 10, 20, first);
    require(end.size() == 10 && end.words.back() == read.words.back());
    require(end.weak.back() == read.weak(read.size() - 1));
}

// A location given as DB: a scheme found is a letter, then letters,
// digits, "+", "-" or ".", and "://" follows it; none is found in a
// location without "://".
void location(std::string_view bytes)
{
    const std::string_view scheme = vokid::schemeOf(bytes);
    if (bytes.find("://") == std::string_view::npos)
        require(scheme.empty());
    if (scheme.empty())
        return;
    require(bytes.substr(0, scheme.size() + 3) == std::string(scheme) + "://");
    require((scheme[0] >= 'a' && scheme[0] <= 'z') || (scheme[0] >= 'A' && scheme[0] <= 'Z'));
    for (char c : scheme)
        require((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '+' || c == '-' || c == '.');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says which record the rest is.
    const std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    try {
        switch (data[0] % 5) {
        case 0:
            header(bytes);
            break;
        case 1:
            dataFile(bytes);
            break;
        case 2:
            track(bytes);
            break;
        case 3:
            sequence(bytes);
            break;
        default:
            location(bytes);
            break;
        }
    } catch (const vokid::IndexError &) {
    }
    return 0;
}
