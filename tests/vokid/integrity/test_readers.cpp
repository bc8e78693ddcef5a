// Readers of the index: a user who may read its folder but not write it
// runs every read command (without the lock file, checking that no
// writer reused what it read), while a writer adds, and is refused what
// writes; readers killed while they hold a snapshot are cleared from the
// lock table by a process that keeps the index open.
#include <gtest/gtest.h>
#include <lmdb.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "tests/support/reachable_copy.h"
#include "tests/vokid/integrity/index_files.h"

namespace {

namespace fs = std::filesystem;
using namespace integrity_test;

// The folder and its files readable by all, writable by their owner only.
void openToReaders(const std::string &db)
{
    fs::permissions(db, fs::perms(0755));
    for (const std::string &name : vok_test::folder_entries(db))
        fs::permissions(db + "/" + name, fs::perms(0644));
}

TEST(VokidOtherUser, AUserWhoMayOnlyReadRunsEveryReadCommand)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "runs as root, to run vokid as the user nobody";
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 8, 12);
    const vok_test::ReachableCopy copy(VOKID_PROGRAM, files, {VOK_LIBRARY});
    const std::string db = copy.file("index");
    ASSERT_EQ(0, runVokid({"add", db, copy.file("track-1.wav"), copy.file("track-2.wav")}).exit_code);
    openToReaders(db);
    const std::string before = vok_test::read_file(db + "/data.mdb");
    const std::set<std::string> entries = vok_test::folder_entries(db);

    const std::vector<std::vector<std::string>> reads = {
        {"list", db},
        {"list", "--json", db},
        {"stats", db},
        {"identify", db, copy.file("track-2.wav")},
        {"identify", "--json", db, copy.file("track-1.wav")},
        {"duplicates", db},
    };
    for (size_t i = 0; i < reads.size(); ++i) {
        const vok_test::RunResult own = runVokid(reads[i]);
        const vok_test::RunResult theirs = copy.run_as_user(reads[i]);
        EXPECT_EQ(0, theirs.exit_code) << reads[i][0] << ": " << theirs.err;
        EXPECT_EQ("", theirs.err) << reads[i][0];
        if (reads[i][0] != "stats") { // its figures name the readers now
            EXPECT_EQ(own.out, theirs.out) << reads[i][0];
        }
    }
    // A backup of it into a folder of their own.
    const std::string theirs = copy.file("theirs");
    fs::create_directory(theirs);
    fs::permissions(theirs, fs::perms(0777));
    const vok_test::RunResult backup = copy.run_as_user({"backup", db, theirs + "/b"});
    EXPECT_EQ(0, backup.exit_code) << backup.err;
    EXPECT_EQ(runVokid({"list", db}).out, runVokid({"list", theirs + "/b"}).out);
    const struct {
        std::vector<std::string> run;
        std::string cause;
    } writes[] = {
        {{"add", db, copy.file("track-3.wav")}, "permission denied"},
        {{"remove", db, "1"}, "permission denied"},
        {{"compact", db}, "permission denied"},
        {{"upgrade", db}, "permission denied"},
    };
    for (const auto &w : writes) {
        const vok_test::RunResult result = copy.run_as_user(w.run);
        EXPECT_EQ(1, result.exit_code) << w.run[0];
        EXPECT_EQ(0u, result.err.find("vokid: " + db + ": " + w.cause)) << w.run[0] << ": "
                                                                        << result.err;
    }
    EXPECT_EQ(before, vok_test::read_file(db + "/data.mdb"));
    EXPECT_EQ(entries, vok_test::folder_entries(db));
}

// While the owner adds a track a commit, the reader's every answer is a
// committed state (the tracks only grow), or says the index changed while
// it read.
TEST(VokidOtherUser, AReaderWithoutTheLockFileWhileTheOwnerAdds)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "runs as root, to run vokid as the user nobody";
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 12, 30);
    const vok_test::ReachableCopy copy(VOKID_PROGRAM, {}, {VOK_LIBRARY});
    const std::string db = copy.file("index");
    ASSERT_EQ(0, runVokid({"add", db, files[0]}).exit_code);
    openToReaders(db);
    int readings = 0, changed = 0;
    vok_test::RunOptions options;
    options.while_running = [&](pid_t) {
        size_t tracks = 1;
        while (tracks < files.size() && readings < 100) {
            ++readings;
            const vok_test::RunResult read = copy.run_as_user({"list", db});
            if (read.exit_code != 0) {
                EXPECT_EQ("vokid: " + db + ": the index changed while it was read (this user "
                          "reads it without its lock file, unseen by those who write): run the "
                          "command again\n",
                          read.err);
                ++changed;
                continue;
            }
            EXPECT_GE(lines(read.out), tracks);
            tracks = lines(read.out);
        }
    };
    const std::vector<std::string> rest(files.begin() + 1, files.end());
    const vok_test::RunResult added = vok_test::run_program(
        VOKID_PROGRAM, args({"add", "-j", "1", "--batch", "1", db}, rest), options);
    EXPECT_EQ(0, added.exit_code) << added.err;
    EXPECT_GT(readings, 0);
    std::cerr << readings << " readings, " << changed << " saw the index change\n";
    EXPECT_EQ(files.size(), lines(copy.run_as_user({"list", db}).out));
}

// A transaction of the store, by LMDB itself, begun in a child process
// before this returns: a read held until the child is killed, or a write
// held for `seconds` and then aborted. Returns the child's id, -1 when it
// could not begin.
pid_t transactionInChild(const std::string &db, bool writing, unsigned seconds)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        MDB_env *env = nullptr;
        MDB_txn *txn = nullptr;
        const unsigned flags = writing ? 0 : MDB_RDONLY;
        const char one = 1;
        if (mdb_env_create(&env) != 0 || mdb_env_set_maxdbs(env, 8) != 0 ||
            mdb_env_open(env, db.c_str(), flags | MDB_NOTLS, 0644) != 0 ||
            mdb_txn_begin(env, nullptr, flags, &txn) != 0 || write(ready[1], &one, 1) != 1)
            _exit(1);
        if (!writing)
            pause();
        sleep(seconds);
        mdb_txn_abort(txn);
        mdb_env_close(env);
        _exit(0);
    }
    close(ready[1]);
    char got = 0;
    const bool began = ::read(ready[0], &got, 1) == 1;
    close(ready[0]);
    return began ? pid : -1;
}

// A reader killed while it holds a snapshot: its slot in the lock table
// stays, under its process id. Returns the id.
pid_t readerKilledMidRead(const std::string &db)
{
    const pid_t pid = transactionInChild(db, false, 0);
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return pid;
}

// The process ids in the store's lock table now, read without clearing it.
std::set<pid_t> lockTable(const std::string &db)
{
    MDB_env *env = nullptr;
    std::set<pid_t> pids;
    if (mdb_env_create(&env) == 0 && mdb_env_set_maxdbs(env, 8) == 0 &&
        mdb_env_open(env, db.c_str(), MDB_RDONLY, 0644) == 0) {
        // A heading line, then "pid thread txnid" a reader.
        mdb_reader_list(
            env,
            [](const char *line, void *context) {
                const long pid = std::strtol(line, nullptr, 10);
                if (pid > 0)
                    static_cast<std::set<pid_t> *>(context)->insert(static_cast<pid_t>(pid));
                return 0;
            },
            &pids);
    }
    mdb_env_close(env);
    return pids;
}

// Waits (up to a minute) until the header counts `commits`.
void awaitCommits(const std::string &db, uint64_t commits)
{
    for (int i = 0; i < 6000 && headerCommits(db) < commits; ++i)
        usleep(10000);
}

struct LongAdd {
    uint64_t dataBytes = 0;
    bool checked = false; // the lock table was read while the add ran
};

// An add of many tracks, a commit each, as the process that keeps the
// index open; when `killReaders`, readers killed mid-read meanwhile, and
// the lock table read two commits later.
LongAdd addWhileReadersDie(const std::string &db, const std::vector<std::string> &files,
                           bool killReaders)
{
    LongAdd outcome;
    vok_test::RunOptions options;
    options.while_running = [&](pid_t child) {
        if (!killReaders)
            return;
        awaitCommits(db, 4);
        std::set<pid_t> killed;
        for (int i = 0; i < 8; ++i)
            killed.insert(readerKilledMidRead(db));
        EXPECT_EQ(0u, killed.count(-1));
        awaitCommits(db, headerCommits(db) + 2);
        if (!running(child))
            return;
        const std::set<pid_t> table = lockTable(db);
        outcome.checked = true;
        for (pid_t pid : killed)
            EXPECT_EQ(0u, table.count(pid)) << pid << " is still in the lock table";
    };
    const vok_test::RunResult added = vok_test::run_program(
        VOKID_PROGRAM, args({"add", "-j", "1", "--batch", "1", db}, files), options);
    EXPECT_EQ(0, added.exit_code) << added.err;
    outcome.dataBytes = fs::file_size(db + "/data.mdb");
    return outcome;
}

TEST(VokidStaleReadersSlow, AProcessThatKeepsTheIndexOpenClearsReadersKilledMidRead)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 40, 20);
    const std::string first = dir.file("first"), second = dir.file("second");
    ASSERT_EQ(0, runVokid({"add", first, files[0]}).exit_code);
    fs::copy(first, second);
    const std::vector<std::string> rest(files.begin() + 1, files.end());
    const LongAdd quiet = addWhileReadersDie(first, rest, false);
    const LongAdd killed = addWhileReadersDie(second, rest, true);
    if (!killed.checked)
        std::cerr << "the add ended before the lock table could be read\n";
    // Snapshots left pinned would keep every page freed after them from
    // being used again.
    std::cerr << "data file: " << killed.dataBytes << " bytes, " << quiet.dataBytes
              << " without readers killed\n";
    EXPECT_LE(killed.dataBytes, quiet.dataBytes + quiet.dataBytes / 10);
    EXPECT_EQ(lines(runVokid({"list", first}).out), lines(runVokid({"list", second}).out));
}

TEST(VokidWriters, AWriterThatWaitsForAnotherSaysSoOnce)
{
    vok_test::TempDir dir;
    const std::vector<std::string> files = library(dir, 3, 12);
    const std::string db = dir.file("index");
    ASSERT_EQ(0, runVokid({"add", db, files[0]}).exit_code);
    const std::string waiting =
        "vokid: " + db + ": waiting for another process that writes to the index\n";
    const struct {
        std::vector<std::string> run;
        std::string out;
    } cases[] = {
        {{"add", "--batch", "1", db, files[1], files[2]}, "2 added"},
        {{"remove", db, "1"}, "removed track 1: " + files[0] + "\n"},
    };
    for (const auto &c : cases) {
        const pid_t writer = transactionInChild(db, true, 2);
        ASSERT_GT(writer, 0);
        const vok_test::RunResult result = runVokid(c.run);
        int status = 0;
        waitpid(writer, &status, 0);
        EXPECT_EQ(0, result.exit_code) << c.run[0] << ": " << result.err;
        EXPECT_EQ(waiting, result.err) << c.run[0];
        EXPECT_EQ(0u, result.out.find(c.out)) << c.run[0] << ": " << result.out;
        // With no other writer, nothing is said.
        EXPECT_EQ("", runVokid({"add", db, files[0]}).err);
    }
}

} // namespace
