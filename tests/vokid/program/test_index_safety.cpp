// The index when things go wrong: an add killed midway (nothing committed
// lost, nothing doubled when run again), readers while an add writes (each
// sees a committed state), and folders that are not indexes, or damaged
// ones, refused before the store is opened: nothing in them changes; a
// store named by a scheme not built in is refused by its name.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vokid;

constexpr uint32_t kRate = 11025;

std::vector<std::string> library(const vok_test::TempDir &dir, size_t count, double seconds)
{
    return vok_test::write_recordings(dir.file("track-"), count, 400, seconds, kRate);
}

std::vector<std::string> args(std::vector<std::string> head, const std::vector<std::string> &files)
{
    head.insert(head.end(), files.begin(), files.end());
    return head;
}

size_t lines(const std::string &text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(VokidIndexSafety, AnInterruptedAddLosesNothingCommitted)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 16, 30);
    const std::string db = dir.file("index");
    vok_test::RunOptions options;
    // Killed once two files are committed (a transaction each).
    options.while_running = [&](pid_t child) {
        for (int attempt = 0; attempt < 2000; ++attempt) {
            const vok_test::RunResult listed = vokid({"list", db});
            if (listed.exit_code == 0 && lines(listed.out) >= 2) {
                kill(child, SIGKILL);
                return;
            }
            usleep(5000);
        }
    };
    const vok_test::RunResult killed = vok_test::run_program(
        VOKID_PROGRAM, args({"add", "-j", "1", "--batch", "1", db}, files), options);
    const vok_test::RunResult stats = vokid({"stats", "--json", db});
    ASSERT_EQ(0, stats.exit_code) << stats.err; // postings and track records agree
    const int kept = vokid_test::jsonOf(stats)["tracks"];
    EXPECT_GE(kept, 2);
    if (killed.signal != SIGKILL)
        std::cerr << "the add ended before it could be killed\n";

    const vok_test::RunResult again = vokid(args({"add", db}, files));
    EXPECT_EQ(0, again.exit_code) << again.err;
    EXPECT_EQ(std::to_string(16 - kept) + " added, 0 replaced, " + std::to_string(kept) +
                  " unchanged, 0 failed",
              again.out.substr(0, again.out.find(" (")));
    std::set<std::string> paths;
    std::istringstream listed(vokid({"list", "--json", db}).out);
    std::string line;
    while (std::getline(listed, line))
        paths.insert(nlohmann::json::parse(line)["path"].get<std::string>());
    EXPECT_EQ(16u, paths.size());
    EXPECT_EQ(0, vokid({"stats", db}).exit_code);
}

TEST(VokidIndexSafety, ReadersSeeCommittedStatesWhileAnAddRuns)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 16, 60);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, vokid({"add", db, files[0]}).exit_code);
    const std::string clip = dir.file("clip.wav");
    const std::vector<int16_t> first = vok_test::recording(400, 16, kRate, 1);
    vok_test::write_wav(clip, 1, 1, kRate, 16,
                        vok_test::pcm16({first.begin() + 10 * kRate, first.begin() + 16 * kRate}));

    int readings = 0;
    vok_test::RunOptions options;
    options.while_running = [&](pid_t) {
        int tracks = 1;
        while (tracks < 16 && readings < 200) {
            ++readings;
            // One snapshot: the postings agree with the tracks' records
            // (stats fails when they do not), and tracks only grow.
            const vok_test::RunResult stats = vokid({"stats", "--json", db});
            ASSERT_EQ(0, stats.exit_code) << stats.err;
            const int now = vokid_test::jsonOf(stats)["tracks"];
            EXPECT_GE(now, tracks);
            tracks = now;
            const vok_test::RunResult found =
                vokid({"identify", "--as-played", "--json", db, clip});
            ASSERT_EQ(0, found.exit_code) << found.err;
            EXPECT_EQ(1, vokid_test::jsonOf(found)["match"]["track"]);
        }
    };
    const std::vector<std::string> rest(files.begin() + 1, files.end());
    const vok_test::RunResult added = vok_test::run_program(
        VOKID_PROGRAM, args({"add", "-j", "1", "--batch", "1", db}, rest), options);
    EXPECT_EQ(0, added.exit_code) << added.err;
    EXPECT_GT(readings, 0);
    EXPECT_EQ(16, vokid_test::jsonOf(vokid({"stats", "--json", db}))["tracks"]);
}

// A header written byte by byte, with its CRC-32 computed here.
std::string header(uint32_t version, uint64_t commits = 0)
{
    std::string bytes = "VOKIDIDX" + std::string(24, '\0');
    const auto put = [&](size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    put(8, version);
    put(12, 32);
    put(16, 3); // the step
    put(20, static_cast<uint32_t>(commits));
    put(24, static_cast<uint32_t>(commits >> 32));
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < 28; ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1u ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    put(28, ~crc);
    return bytes;
}

void writeText(const std::string &path, const std::string &text)
{
    vok_test::write_file(path, vok_test::Bytes(text.begin(), text.end()));
}

TEST(VokidIndexSafety, RefusesWhatIsNoIndexBeforeOpeningIt)
{
    namespace fs = std::filesystem;
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 1, 12);
    const std::string good = dir.file("good");
    ASSERT_EQ(0, vokid({"add", good, files[0]}).exit_code);
    // Made by one commit, added to by one.
    EXPECT_EQ(header(4, 2), vok_test::read_file(good + "/vokid-index"));
    const auto copyOfGood = [&](const std::string &name) {
        fs::copy(good, dir.file(name));
        fs::remove(dir.file(name) + "/lock.mdb"); // so that a store opened would show
        return dir.file(name);
    };

    const std::string foreign = dir.file("foreign");
    fs::create_directory(foreign);
    writeText(foreign + "/notes.txt", "mine");
    const std::string file = dir.file("file.txt");
    writeText(file, "not a folder");
    const std::string magic = copyOfGood("magic");
    writeText(magic + "/vokid-index", "VOKIDIDY" + header(3, 2).substr(8));
    const std::string version = copyOfGood("version");
    writeText(version + "/vokid-index", header(5, 2));
    const std::string truncated = copyOfGood("truncated");
    fs::resize_file(truncated + "/data.mdb", 3 * 4096);
    const std::string empty = dir.file("empty");
    fs::create_directory(empty);

    const struct {
        const char *name;
        std::string db;
        std::string cause;
        bool forAdd; // add refuses it too (an empty or missing folder it takes)
    } cases[] = {
        {"a foreign folder", foreign,
         "not a vokid index: the folder holds other files and no index header", true},
        {"a file", file, "not a vokid index: not a folder", true},
        {"a wrong magic", magic, "not a vokid index: its header file has the wrong magic", true},
        {"another format version", version,
         "the index has format version 5, this vokid reads versions 1 to 4 (a newer vokid made "
         "it)",
         true},
        {"a truncated data file", truncated,
         "the index is damaged: its data file is truncated: it has 12288 bytes, but its pages reach to byte ", true},
        {"an empty folder", empty, "no vokid index here (vokid add creates one)", false},
        {"no folder", dir.file("none"), "no vokid index here (vokid add creates one)", false},
        {"a store not built in", "vokid+tcp://localhost/music",
         "vokid+tcp:// indexes are not supported yet", true},
    };
    for (const auto &c : cases) {
        const std::set<std::string> before = fs::exists(c.db) && fs::is_directory(c.db)
                                                 ? vok_test::folder_entries(c.db)
                                                 : std::set<std::string>();
        std::vector<std::vector<std::string>> runs = {
            {"list", c.db}, {"identify", c.db, files[0]}, {"stats", c.db}, {"remove", c.db, "1"}};
        if (c.forAdd)
            runs.push_back({"add", c.db, files[0]});
        for (const auto &run : runs) {
            const vok_test::RunResult result = vokid(run);
            EXPECT_EQ(1, result.exit_code) << c.name << ": " << run[0];
            EXPECT_EQ("", result.out) << c.name;
            const std::string expected = "vokid: " + c.db + ": " + c.cause;
            EXPECT_EQ(expected, result.err.substr(0, expected.size())) << c.name << ": " << run[0];
            EXPECT_EQ('\n', result.err.back());
            EXPECT_EQ(1u, lines(result.err));
        }
        if (fs::exists(c.db) && fs::is_directory(c.db))
            EXPECT_EQ(before, vok_test::folder_entries(c.db)) << c.name;
        else
            EXPECT_EQ(c.db == file, fs::exists(c.db)) << c.name;
    }
    // An empty folder, or a missing one, is where add makes an index.
    EXPECT_EQ(0, vokid({"add", empty, files[0]}).exit_code);
    EXPECT_EQ(0, vokid({"add", dir.file("none"), files[0]}).exit_code);
    EXPECT_EQ(0, vokid({"list", empty}).exit_code);
}

} // namespace
