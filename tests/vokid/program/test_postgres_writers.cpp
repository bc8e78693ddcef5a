// The built vokid on an index in PostgreSQL with many writers: four adds
// at once with overlapping lists store each file once; an add killed
// mid-run loses only its open batch, and running it again completes the
// work; and vokid copy between an index folder and a database.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "tests/support/pg_cluster.h"
#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/index/postgres_stores.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

std::vector<std::string> recordings(const vok_test::TempDir &dir, size_t count, uint32_t seed)
{
    return vok_test::write_recordings(dir.file("r"), count, seed, 8, kRate);
}

// Each listed path, with how many tracks it has.
std::map<std::string, int> pathsIn(const std::string &db)
{
    const vok_test::RunResult run = vokid({"list", "--json", db});
    EXPECT_EQ(0, run.exit_code) << run.err;
    std::map<std::string, int> paths;
    for (const nlohmann::json &track : vokid_test::jsonLines(run))
        ++paths[track["path"].get<std::string>()];
    return paths;
}

// -1 before the tables are made.
long tracksIn(const std::string &database)
{
    try {
        return std::stol(
            vok_test::shared_cluster().query(database, "SELECT count(*) FROM vokid.tracks"));
    } catch (const std::runtime_error &) {
        return -1;
    }
}

// "3 added, 0 replaced, 2 unchanged, ..." -> 3
int addedIn(const std::string &summary)
{
    return std::atoi(summary.c_str());
}

TEST(VokidPostgresWriters, FourAtOnceStoreEachFileOnce)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = recordings(dir, 12, 900);
    const std::string uri = vokid_test::newDatabase();
    ASSERT_EQ(0, vokid({"add", uri, files[0]}).exit_code); // the tables made before the race
    // Writer w has files 3w .. 3w+5 (with those of the next writer), in
    // its own order: every file but the first two in two lists.
    std::vector<std::vector<std::string>> lists(4);
    for (size_t w = 0; w < 4; ++w) {
        lists[w] = {"add", "--batch", "2", "--jobs", "1", uri};
        for (size_t k = 0; k < 6; ++k)
            lists[w].push_back(files[(3 * w + (w % 2 ? 5 - k : k)) % files.size()]);
    }
    std::vector<vok_test::RunResult> runs(4);
    std::vector<std::thread> writers;
    for (size_t w = 0; w < 4; ++w)
        writers.emplace_back([&, w] { runs[w] = vokid(lists[w]); });
    for (std::thread &writer : writers)
        writer.join();
    int added = 0;
    for (const vok_test::RunResult &run : runs) {
        EXPECT_EQ(0, run.exit_code) << run.err;
        added += addedIn(run.out);
    }
    EXPECT_EQ(11, added);
    const std::map<std::string, int> paths = pathsIn(uri);
    EXPECT_EQ(12u, paths.size());
    for (const std::string &file : files)
        EXPECT_EQ(1, paths.count(file) ? paths.at(file) : 0) << file;
}

TEST(VokidPostgresWriters, AKilledAddLosesOnlyItsBatch)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = recordings(dir, 10, 950);
    const std::string name = vokid_test::newDatabaseName();
    const std::string uri = vok_test::shared_cluster().uri(name);
    std::vector<std::string> args = {"add", "--batch", "2", "--jobs", "1", uri};
    args.insert(args.end(), files.begin(), files.end());
    long atKill = -1;
    vok_test::RunOptions options;
    options.while_running = [&](pid_t pid) {
        // Killed once two batches are in: a third is open, or about to be.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((atKill = tracksIn(name)) < 4 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, SIGKILL);
        atKill = tracksIn(name);
    };
    const vok_test::RunResult killed = vok_test::run_program(VOKID_PROGRAM, args, options);
    ASSERT_EQ(SIGKILL, killed.signal) << killed.err;
    ASSERT_GE(atKill, 4);
    ASSERT_LT(atKill, 10) << "the add ended before it was killed";
    EXPECT_EQ(0, atKill % 2) << "a batch of two was committed in part";
    EXPECT_EQ(atKill, tracksIn(name));
    const vok_test::RunResult again = vokid(args);
    ASSERT_EQ(0, again.exit_code) << again.err;
    EXPECT_EQ(std::to_string(10 - atKill) + " added, 0 replaced, " + std::to_string(atKill) +
                  " unchanged, 0 failed",
              again.out.substr(0, again.out.find(" (")));
    const std::map<std::string, int> paths = pathsIn(uri);
    EXPECT_EQ(10u, paths.size());
    for (const auto &[path, count] : paths)
        EXPECT_EQ(1, count) << path;
}

TEST(VokidPostgresWriters, CopiesBetweenAFolderAndADatabase)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = recordings(dir, 3, 980);
    const std::vector<int16_t> music = vok_test::recording(981, 8, kRate, 1);
    const std::string clip = dir.file("clip.wav");
    vok_test::write_wav(clip, 1, 1, kRate, 16,
                        vok_test::pcm16(std::vector<int16_t>(music.begin() + kRate,
                                                             music.begin() + 7 * kRate)));
    const std::string folder = dir.file("index"), back = dir.file("back");
    const std::string uri = vokid_test::newDatabase();
    ASSERT_EQ(0, vokid({"add", folder, files[0], files[1], files[2]}).exit_code);
    ASSERT_EQ(0, vokid({"remove", folder, "1"}).exit_code); // ids kept: 2 and 3
    const struct {
        std::string from, to;
        std::string summary;
    } copies[] = {
        {folder, uri, "copied 2 tracks from " + folder + " to " + uri + "; " + uri +
                          " holds 2 tracks, 0.00 h\n"},
        {uri, back, "copied 2 tracks from " + uri + " to " + back + "; " + back +
                        " holds 2 tracks, 0.00 h\n"},
        {folder, uri, "copied 0 tracks from " + folder + " to " + uri + " (2 there already); " +
                          uri + " holds 2 tracks, 0.00 h\n"},
    };
    for (const auto &c : copies) {
        const vok_test::RunResult run = vokid({"copy", c.from, c.to});
        EXPECT_EQ(0, run.exit_code) << run.err;
        EXPECT_EQ(c.summary, run.out);
    }
    // The same tracks, ids and answers in all three.
    const std::string listed = vokid({"list", "--json", folder}).out;
    const std::string answer = vokid({"identify", "--json", folder, clip}).out;
    EXPECT_EQ(2, vokid_test::jsonOf(vokid({"identify", "--json", folder, clip}))["match"]["track"]);
    for (const std::string &db : {uri, back}) {
        EXPECT_EQ(listed, vokid({"list", "--json", db}).out) << db;
        EXPECT_EQ(answer, vokid({"identify", "--json", db, clip}).out) << db;
    }
    // A new track in the database, then copied back: the folder has
    // another file under its id, and is refused without a change.
    ASSERT_EQ(0, vokid({"add", folder, files[0]}).exit_code); // id 4 in the folder
    const std::string other = dir.file("other.wav");
    vok_test::write_recording(other, 990, 8, kRate, 1);
    ASSERT_EQ(0, vokid({"add", uri, other}).exit_code); // id 4 in the database
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string err;
    } refusals[] = {
        {{"copy", uri, folder}, 1,
         "vokid: " + folder + ": the destination holds another file under the id of track 4 (" +
             other + "): " + files[0] + "\n"},
        {{"copy", uri, uri}, 2, "vokid: " + uri + ": is the index copied: give another destination\n"},
        {{"copy", dir.file("none"), uri}, 1,
         "vokid: " + dir.file("none") + ": no vokid index here (vokid add creates one)\n"},
    };
    for (const auto &r : refusals) {
        const vok_test::RunResult run = vokid(r.args);
        EXPECT_EQ(r.exit, run.exit_code) << r.args[1];
        EXPECT_EQ(r.err, run.err);
    }
    EXPECT_EQ(3u, pathsIn(folder).size());
}

} // namespace
