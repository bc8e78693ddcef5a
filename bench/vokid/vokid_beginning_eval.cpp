// The spectral lookup measured in-process, for vokid_beginning_bench.sh:
//
//   vokid_beginning_eval distances DB QUERIES
//       QUERIES has lines "KIND <tab> DOCUMENT <tab> PATH": a FileFixed or
//       FileFloat document of a file whose track in DB was added from PATH
//       ("-": a recording not in the index). For each kind: the largest
//       L1 distance of a query from its own track's stored values, the
//       smallest from any other track's, and the queries that
//       SpectralTable::nearest at kSpectralTolerance answers right (their
//       own track, or none for a recording not in the index). Then the
//       smallest distance between the stored values of two tracks.
//   vokid_beginning_eval speed DB TRACKS QUERIES
//       The time of one nearest() on a table of TRACKS tracks: DB's own
//       and synthetic ones made by moving a real track's values at random.
//   vokid_beginning_eval cost FILE...
//       The time per file of the fingerprint `vokid add` makes (Stream1,
//       all of it) with and without the FileFloat values beside it.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vokid/fingerprint/fingerprinter.h"
#include "vokid/fingerprint/recognised_input.h"
#include "vokid/index/open_store.h"
#include "vokid/search/beginning_match.h"

namespace {

using namespace vokid;
using Clock = std::chrono::steady_clock;

uint32_t l1(const FileValues &stored, const std::vector<uint32_t> &query)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < kFileValueCount; ++i)
        sum += stored[i] > query[i] ? stored[i] - query[i] : query[i] - stored[i];
    return sum;
}

std::vector<uint32_t> asQuery(const FileValues &values)
{
    return std::vector<uint32_t>(values.begin(), values.end());
}

struct KindFigures {
    size_t queries = 0, right = 0;
    uint32_t sameMax = 0, otherMin = UINT32_MAX;
};

void oneQuery(const std::vector<TrackInfo> &tracks, const SpectralTable &table,
              const std::string &path, const std::vector<uint32_t> &query, KindFigures &kind)
{
    uint32_t own = 0;
    uint32_t ownDistance = UINT32_MAX;
    for (const TrackInfo &track : tracks) {
        if (!track.values)
            continue;
        const uint32_t distance = l1(*track.values, query);
        if (track.path == path) {
            own = track.id;
            ownDistance = distance;
        } else {
            kind.otherMin = std::min(kind.otherMin, distance);
        }
    }
    if (own != 0)
        kind.sameMax = std::max(kind.sameMax, ownDistance);
    const std::optional<SpectralMatch> found = table.nearest(query);
    kind.right += (found ? found->track : 0) == own ? 1 : 0;
    ++kind.queries;
}

int distances(const std::string &db, const std::string &list)
{
    const auto store = openStore(db, StoreAccess::Read);
    const std::vector<TrackInfo> tracks = store->view()->tracks();
    const SpectralTable table(tracks);
    std::map<std::string, KindFigures> kinds;
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, document, path;
        std::getline(fields, kind, '\t');
        std::getline(fields, document, '\t');
        std::getline(fields, path, '\t');
        const std::vector<Document> read = readDocuments(readInputText(document));
        oneQuery(tracks, table, path, read.at(0).values, kinds[kind]);
    }
    std::printf("tolerance %u; %zu tracks with values\n", kSpectralTolerance, table.size());
    for (const auto &[name, kind] : kinds)
        std::printf("%-28s %4zu queries: own track at most %6u, others at least %6u; "
                    "%zu answered right\n",
                    name.c_str(), kind.queries, kind.sameMax, kind.otherMin, kind.right);
    uint32_t apart = UINT32_MAX;
    for (size_t a = 0; a < tracks.size(); ++a)
        for (size_t b = a + 1; b < tracks.size(); ++b)
            if (tracks[a].values && tracks[b].values)
                apart = std::min(apart, l1(*tracks[a].values, asQuery(*tracks[b].values)));
    std::printf("stored values of two different tracks: at least %u apart\n", apart);
    return 0;
}

int speed(const std::string &db, size_t count, size_t queries)
{
    const auto store = openStore(db, StoreAccess::Read);
    std::vector<TrackInfo> real, all;
    for (TrackInfo &track : store->view()->tracks())
        if (track.values)
            real.push_back(std::move(track));
    if (real.empty())
        return std::fprintf(stderr, "no track has values\n"), 1;
    uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (size_t i = 0; i < count; ++i) {
        TrackInfo track = real[i % real.size()];
        track.id = static_cast<uint32_t>(i + 1);
        if (i >= real.size())
            for (uint16_t &value : *track.values)
                value = static_cast<uint16_t>(std::min<uint32_t>(65535, value + next() % 4000));
        all.push_back(std::move(track));
    }
    const SpectralTable table(all);
    size_t found = 0;
    const Clock::time_point start = Clock::now();
    for (size_t q = 0; q < queries; ++q)
        found += table.nearest(asQuery(*real[q % real.size()].values)) ? 1 : 0;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%zu tracks: %.1f us a query (%zu of %zu found)\n", table.size(),
                seconds / static_cast<double>(queries) * 1e6, found, queries);
    return 0;
}

double timeOf(const std::string &file, bool values)
{
    const Clock::time_point start = Clock::now();
    FingerprintRequest request{Algorithm::Stream1, 0, false, true, values};
    fingerprint(AudioInput::named(file), request);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int cost(const std::vector<std::string> &files)
{
    double without = 0, with = 0;
    for (int round = 0; round < 3; ++round)
        for (const std::string &file : files) {
            without += timeOf(file, false);
            with += timeOf(file, true);
        }
    const double n = 3.0 * static_cast<double>(files.size());
    std::printf("fingerprint for vokid add: %.1f ms a file without values, %.1f ms with "
                "(%.1f ms a track for the values)\n",
                without / n * 1e3, with / n * 1e3, (with - without) / n * 1e3);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "distances" && argc == 4)
            return distances(argv[2], argv[3]);
        if (mode == "speed" && argc == 5)
            return speed(argv[2], std::stoul(argv[3]), std::stoul(argv[4]));
        if (mode == "cost" && argc > 2)
            return cost(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vokid_beginning_eval: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: vokid_beginning_eval distances DB QUERIES | speed DB TRACKS "
                         "QUERIES | cost FILE...\n");
    return 2;
}
