// Backup and compact: a backup taken while another process adds is a
// complete index of a committed state, counting its commits; compact gives
// the free pages back while a writer and a reader go on, each reopening
// the new data file, nothing committed lost; --into writes the copy
// elsewhere and leaves the index as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/vokid/integrity/index_files.h"
#include "vokid/index/index_store.h"
#include "vokid/index/open_store.h"
#include "vokid/index/postings.h"

namespace {

namespace fs = std::filesystem;
using namespace integrity_test;

nlohmann::json statsOf(const std::string &db)
{
    const vok_test::RunResult stats = runVokid({"stats", "--json", db});
    EXPECT_EQ(0, stats.exit_code) << stats.err;
    return stats.exit_code == 0 ? nlohmann::json::parse(stats.out) : nlohmann::json();
}

// The index's record of its commits agrees with its header.
void expectCountedCommits(const std::string &db)
{
    EXPECT_EQ(little_endian(headerCommits(db), 8), readRecords(db).info.at("commits")) << db;
}

TEST(VokidBackup, ACopyOfACommittedStateWhileAnotherProcessAdds)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 24, 20);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid({"add", db, files[0]}).exit_code);
    std::vector<std::string> backups;
    vok_test::RunOptions options;
    options.while_running = [&](pid_t) {
        for (int i = 0; i < 4; ++i) {
            backups.push_back(dir.file("backup" + std::to_string(i)));
            const vok_test::RunResult made = runVokid({"backup", db, backups.back()});
            EXPECT_EQ(0, made.exit_code) << made.err;
            EXPECT_EQ(0u, made.out.find("backed up " + db + " to " + backups.back() + ": "))
                << made.out;
            // Its header and data file, and nothing else until it is opened.
            EXPECT_EQ(std::set<std::string>({"data.mdb", "vokid-index"}),
                      vok_test::folder_entries(backups.back()));
        }
    };
    const std::vector<std::string> rest(files.begin() + 1, files.end());
    const vok_test::RunResult added = vok_test::run_program(
        VOKID_PROGRAM, args({"add", "-j", "1", "--batch", "1", db}, rest), options);
    ASSERT_EQ(0, added.exit_code) << added.err;
    const std::string all = runVokid({"list", db}).out;
    for (const std::string &backup : backups) {
        // The first tracks the add committed, each as the index holds it.
        const std::string listed = runVokid({"list", backup}).out;
        EXPECT_GE(lines(listed), 1u);
        EXPECT_EQ(all.substr(0, listed.size()), listed) << backup;
        expectCountedCommits(backup);
        EXPECT_EQ(0u, statsOf(backup)["store"]["free_pages"].get<uint64_t>()) << backup;
        const vok_test::RunResult found = runVokid({"identify", backup, files[0]});
        EXPECT_EQ(0, found.exit_code) << found.err;
        EXPECT_NE(std::string::npos, found.out.find("track 1 at"));
    }
    // A backup written over what exists is refused, and changes nothing.
    const std::string before = vok_test::read_file(backups[0] + "/data.mdb");
    const vok_test::RunResult over = runVokid({"backup", db, backups[0]});
    EXPECT_EQ(1, over.exit_code);
    EXPECT_EQ("vokid: " + db + ": " + backups[0] + " exists (the copy is written to a new folder)\n",
              over.err);
    EXPECT_EQ(before, vok_test::read_file(backups[0] + "/data.mdb"));
    // A backup that is the index again, restored in its place.
    const std::string restored = dir.file("restored");
    ASSERT_EQ(0, runVokid({"backup", db, restored}).exit_code);
    EXPECT_EQ(all, runVokid({"list", restored}).out);
    EXPECT_EQ(0, runVokid({"add", restored, files[0]}).exit_code); // it is written as any index
    expectCountedCommits(restored);
}

TEST(VokidCompact, FreePagesGivenBackWhileAWriterAndAReaderGoOn)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 30, 20);
    const std::string db = dir.file("index");
    const std::vector<std::string> first(files.begin(), files.begin() + 10);
    ASSERT_EQ(0, runVokid(args({"add", "--batch", "1", db}, first)).exit_code);
    ASSERT_EQ(0, runVokid({"remove", db, "2", "3", "4"}).exit_code);
    EXPECT_GT(statsOf(db)["store"]["free_pages"].get<uint64_t>(), 0u);

    // A reader of many clips and a writer of many tracks, in processes of
    // their own, while compact runs twice.
    std::vector<std::string> clips;
    for (int i = 0; i < 60; ++i)
        clips.push_back(files[i % 2 == 0 ? 0 : 9]);
    vok_test::RunResult identified;
    vok_test::RunOptions writing;
    writing.while_running = [&](pid_t) {
        vok_test::RunOptions reading;
        reading.while_running = [&](pid_t) {
            for (int i = 0; i < 2; ++i) {
                const vok_test::RunResult compacted = runVokid({"compact", db});
                EXPECT_EQ(0, compacted.exit_code) << compacted.err;
                EXPECT_EQ(0u, compacted.out.find("compacted " + db + ": ")) << compacted.out;
            }
        };
        identified = vok_test::run_program(VOKID_PROGRAM, args({"identify", db}, clips), reading);
    };
    const std::vector<std::string> rest(files.begin() + 10, files.end());
    const vok_test::RunResult added = vok_test::run_program(
        VOKID_PROGRAM, args({"add", "-j", "1", "--batch", "1", db}, rest), writing);
    EXPECT_EQ(0, added.exit_code) << added.err;
    EXPECT_EQ("20 added, 0 replaced, 0 unchanged, 0 failed",
              added.out.substr(0, added.out.find(" (")));
    EXPECT_EQ(0, identified.exit_code) << identified.err;
    ASSERT_EQ(clips.size(), lines(identified.out));
    std::istringstream answers(identified.out);
    std::string answer;
    for (size_t i = 0; std::getline(answers, answer); ++i)
        EXPECT_NE(std::string::npos, answer.find(i % 2 == 0 ? "track 1 at" : "track 10 at"))
            << answer;
    EXPECT_EQ(27u, lines(runVokid({"list", db}).out)); // nothing committed lost
    expectCountedCommits(db);

    // Compact with nothing else running: no free page left, the index the same.
    const std::string listed = runVokid({"list", "--json", db}).out;
    const uint64_t commits = headerCommits(db);
    ASSERT_EQ(0, runVokid({"compact", db}).exit_code);
    EXPECT_EQ(0u, statsOf(db)["store"]["free_pages"].get<uint64_t>());
    EXPECT_EQ(listed, runVokid({"list", "--json", db}).out);
    EXPECT_EQ(commits, headerCommits(db)); // the counter copied, not restarted
    expectCountedCommits(db);
    EXPECT_EQ(std::set<std::string>({"data.mdb", "lock.mdb", "vokid-index", "vokid-reserve"}),
              vok_test::folder_entries(db));
}

TEST(VokidCompact, IntoAnotherFolderLeavingTheIndexAsItIs)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 4, 12);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid(args({"add", "--batch", "1", db}, files)).exit_code);
    ASSERT_EQ(0, runVokid({"remove", db, "1"}).exit_code);
    const std::string before = vok_test::read_file(db + "/data.mdb");
    const std::string into = dir.file("into");
    const vok_test::RunResult compacted = runVokid({"compact", db, "--into", into});
    ASSERT_EQ(0, compacted.exit_code) << compacted.err;
    EXPECT_NE(std::string::npos, compacted.out.find(db + " is as it was")) << compacted.out;
    EXPECT_EQ(before, vok_test::read_file(db + "/data.mdb"));
    EXPECT_EQ(runVokid({"list", "--json", db}).out, runVokid({"list", "--json", into}).out);
    EXPECT_EQ(headerCommits(db), headerCommits(into));
    EXPECT_LT(fs::file_size(into + "/data.mdb"), before.size());
    // Not over something that exists.
    const vok_test::RunResult again = runVokid({"compact", db, "--into", into});
    EXPECT_EQ(1, again.exit_code);
    EXPECT_EQ("vokid: " + db + ": " + into + " exists (the copy is written to a new folder)\n",
              again.err);
}

uint64_t factOf(const vokid::StoreStats &stats, const std::string &key)
{
    for (const vokid::StoreFact &fact : stats.facts)
        if (fact.key == key)
            return fact.value;
    ADD_FAILURE() << "no fact " << key;
    return 0;
}

// A store kept open in this process while compact runs in another: a view
// open across it reads its snapshot to the end; the next views and batches
// open the new data file.
TEST(VokidCompact, AStoreKeptOpenReopensTheNewDataFile)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 5, 12);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid(args({"add", "--batch", "1", db}, files)).exit_code);
    ASSERT_EQ(0, runVokid({"remove", db, "2"}).exit_code);
    const auto store = vokid::openStore(db, vokid::StoreAccess::Update);
    auto before = store->view();
    EXPECT_GT(factOf(before->stats(), "free_pages"), 0u);
    const vok_test::RunResult compacted = runVokid({"compact", db});
    ASSERT_EQ(0, compacted.exit_code) << compacted.err;
    EXPECT_EQ(4u, before->tracks().size()); // its snapshot, to the end
    EXPECT_GT(factOf(before->stats(), "free_pages"), 0u);
    before.reset();
    const vokid::StoreStats after = store->view()->stats();
    EXPECT_EQ(0u, factOf(after, "free_pages"));
    EXPECT_EQ(fs::file_size(db + "/data.mdb"), factOf(after, "data_file_bytes"));
    // A batch writes to the new data file.
    {
        const auto batch = store->batch();
        EXPECT_TRUE(batch->remove(3));
        batch->commit();
    }
    EXPECT_EQ(3u, lines(runVokid({"list", db}).out));
    EXPECT_EQ(3u, store->view()->tracks().size());
    expectCountedCommits(db);
}

// Compact killed at each system call by which it changes the folder (the
// strace program counts each call on its own; a count past the last lets
// it finish): the index reads as before, takes an add, and the next
// compact clears what the stopped one left.
TEST(VokidCompactSlow, ACompactKilledAtEachStepLeavesTheIndexWhole)
{
    if (!haveStrace())
        GTEST_SKIP() << "the strace program is needed to stop vokid at each system call";
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 4, 12);
    const std::string db = dir.file("index");
    const std::vector<std::string> three(files.begin(), files.begin() + 3);
    ASSERT_EQ(0, runVokid(args({"add", "--batch", "1", db}, three)).exit_code);
    ASSERT_EQ(0, runVokid({"remove", db, "2"}).exit_code);
    const std::string listed = runVokid({"list", "--json", db}).out;
    int made = 0;
    for (const char *call : {"mkdir", "pwrite64", "fdatasync", "fsync", "rename", "unlink",
                             "rmdir"})
        for (int time = 1; time <= 3; ++time) {
            const std::string step = std::string(call) + " " + std::to_string(time);
            const std::string copy = dir.file("killed-" + std::to_string(++made));
            fs::copy(db, copy);
            runVokidStopped(call, "signal=SIGKILL", time, {"compact", copy});
            EXPECT_EQ(listed, runVokid({"list", "--json", copy}).out) << step;
            EXPECT_EQ(0, runVokid({"stats", copy}).exit_code) << step;
            expectCountedCommits(copy);
            const vok_test::RunResult added = runVokid({"add", copy, files[3]});
            EXPECT_EQ(0, added.exit_code) << step << ": " << added.err;
            EXPECT_EQ(0, runVokid({"compact", copy}).exit_code) << step;
            EXPECT_EQ(std::set<std::string>(
                          {"data.mdb", "lock.mdb", "vokid-index", "vokid-reserve"}),
                      vok_test::folder_entries(copy))
                << step;
            EXPECT_EQ(3u, lines(runVokid({"list", copy}).out)) << step;
        }
}

} // namespace
