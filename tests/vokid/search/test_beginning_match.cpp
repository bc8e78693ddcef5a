// The spectral lookup: the nearest track by L1 distance within the
// tolerance, worked out here by hand for small tables (the boundary, ties,
// tracks without values, refused queries); and end to end, tracks read
// from real audio as vokid add reads them, found by the FileFixed and
// FileFloat documents the vok program writes of their files, and a
// recording not in the index found by none.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/recording.h"
#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"
#include "vokid/document/document.h"
#include "vokid/index/memory_store.h"
#include "vokid/index/postings.h"
#include "vokid/search/beginning_match.h"
#include "vokid/search/track_source.h"

namespace {

using vokid::FileValues;
using vokid::SpectralTable;
using vokid::TrackInfo;

TrackInfo trackWith(uint32_t id, std::optional<FileValues> values)
{
    TrackInfo track;
    track.id = id;
    track.values = values;
    return track;
}

FileValues flat(uint16_t value)
{
    FileValues values;
    values.fill(value);
    return values;
}

std::vector<uint32_t> query(uint32_t value)
{
    return std::vector<uint32_t>(vokid::kFileValueCount, value);
}

TEST(SpectralTable, FindsTheNearestWithinTheTolerance)
{
    // Given out of order: ids 7 and 3 equally near any query below 1000.
    const SpectralTable table({trackWith(7, flat(1000)), trackWith(3, flat(1000)),
                               trackWith(5, std::nullopt), trackWith(9, flat(2000))});
    EXPECT_EQ(3u, table.size());
    const struct {
        const char *name;
        std::vector<uint32_t> query;
        uint32_t tolerance;
        uint32_t track; // 0: none
        uint32_t distance;
    } cases[] = {
        {"exact, the lower id of a tie", query(1000), 0, 3, 0},
        {"at the tolerance", query(1010), 300, 3, 300},
        {"one past it", query(1010), 299, 0, 0},
        {"nearer the other", query(1600), 100000, 9, 12000},
        {"halfway: the lower id", query(1500), 100000, 3, 15000},
        {"far from all", query(60000), 5000, 0, 0},
        {"the largest tolerance", query(65535), 30 * 65535, 9, 30 * 63535},
    };
    for (const auto &c : cases) {
        const std::optional<vokid::SpectralMatch> found = table.nearest(c.query, c.tolerance);
        EXPECT_EQ(c.track, found ? found->track : 0) << c.name;
        if (found) {
            EXPECT_EQ(c.distance, found->distance) << c.name;
        }
    }
    std::vector<uint32_t> one = query(1000);
    one[29] = 1001; // a single value apart
    EXPECT_EQ(1u, table.nearest(one, 1)->distance);
    EXPECT_FALSE(SpectralTable().nearest(query(0)));
}

TEST(SpectralTable, RefusesQueriesThatAreNotThirtyValues)
{
    const SpectralTable table({trackWith(1, flat(0))});
    std::vector<uint32_t> big = query(0);
    big[4] = 65536;
    EXPECT_THROW(table.nearest(std::vector<uint32_t>(29, 0)), std::invalid_argument);
    EXPECT_THROW(table.nearest(std::vector<uint32_t>(31, 0)), std::invalid_argument);
    EXPECT_THROW(table.nearest(big), std::invalid_argument);
    EXPECT_NO_THROW(table.nearest(query(65535)));
}

TEST(SpectralTable, IsRefreshedFromTheStoreWhileTheOldOneStaysInUse)
{
    vokid::MemoryStore store;
    vokid::SharedSpectralTable shared;
    const std::shared_ptr<const SpectralTable> before = shared.current();
    TrackInfo track = trackWith(0, flat(500));
    track.path = "/a";
    vokid::TrackPrint print;
    print.words.assign(256, 1);
    print.masks.assign(86, 0);
    print.quiet.assign(256, 0);
    {
        const auto batch = store.batch();
        batch->put(track, print, vokid::postingsOf(print, store.step()));
        batch->commit();
    }
    shared.refresh(store);
    EXPECT_EQ(0u, before->size());
    ASSERT_EQ(1u, shared.current()->size());
    EXPECT_EQ(1u, shared.current()->nearest(query(500))->track);
}

// Documents by the vok program of a file: FileFixed and FileFloat.
std::vector<uint32_t> vokValues(const std::string &algorithm, const std::string &file)
{
    const vok_test::RunResult run =
        vok_test::run_program(VOK_PROGRAM, {"-a", algorithm, "-f", file});
    EXPECT_EQ(0, run.exit_code) << run.err;
    const std::vector<vokid::Document> documents = vokid::readDocuments(run.out);
    EXPECT_EQ(1u, documents.size());
    return documents.empty() ? std::vector<uint32_t>() : documents[0].values;
}

TEST(SpectralTable, FindsTheTrackOfVoksDocumentsOfItsFile)
{
    vok_test::TempDir dir;
    vokid::MemoryStore store;
    const auto batch = store.batch();
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const std::string file = dir.file("piece-" + std::to_string(seed) + ".wav");
        vok_test::write_recording(file, 500 + seed, 20, 44100, 2);
        vokid::Indexable track = vokid::readTrack(vokid::trackFile(file));
        ASSERT_TRUE(track.info.values) << seed; // 20 s: enough sound for them
        batch->put(track.info, track.print, vokid::postingsOf(track.print, store.step()));
    }
    batch->commit();
    const std::string outside = dir.file("outside.wav");
    vok_test::write_recording(outside, 900, 20, 44100, 2);
    const SpectralTable table = SpectralTable::of(*store.view());
    ASSERT_EQ(4u, table.size());
    for (const char *algorithm : {"FileFixed", "FileFloat"}) {
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            const std::string file = dir.file("piece-" + std::to_string(seed) + ".wav");
            const auto found = table.nearest(vokValues(algorithm, file));
            ASSERT_TRUE(found) << algorithm << " " << seed;
            EXPECT_EQ(seed, found->track) << algorithm;
        }
        EXPECT_FALSE(table.nearest(vokValues(algorithm, outside))) << algorithm;
    }
}

} // namespace
