// Creating an index: what a creation stopped at each of its steps leaves
// (written here file by file, and left by creations killed at points
// through their run) is refused by readers, unchanged, and finished or
// cleared by the next add; any number of creators at once all succeed.
// Store files that are links, FIFOs or folders are refused before
// anything opens them, and the target of a link is never written; the
// index folder itself may be a link.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "tests/vokid/integrity/index_files.h"

namespace {

namespace fs = std::filesystem;
using namespace integrity_test;

const std::set<std::string> kIndexFiles = {"data.mdb", "lock.mdb", "vokid-index",
                                           "vokid-reserve"};

void writeText(const std::string &path, const std::string &text)
{
    vok_test::write_file(path, vok_test::Bytes(text.begin(), text.end()));
}

// The tracks `list` shows.
size_t listed(const std::string &db)
{
    const vok_test::RunResult result = runVokid({"list", db});
    EXPECT_EQ(0, result.exit_code) << result.err;
    return lines(result.out);
}

TEST(VokidCreation, WhatAStoppedCreationLeftIsFinishedByTheNextAdd)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 1, 12);
    const std::string whole = dir.file("whole");
    ASSERT_EQ(0, runVokid({"add", whole, files[0]}).exit_code);
    const std::string store = vok_test::read_file(whole + "/data.mdb");
    const std::string noIndex = "no vokid index here (vokid add creates one)";
    const std::string noData =
        "the index has no data file yet (its creation stopped): vokid add makes it";

    const struct {
        const char *name;
        std::map<std::string, std::string> files; // name: content
        std::string refusal;                      // what a reader says
    } cases[] = {
        {"the folder", {}, noIndex},
        {"the mark", {{"vokid-index.partial", headerBytes(2, 1)}}, noIndex},
        {"the mark, half written", {{"vokid-index.partial", headerBytes(2, 1).substr(0, 9)}},
         noIndex},
        {"an empty data file", {{"vokid-index.partial", headerBytes(2, 1)}, {"data.mdb", ""}},
         noIndex},
        {"the store", {{"vokid-index.partial", headerBytes(2, 1)}, {"data.mdb", store}}, noIndex},
        {"the reserve begun",
         {{"vokid-index.partial", headerBytes(2, 1)},
          {"data.mdb", store},
          {"vokid-reserve.new", std::string(100, '\0')}},
         noIndex},
        {"an older vokid's header and empty data file",
         {{"vokid-index", headerBytes(1, 0)}, {"data.mdb", ""}}, noData},
        {"a header counting no commit", {{"vokid-index", headerBytes(2, 0)}}, noData},
    };
    int made = 0;
    for (const auto &c : cases) {
        const std::string db = dir.file("db" + std::to_string(++made));
        fs::create_directory(db);
        for (const auto &[name, content] : c.files)
            writeText(db + "/" + name, content);
        const std::set<std::string> before = vok_test::folder_entries(db);
        for (const char *command : {"list", "stats"}) {
            const vok_test::RunResult read = runVokid({command, db});
            EXPECT_EQ(1, read.exit_code) << c.name;
            EXPECT_EQ("vokid: " + db + ": " + c.refusal + "\n", read.err) << c.name;
        }
        EXPECT_EQ(before, vok_test::folder_entries(db)) << c.name;
        const vok_test::RunResult added = runVokid({"add", db, files[0]});
        EXPECT_EQ(0, added.exit_code) << c.name << ": " << added.err;
        EXPECT_EQ(kIndexFiles, vok_test::folder_entries(db)) << c.name;
        EXPECT_EQ(1u, listed(db)) << c.name;
        EXPECT_EQ(2u, headerCommits(db)) << c.name;
    }
}

// The system calls by which a creation changes the folder, each with the
// number of times it makes it: the strace program kills vokid at one of
// them, or makes it fail with EIO (strace counts each call on its own).
const std::pair<const char *, int> kCreationSteps[] = {
    {"mkdir", 1},  {"flock", 1},     {"unlink", 2},    {"write", 1},     {"fsync", 3},
    {"ftruncate", 1}, {"pwrite64", 3}, {"fdatasync", 2}, {"fallocate", 1}, {"rename", 2}};

TEST(VokidCreationSlow, ACreationStoppedAtEachStepIsFinishedByTheNextAdd)
{
    if (!haveStrace())
        GTEST_SKIP() << "the strace program is needed to stop vokid at each system call";
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 1, 6);
    std::set<std::set<std::string>> left; // the folders the stops left
    int made = 0;
    for (const std::string how : {"signal=SIGKILL", "error=EIO"})
        for (const auto &[call, times] : kCreationSteps)
            for (int time = 1; time <= times; ++time) {
                const std::string step = how + " at " + call + " " + std::to_string(time);
                const std::string db = dir.file("db" + std::to_string(++made));
                const vok_test::RunResult stopped = runVokidStopped(call, how, time, {"add", db, files[0]});
                if (how == "error=EIO" && stopped.exit_code != 0) {
                    EXPECT_EQ(1u, lines(stopped.err)) << step << ": " << stopped.err;
                    EXPECT_EQ(0u, stopped.err.find("vokid: " + db + ": ")) << step;
                }
                left.insert(fs::exists(db) ? vok_test::folder_entries(db)
                                           : std::set<std::string>());
                // A reader sees the index, or none, and changes nothing.
                const vok_test::RunResult read = runVokid({"list", db});
                EXPECT_TRUE(read.exit_code == 0 ||
                            read.err == "vokid: " + db +
                                            ": no vokid index here (vokid add creates one)\n")
                    << step << ": " << read.err;
                const vok_test::RunResult again = runVokid({"add", db, files[0]});
                EXPECT_EQ(0, again.exit_code) << step << ": " << again.err;
                EXPECT_EQ(kIndexFiles, vok_test::folder_entries(db)) << step;
                EXPECT_EQ(1u, listed(db)) << step;
            }
    EXPECT_GE(left.size(), 5u); // none, the folder, the mark, the store, ... the index
}

TEST(VokidCreationSlow, CreatorsAtOnceAllSucceed)
{
    vok_test::TempDir dir;
    constexpr size_t kCreators = 6;
    const std::vector<std::string> files = library(dir, kCreators, 6);
    for (int round = 0; round < 4; ++round) {
        const std::string db = dir.file("db" + std::to_string(round));
        if (round == 1)
            fs::create_directory(db); // an empty folder, as well as none
        std::vector<vok_test::RunResult> results(kCreators);
        std::vector<std::thread> creators;
        for (size_t i = 0; i < kCreators; ++i)
            creators.emplace_back([&, i] { results[i] = runVokid({"add", db, files[i]}); });
        for (std::thread &creator : creators)
            creator.join();
        for (size_t i = 0; i < kCreators; ++i)
            EXPECT_EQ(0, results[i].exit_code) << round << ": " << results[i].err;
        EXPECT_EQ(kCreators, listed(db)) << round;
        EXPECT_EQ(kIndexFiles, vok_test::folder_entries(db)) << round;
        EXPECT_EQ(1u + kCreators, headerCommits(db)) << round;
    }
}

// Every opening looks at the data file before mapping it. A reader
// stopped (by strace) once it has opened the data file for that look,
// while a writer commits three tracks, then let go on: it reads the
// index, and never takes the commit for a truncated file.
TEST(VokidCreation, AReaderStoppedWhileAWriterCommitsSeesNoDamage)
{
    if (!haveStrace())
        GTEST_SKIP() << "the strace program is needed to stop vokid at a system call";
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 4, 8);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid({"add", db, files[0]}).exit_code);
    vok_test::RunOptions options;
    options.timeout_seconds = 60;
    options.while_running = [&](pid_t tracer) {
        const pid_t reader = stoppedChild(tracer);
        ASSERT_GT(reader, 0) << "vokid list was not stopped";
        const std::vector<std::string> rest(files.begin() + 1, files.end());
        const vok_test::RunResult added = runVokid(args({"add", db}, rest));
        kill(reader, SIGCONT);
        EXPECT_EQ(0, added.exit_code) << added.err;
    };
    const vok_test::RunResult read =
        runVokidStopped("openat", "signal=SIGSTOP", 1, {"list", db}, db + "/data.mdb", options);
    EXPECT_EQ(0, read.exit_code) << read.err;
    EXPECT_EQ(files.size(), lines(read.out));
}

TEST(VokidStoreFiles, LinksFifosAndFoldersAreRefusedAndNeverWrittenThrough)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 2, 12);
    const std::string base = dir.file("base");
    ASSERT_EQ(0, runVokid({"add", base, files[0]}).exit_code);
    const std::string target = dir.file("target");
    fs::create_directory(target);

    const struct {
        const char *kind;
        const char *said;
        std::function<void(const std::string &path)> make; // in place of the file
    } kinds[] = {
        {"link", "a symbolic link",
         [&](const std::string &path) {
             const std::string aside = target + "/" + fs::path(path).filename().string() +
                                       std::to_string(rand());
             fs::rename(path, aside);
             fs::create_symlink(aside, path);
         }},
        {"dangling link", "a symbolic link",
         [&](const std::string &path) {
             fs::remove(path);
             fs::create_symlink(target + "/none", path);
         }},
        {"fifo", "a FIFO",
         [](const std::string &path) {
             fs::remove(path);
             ASSERT_EQ(0, mkfifo(path.c_str(), 0644));
         }},
        {"folder", "a folder",
         [](const std::string &path) {
             fs::remove(path);
             fs::create_directory(path);
         }},
    };
    int made = 0;
    for (const char *name : {"data.mdb", "lock.mdb", "vokid-index"})
        for (const auto &kind : kinds) {
            const std::string db = dir.file("db" + std::to_string(++made));
            fs::copy(base, db);
            kind.make(db + "/" + name);
            const std::set<std::string> targets = vok_test::folder_entries(target);
            std::map<std::string, std::string> contents;
            for (const std::string &file : targets)
                contents[file] = vok_test::read_file(target + "/" + file);
            for (const auto &run : std::vector<std::vector<std::string>>{
                     {"list", db}, {"stats", db}, {"identify", db, files[0]},
                     {"add", db, files[1]}, {"remove", db, "1"}, {"backup", db, dir.file("b")},
                     {"compact", db}}) {
                vok_test::RunOptions options;
                options.timeout_seconds = 20; // a FIFO opened would block
                const vok_test::RunResult result = runVokid(run, options);
                EXPECT_EQ(1, result.exit_code) << name << ", " << kind.kind << ": " << run[0];
                EXPECT_EQ("vokid: " + db + ": its " + name + " is " + kind.said +
                              " (vokid opens only plain files in an index folder)\n",
                          result.err)
                    << name << ", " << kind.kind << ": " << run[0];
            }
            EXPECT_EQ(targets, vok_test::folder_entries(target)) << name << ", " << kind.kind;
            for (const auto &[file, content] : contents)
                EXPECT_EQ(content, vok_test::read_file(target + "/" + file)) << file;
            EXPECT_FALSE(fs::exists(dir.file("b")));
        }
}

TEST(VokidStoreFiles, TheIndexFolderMayBeALink)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 2, 12);
    const std::string base = dir.file("base");
    ASSERT_EQ(0, runVokid({"add", base, files[0]}).exit_code);
    const std::string linked = dir.file("linked");
    fs::create_directory_symlink(base, linked);
    EXPECT_EQ(0, runVokid({"add", linked, files[1]}).exit_code);
    EXPECT_EQ(2u, listed(linked));
    EXPECT_EQ(2u, listed(base));
}

} // namespace
