// vokid's index records on any bytes: the index folder's header, the first
// look at the store's data file, track records and stored sequences, as
// read back from disk (a sequence in each format version, the first byte
// choosing, and the packed form's fields sealed by the target), and the
// location given as DB. Each must answer or
// throw IndexError and nothing else, and what it accepts must be exactly
// what it writes: a header, record or sequence written again gives the
// same bytes, and a data file taken holds every page its meta pages name;
// a location's scheme is exactly what precedes its "://", and the
// location as messages name it keeps no password.
//
// And the store itself damaged: a small index is written once, then each
// input's mutations (bytes flipped or set, pages zeroed or swapped, the
// file cut short or extended) are applied to a copy of its data file, and
// the copy is opened, checked whole (`vokid check`'s walk) and searched.
// Each must answer or throw IndexError: a fault in the mapped file or an
// assertion of the store must be contained, and an unchanged copy must
// check as whole.
#include <sanitizer/lsan_interface.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/index/index_check.h"
#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/open_store.h"
#include "vokid/index/stored_form.h"
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

// `form`: the format version, 1 to 4 (4 the packed form).
void sequence(std::string_view bytes, uint32_t form)
{
    const vokid::TrackPrint read = vokid::decodeSequence(bytes, 7, form);
    require(vokid::encodeSequence(read, 7, form) == bytes);
    const vokid::SequenceView view(bytes, 7, form);
    require(view.size() == read.size());
    // A slice across the end stays within the track.
    int64_t first = 0;
    const vokid::SubFingerprints end =
        view.slice(static_cast<int64_t>(read.size()) - 10, 20, first);
    require(end.size() == 10 && end.words.back() == read.words.back());
    require(end.weak.back() == read.weak(read.size() - 1));
    // Slices across blocks, and from before the start, read as the print.
    const auto size = static_cast<int64_t>(read.size());
    for (const int64_t from : {int64_t{250}, size / 2 - 300, int64_t{-7}}) {
        const vokid::SubFingerprints part = view.slice(from, 520, first);
        require(first == std::clamp<int64_t>(from, 0, size));
        require(static_cast<int64_t>(part.size()) == std::clamp<int64_t>(from + 520, first, size) - first);
        for (size_t j = 0; j < part.size(); ++j) {
            const size_t i = static_cast<size_t>(first) + j;
            require(part.words[j] == read.words[i] && part.weak[j] == read.weak(i) &&
                    part.quiet[j] == read.quiet[i]);
        }
    }
}

// No "user:password@" before the host, and no "password=" parameter.
bool withoutPassword(const std::string &shown, size_t hostStart)
{
    const size_t end = shown.find_first_of("@/?", hostStart);
    if (end != std::string::npos && shown[end] == '@' &&
        shown.substr(hostStart, end - hostStart).find(':') != std::string::npos)
        return false;
    const size_t query = shown.find('?');
    for (size_t at = query; at != std::string::npos; at = shown.find('&', at + 1))
        if (shown.compare(at + 1, 9, "password=") == 0)
            return false;
    return true;
}

// A location given as DB: a scheme found is a letter, then letters,
// digits, "+", "-" or ".", and "://" follows it; none is found in a
// location without "://".
void location(std::string_view bytes)
{
    const std::string_view scheme = vokid::schemeOf(bytes);
    if (bytes.find("://") == std::string_view::npos)
        require(scheme.empty());
    // As messages name it: a path as it is; a URI only ever shortened, the
    // same named again, and never with a password parameter left.
    const std::string given(bytes), shown = vokid::shownLocation(given);
    require(scheme.empty() ? shown == given : shown.size() <= given.size());
    require(vokid::shownLocation(shown) == shown);
    if (scheme.empty())
        return;
    require(withoutPassword(shown, scheme.size() + 3));
    require(bytes.substr(0, scheme.size() + 3) == std::string(scheme) + "://");
    require((scheme[0] >= 'a' && scheme[0] <= 'z') || (scheme[0] >= 'A' && scheme[0] <= 'Z'));
    for (char c : scheme)
        require((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '+' || c == '-' || c == '.');
}

// The small index: 3 tracks of 2 blocks, words from a fixed generator,
// some quiet frames; the data file's bytes are kept.
std::string folder;
std::string dataBytes;
std::string headerBytes;
constexpr size_t kPage = 4096;

vokid::TrackPrint printOf(uint32_t seed)
{
    vokid::TrackPrint print;
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < 2 * vokid::kBlockWords; ++i) {
        state = state * 1664525u + 1013904223u;
        print.words.push_back(state);
        print.quiet.push_back(i % 97 == 0 ? 1 : 0);
    }
    print.masks.assign(2 * vokid::kKeptMasks, 0xFFFC0000u);
    return print;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void removeFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void makeIndex()
{
    char name[] = "/tmp/fuzz-vokid-index-XXXXXX";
    require(mkdtemp(name) != nullptr);
    folder = name;
    std::atexit(removeFolder);
    {
        const auto store = vokid::openStore(folder + "/made", vokid::StoreAccess::Write);
        const auto batch = store->batch();
        for (uint32_t i = 1; i <= 3; ++i) {
            vokid::TrackInfo info;
            info.path = "/music/" + std::to_string(i) + ".flac";
            info.algorithm = "Stream1";
            info.duration = 6;
            const vokid::TrackPrint print = printOf(i);
            batch->put(info, print, vokid::postingsOf(print, store->step()));
        }
        batch->commit();
    }
    dataBytes = readAll(folder + "/made/data.mdb");
    headerBytes = readAll(folder + "/made/vokid-index");
    // The copy's folder, header and lock file stay; its data file is
    // written anew for each input.
    std::filesystem::create_directory(folder + "/trial");
    writeAll(folder + "/trial/vokid-index", headerBytes);
}

// Five bytes a mutation: what, a page, two bytes of offset, a value.
std::string mutated(std::string_view input)
{
    std::string data = dataBytes;
    for (size_t at = 0; at + 5 <= input.size() && !data.empty(); at += 5) {
        const auto byte = [&](size_t i) { return static_cast<uint8_t>(input[at + i]); };
        const size_t pages = (data.size() + kPage - 1) / kPage;
        const size_t page = byte(1) % pages * kPage;
        const size_t offset = (byte(2) | size_t{byte(3)} << 8) % kPage;
        const size_t where = std::min(page + offset, data.size() - 1);
        switch (byte(0) % 6) {
        case 0:
            data[where] = static_cast<char>(data[where] ^ (byte(4) ? byte(4) : 0xFF));
            break;
        case 1:
            data[where] = static_cast<char>(byte(4));
            break;
        case 2:
            std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(page),
                        std::min(kPage, data.size() - page), '\0');
            break;
        case 3: {
            const size_t other = byte(2) % pages * kPage;
            const size_t length = std::min({kPage, data.size() - page, data.size() - other});
            for (size_t i = 0; i < length; ++i)
                std::swap(data[page + i], data[other + i]);
            break;
        }
        case 4:
            data.resize(page + offset < data.size() ? page + offset : data.size());
            break;
        default:
            data.append(size_t{byte(4)} * 64, static_cast<char>(byte(2)));
            break;
        }
    }
    return data;
}

// The copy opened, checked whole and searched.
void store(std::string_view input)
{
    // A fault contained inside the store's own code leaves what the store
    // had allocated by then (the jump back skips its clean-up). vokid ends
    // after such a fault; here, many inputs later, it would read as a leak.
    __lsan::ScopedDisabler containedFaultsLeaveTheirAllocations;
    const std::string trial = folder + "/trial";
    writeAll(trial + "/data.mdb", mutated(input));
    const auto opened = vokid::openStore(trial, vokid::StoreAccess::Read);
    const vokid::CheckReport report = vokid::checkIndex(*opened);
    if (input.size() < 5)
        require(report.ok() && report.tracks == 3);
    const auto view = opened->view();
    const vokid::TrackPrint second = printOf(2);
    std::vector<uint32_t> words(second.words.begin(), second.words.begin() + 64);
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    vokid::PostingLists lists;
    view->postings(words, 256, lists);
    int64_t first = 0;
    view->sequence(2, 100, 200, first);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    makeIndex();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says which record the rest is.
    const std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    try {
        switch (data[0] % 6) {
        case 0:
            header(bytes);
            break;
        case 1:
            dataFile(bytes);
            break;
        case 2:
            track(bytes);
            break;
        case 3: {
            // And which format version: 3, 4, 1 or 2 (3 for byte 3); or
            // the fields of version 4 sealed here, so that what lies past
            // the checksum is reached.
            const uint32_t forms[] = {3, 4, 1, 2};
            const unsigned choice = data[0] / 6 % 5;
            if (choice < 4) {
                sequence(bytes, forms[choice]);
            } else {
                std::string sealed(bytes);
                const uint32_t crc = vokid::recordCrc(7, bytes);
                for (int i = 0; i < 4; ++i)
                    sealed.push_back(static_cast<char>(crc >> (8 * i) & 0xFFu));
                sequence(sealed, 4);
            }
            break;
        }
        case 4:
            location(bytes);
            break;
        default:
            store(bytes);
            break;
        }
    } catch (const vokid::IndexError &) {
    }
    return 0;
}
