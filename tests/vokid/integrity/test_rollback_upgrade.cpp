// The index's own commit counter against a store that opens older than it
// (its older meta page made the newest, an older data file put back, a
// header that counts more), a store of a newer format, and the upgrade of
// a version-1 index (made here from a version-2 one with LMDB itself): read
// as it is, written only once upgraded, its records then checksummed, and
// an interrupted upgrade leaving it as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <tuple>

#include "tests/vokid/integrity/index_files.h"

namespace {

namespace fs = std::filesystem;
using namespace integrity_test;

// The store's files, to see that a refused command changed none.
std::string storeFiles(const std::string &db)
{
    return vok_test::read_file(db + "/vokid-index") + vok_test::read_file(db + "/data.mdb");
}

// Every command on the index, reading and writing.
std::vector<std::vector<std::string>> everyCommand(const std::string &db, const std::string &file,
                                                   const std::string &dest)
{
    return {{"list", db},         {"stats", db},   {"identify", db, file},
            {"add", db, file},    {"remove", db, "1"}, {"compact", db},
            {"backup", db, dest}, {"upgrade", db}};
}

TEST(VokidCommitCounter, AnIndexOlderThanItsLastCommitIsRefused)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 3, 12);
    const std::string base = dir.file("base");
    ASSERT_EQ(0, runVokid({"add", base, files[0]}).exit_code);
    const std::string olderData = vok_test::read_file(base + "/data.mdb");
    ASSERT_EQ(0, runVokid({"add", base, files[1]}).exit_code);
    ASSERT_EQ(3u, headerCommits(base)); // made, then two adds

    const struct {
        const char *name;
        std::function<void(const std::string &)> rollBack;
        uint64_t stored;
        uint64_t counted;
    } cases[] = {
        {"the older meta page made the newest", makeOlderMetaPageNewest, 2, 3},
        {"an older data file put back",
         [&](const std::string &db) {
             vok_test::write_file(db + "/data.mdb",
                                  vok_test::Bytes(olderData.begin(), olderData.end()));
         },
         2, 3},
        {"a header that counts more",
         [](const std::string &db) {
             const std::string header = headerBytes(2, 9);
             vok_test::write_file(db + "/vokid-index",
                                  vok_test::Bytes(header.begin(), header.end()));
         },
         3, 9},
    };
    int made = 0;
    for (const auto &c : cases) {
        const std::string db = dir.file("db" + std::to_string(++made));
        fs::copy(base, db);
        c.rollBack(db);
        const std::string before = storeFiles(db);
        const std::string dest = dir.file("backup" + std::to_string(made));
        for (const auto &run : everyCommand(db, files[2], dest)) {
            const vok_test::RunResult result = runVokid(run);
            EXPECT_EQ(1, result.exit_code) << c.name << ": " << run[0];
            EXPECT_EQ("", result.out) << c.name << ": " << run[0];
            const std::string expected =
                "vokid: " + db + ": the index is older than its last commit (its store holds " +
                std::to_string(c.stored) + " commits, its header counts " +
                std::to_string(c.counted) + "): it was rolled back or replaced by an older copy; "
                "vokid check " + db + " examines it, and a backup restores it\n";
            EXPECT_EQ(expected, result.err) << c.name << ": " << run[0];
        }
        EXPECT_EQ(before, storeFiles(db)) << c.name; // no write ran
        EXPECT_FALSE(fs::exists(dest)) << c.name;
    }
}

TEST(VokidFormatVersion, AStoreOfANewerFormatIsRefused)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 1, 12);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid({"add", db, files[0]}).exit_code);
    putInfoRecord(db, "format", little_endian(5, 4));
    const std::string before = storeFiles(db);
    for (const auto &run : everyCommand(db, files[0], dir.file("dest"))) {
        const vok_test::RunResult result = runVokid(run);
        EXPECT_EQ(1, result.exit_code) << run[0];
        EXPECT_EQ("vokid: " + db + ": the index's store has format version 5, this vokid reads "
                  "versions 1 to 4 (a newer vokid made it)\n",
                  result.err)
            << run[0];
    }
    EXPECT_EQ(before, storeFiles(db));
}

// An index of three tracks as vokid wrote it before checksums, and what
// its reading commands answered before it was made so.
struct Version1 {
    std::vector<std::string> files;
    std::string db;
    std::string listed;
    std::string found;
};

Version1 makeIndex(const vok_test::TempDir &dir, const std::string &name)
{
    Version1 made;
    made.files = library(dir, 4, 12);
    made.db = dir.file(name);
    const std::vector<std::string> three(made.files.begin(), made.files.begin() + 3);
    EXPECT_EQ(0, runVokid(args({"add", made.db}, three)).exit_code);
    made.listed = runVokid({"list", "--json", made.db}).out;
    made.found = runVokid({"identify", made.db, made.files[1]}).out;
    makeVersion1(made.db);
    return made;
}

// Each track record and sequence ends with the CRC-32 of its id and the
// bytes before it.
void expectChecksummed(const std::string &db, size_t tracks)
{
    const StoredRecords records = readRecords(db);
    EXPECT_EQ(tracks, records.tracks.size());
    EXPECT_EQ(tracks, records.sequences.size());
    for (const auto *table : {&records.tracks, &records.sequences})
        for (const auto &[id, bytes] : *table) {
            ASSERT_GT(bytes.size(), 4u);
            const std::string fields = bytes.substr(0, bytes.size() - 4);
            EXPECT_EQ(little_endian(bitwise_crc32(little_endian(id, 4) + fields), 4),
                      bytes.substr(fields.size()))
                << id;
        }
    EXPECT_EQ(little_endian(4, 4), records.info.at("format"));
    EXPECT_EQ(little_endian(headerCommits(db), 8), records.info.at("commits"));
}

TEST(VokidUpgrade, AVersion1IndexIsReadAsItIsAndConvertedByUpgradeOrItsFirstWrite)
{
    vok_test::TempDir dir;
    const Version1 old = makeIndex(dir, "index");
    ASSERT_EQ(headerBytes(1, 0), vok_test::read_file(old.db + "/vokid-index"));
    const std::string before = storeFiles(old.db);
    // Read as it is, and left as it is.
    EXPECT_EQ(old.listed, runVokid({"list", "--json", old.db}).out);
    EXPECT_EQ(old.found, runVokid({"identify", old.db, old.files[1]}).out);
    EXPECT_EQ(0, runVokid({"stats", old.db}).exit_code);
    EXPECT_EQ(before, storeFiles(old.db));

    const vok_test::RunResult upgraded = runVokid({"upgrade", old.db});
    ASSERT_EQ(0, upgraded.exit_code) << upgraded.err;
    // Its 12-second files hold too little sound for FileFloat values.
    const std::string none = "values: 0 tracks given their file's FileFloat values, 3 could not be "
                             "(file gone or changed, or too little audio in it)\n";
    EXPECT_EQ("upgraded " + old.db + " to format version 4 (3 tracks)\n" + none, upgraded.out);
    EXPECT_EQ(4u, headerVersion(old.db));
    EXPECT_EQ(1u, headerCommits(old.db)); // the upgrade is its first counted commit
    expectChecksummed(old.db, 3);
    EXPECT_EQ(std::set<std::string>({"data.mdb", "lock.mdb", "vokid-index", "vokid-reserve"}),
              vok_test::folder_entries(old.db));
    EXPECT_EQ(old.listed, runVokid({"list", "--json", old.db}).out);
    EXPECT_EQ(old.found, runVokid({"identify", old.db, old.files[1]}).out);

    const vok_test::RunResult again = runVokid({"upgrade", old.db});
    EXPECT_EQ(0, again.exit_code);
    EXPECT_EQ(old.db + " has format version 4 already (3 tracks)\n" + none, again.out);
    ASSERT_EQ(0, runVokid({"add", old.db, old.files[3]}).exit_code);
    EXPECT_EQ(2u, headerCommits(old.db));
    expectChecksummed(old.db, 4);

    // Without upgrade, each command that writes converts it first, saying so.
    for (const auto &[name, write, tracks] :
         std::vector<std::tuple<std::string, std::vector<std::string>, size_t>>{
             {"add", {"add", "", old.files[3]}, 4}, {"remove", {"remove", "", "1"}, 2}}) {
        const Version1 other = makeIndex(dir, "by-" + name);
        std::vector<std::string> args = write;
        args[1] = other.db;
        const vok_test::RunResult result = runVokid(args);
        EXPECT_EQ(0, result.exit_code) << name << ": " << result.err;
        EXPECT_EQ("vokid: " + other.db +
                      ": converting the index to format version 4 before writing to it\n",
                  result.err)
            << name;
        EXPECT_EQ(4u, headerVersion(other.db)) << name;
        EXPECT_EQ(2u, headerCommits(other.db)) << name; // the conversion, then the write
        expectChecksummed(other.db, tracks);
    }
}

// What an upgrade stopped at any point leaves: the old index as it was
// (a copy beside it, cleared by the next upgrade), or the new store
// renamed in under a header still of version 1, which the next command
// that writes brings up. Either reads as before.
TEST(VokidUpgradeSlow, AnInterruptedUpgradeLeavesAnIndexThatReadsAsBefore)
{
    vok_test::TempDir dir;
    const Version1 old = makeIndex(dir, "index");
    const std::string db = old.db;

    // Killed at each system call by which it changes the folder (the
    // strace program counts each call on its own; a count past the last
    // lets the upgrade finish).
    const bool strace = haveStrace();
    if (!strace)
        std::cerr << "the strace program is needed to stop vokid at each system call\n";
    std::vector<const char *> calls = {"mkdir",  "pwrite64", "fdatasync", "fsync",
                                       "rename", "unlink",   "rmdir",     "write"};
    if (!strace)
        calls.clear();
    std::set<uint32_t> versions;
    int made = 0;
    for (const char *call : calls)
        for (int time = 1; time <= 3; ++time) {
            const std::string step = std::string(call) + " " + std::to_string(time);
            const std::string copy = dir.file("killed-" + std::to_string(++made));
            fs::copy(db, copy);
            runVokidStopped(call, "signal=SIGKILL", time, {"upgrade", copy});
            versions.insert(headerVersion(copy));
            EXPECT_EQ(old.listed, runVokid({"list", "--json", copy}).out) << step;
            const vok_test::RunResult finished = runVokid({"upgrade", copy});
            EXPECT_EQ(0, finished.exit_code) << step << ": " << finished.err;
            EXPECT_FALSE(fs::exists(copy + "/vokid-copy.tmp")) << step;
            expectChecksummed(copy, 3);
            EXPECT_EQ(old.listed, runVokid({"list", "--json", copy}).out) << step;
        }
    if (strace) { // stopped before, and finished
        EXPECT_EQ(std::set<uint32_t>({1, 4}), versions);
    }

}

// An upgrade stopped after its copy was written (before it was renamed
// in), and one stopped after the rename (before the header was written).
TEST(VokidUpgrade, WhatAStoppedUpgradeLeftIsClearedOrBroughtUp)
{
    vok_test::TempDir dir;
    const Version1 old = makeIndex(dir, "index");
    const std::string db = old.db;

    // Stopped after the copy was written, before it was renamed in.
    const std::string left = dir.file("left");
    fs::copy(db, left);
    fs::create_directory(left + "/vokid-copy.tmp");
    fs::copy(db + "/data.mdb", left + "/vokid-copy.tmp/data.mdb");
    EXPECT_EQ(old.listed, runVokid({"list", "--json", left}).out);
    EXPECT_EQ(0, runVokid({"upgrade", left}).exit_code);
    EXPECT_FALSE(fs::exists(left + "/vokid-copy.tmp"));
    expectChecksummed(left, 3);

    // Stopped after the rename, before the header was written.
    const std::string renamed = dir.file("renamed");
    fs::copy(db, renamed);
    ASSERT_EQ(0, runVokid({"upgrade", renamed}).exit_code);
    const std::string header = headerBytes(1, 0);
    vok_test::write_file(renamed + "/vokid-index", vok_test::Bytes(header.begin(), header.end()));
    EXPECT_EQ(old.listed, runVokid({"list", "--json", renamed}).out);
    EXPECT_EQ(1u, headerVersion(renamed)); // a reader writes nothing
    ASSERT_EQ(0, runVokid({"add", renamed, old.files[3]}).exit_code);
    EXPECT_EQ(4u, headerVersion(renamed));
    EXPECT_EQ(2u, headerCommits(renamed));
    expectChecksummed(renamed, 4);
}

// Tracks of an older index given their FileFloat values by upgrade from
// their files, where each is still there and unchanged: the others are
// counted, and a later upgrade gives the values to none of them again.
TEST(VokidUpgrade, GivesTracksTheValuesOfTheirUnchangedFiles)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 4, 20); // enough sound for values
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid(args({"add", db}, files)).exit_code);
    const auto valuesHeld = [&db] {
        const std::string out = runVokid({"stats", db}).out;
        const std::string label = "tracks with FileFloat values: ";
        const size_t at = out.find(label);
        return at == std::string::npos ? std::string("?")
                                       : out.substr(at + label.size(), out.find('\n', at) -
                                                                           at - label.size());
    };
    EXPECT_EQ("4", valuesHeld());
    makeVersion1(db); // the records as they were before values
    EXPECT_EQ("0", valuesHeld());
    fs::remove(files[1]);                                  // gone
    fs::last_write_time(files[2], fs::file_time_type::clock::now()); // changed
    const std::string counted = "values: 2 tracks given their file's FileFloat values, 2 could "
                                "not be (file gone or changed, or too little audio in it)\n";
    const vok_test::RunResult upgraded = runVokid({"upgrade", db});
    EXPECT_EQ(0, upgraded.exit_code) << upgraded.err;
    EXPECT_EQ("upgraded " + db + " to format version 4 (4 tracks)\n" + counted, upgraded.out);
    EXPECT_EQ("", upgraded.err);
    EXPECT_EQ("2", valuesHeld());
    expectChecksummed(db, 4);
    EXPECT_EQ("ok\n", runVokid({"check", db}).out);
    const vok_test::RunResult again = runVokid({"upgrade", db});
    EXPECT_EQ(db + " has format version 4 already (4 tracks)\nvalues: 0 tracks given their "
                   "file's FileFloat values, 2 could not be (file gone or changed, or too "
                   "little audio in it)\n",
              again.out);
}

// An index of format version 3 (sequences in the plain form, postings
// under their words): read as it is, and upgraded to the packed sequences
// and the postings by bucket with the same answers, in less room.
TEST(VokidUpgrade, AVersion3IndexIsReadAsItIsAndUpgradedToTheSmallerLayout)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 4, 12);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid(args({"add", db}, files)).exit_code);
    const std::string listed = runVokid({"list", "--json", db}).out;
    const std::string found = runVokid({"identify", "--json", db, files[2]}).out;
    makeOlderVersion(db, 3);
    ASSERT_EQ(3u, headerVersion(db));
    const uint64_t commits = headerCommits(db);
    const std::string before = storeFiles(db);
    EXPECT_EQ(listed, runVokid({"list", "--json", db}).out);
    EXPECT_EQ(found, runVokid({"identify", "--json", db, files[2]}).out);
    EXPECT_EQ("ok\n", runVokid({"check", db}).out);
    EXPECT_EQ(before, storeFiles(db));
    // The plain form: count, words, 86 masks a block, quiet bitmap, checksum.
    const std::string plain = readRecords(db).sequences.at(1);
    const size_t words = vok_test::read_little_endian(plain, 0, 4);
    const size_t plainBytes = plain.size();
    EXPECT_EQ(4 + 4 * words + 4 * 86 * words / 256 + words / 8 + 4, plainBytes);

    const vok_test::RunResult upgraded = runVokid({"upgrade", db});
    ASSERT_EQ(0, upgraded.exit_code) << upgraded.err;
    EXPECT_EQ(0u, upgraded.out.find("upgraded " + db + " to format version 4 (4 tracks)\n"));
    EXPECT_EQ(4u, headerVersion(db));
    EXPECT_EQ(commits + 1, headerCommits(db));
    expectChecksummed(db, 4);
    EXPECT_LT(readRecords(db).sequences.at(1).size() * 2, plainBytes);
    EXPECT_EQ(listed, runVokid({"list", "--json", db}).out);
    EXPECT_EQ(found, runVokid({"identify", "--json", db, files[2]}).out);
    EXPECT_EQ("ok\n", runVokid({"check", db}).out);
    // Its postings are written again in buckets: a removal and an add find them.
    ASSERT_EQ(0, runVokid({"remove", db, "3"}).exit_code);
    ASSERT_EQ(0, runVokid({"add", db, files[2]}).exit_code);
    EXPECT_EQ("ok\n", runVokid({"check", db}).out);
    EXPECT_NE(std::string::npos, runVokid({"identify", db, files[2]}).out.find(files[2]));
}

} // namespace
