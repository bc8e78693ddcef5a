#include "tests/vokid/integrity/index_files.h"

#include <gtest/gtest.h>
#include <lmdb.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "tests/support/bytes.h"
#include "tests/support/recording.h"
#include "vokid/index/track_print.h"

namespace integrity_test {

namespace {

void check(int result, const char *doing)
{
    if (result != MDB_SUCCESS)
        throw std::runtime_error(std::string(doing) + ": " + mdb_strerror(result));
}

// An LMDB environment over the folder, closed with the object.
class Env {
public:
    explicit Env(const std::string &folder)
    {
        check(mdb_env_create(&env), "create");
        check(mdb_env_set_maxdbs(env, 8), "maxdbs");
        check(mdb_env_set_mapsize(env, uint64_t{1} << 30), "mapsize");
        check(mdb_env_open(env, folder.c_str(), 0, 0644), "open");
    }
    ~Env() { mdb_env_close(env); }
    Env(const Env &) = delete;
    Env &operator=(const Env &) = delete;
    MDB_env *get() const { return env; }

private:
    MDB_env *env = nullptr;
};

std::map<std::string, std::string> allOf(MDB_txn *txn, MDB_dbi dbi)
{
    std::map<std::string, std::string> records;
    MDB_cursor *cursor = nullptr;
    check(mdb_cursor_open(txn, dbi, &cursor), "cursor");
    MDB_val key, data;
    while (mdb_cursor_get(cursor, &key, &data, MDB_NEXT) == MDB_SUCCESS)
        records[std::string(static_cast<char *>(key.mv_data), key.mv_size)] =
            std::string(static_cast<char *>(data.mv_data), data.mv_size);
    mdb_cursor_close(cursor);
    return records;
}

std::map<uint32_t, std::string> byId(const std::map<std::string, std::string> &records)
{
    std::map<uint32_t, std::string> out;
    for (const auto &[key, data] : records) {
        uint32_t id = 0;
        std::copy(key.begin(), key.end(), reinterpret_cast<char *>(&id));
        out[id] = data;
    }
    return out;
}


} // namespace

vok_test::RunResult runVokid(const std::vector<std::string> &args, const vok_test::RunOptions &options)
{
    return vok_test::run_program(VOKID_PROGRAM, args, options);
}

std::vector<std::string> library(const vok_test::TempDir &dir, size_t count, double seconds)
{
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
        files.push_back(dir.file("track-" + std::to_string(i + 1) + ".wav"));
        vok_test::write_recording(files.back(), static_cast<uint32_t>(400 + i), seconds, 11025, 1);
    }
    return files;
}

std::vector<std::string> args(std::vector<std::string> head, const std::vector<std::string> &files)
{
    head.insert(head.end(), files.begin(), files.end());
    return head;
}

bool haveStrace()
{
    static const bool found =
        vok_test::run_program("/bin/sh", {"-c", "strace -V > /dev/null 2>&1"}).exit_code == 0;
    return found;
}

vok_test::RunResult runVokidStopped(const std::string &call, const std::string &how, int time,
                                    const std::vector<std::string> &args, const std::string &path,
                                    const vok_test::RunOptions &options)
{
    // A sanitizer build's leak check cannot run under a tracer.
    const char *sanitizer = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> line = {
        "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0", "strace",
        "-o", "/dev/null"};
    if (!path.empty())
        line.insert(line.end(), {"-P", path});
    line.insert(line.end(), {"-e", "trace=" + call, "-e",
                             "inject=" + call + ":" + how + ":when=" + std::to_string(time),
                             VOKID_PROGRAM});
    line.insert(line.end(), args.begin(), args.end());
    return vok_test::run_program("/usr/bin/env", line, options);
}

namespace {

// The state letter of /proc/PID/stat ('R', 'S', 'T', 'Z', ...); 0 when
// there is no such process.
char processState(pid_t pid)
{
    const std::string stat = vok_test::read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

} // namespace

bool running(pid_t pid)
{
    const char state = processState(pid);
    return state != 0 && state != 'Z';
}

pid_t stoppedChild(pid_t parent)
{
    const std::string children =
        "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    // A tracer stops its child for an instant at each system call; a stop
    // that lasts is the one asked for.
    int stoppedFor = 0;
    for (int wait = 0; wait < 6000 && stoppedFor < 10; ++wait) {
        std::istringstream ids(vok_test::read_file(children));
        pid_t child = 0;
        const char state = ids >> child ? processState(child) : 0;
        stoppedFor = state == 'T' || state == 't' ? stoppedFor + 1 : 0;
        if (stoppedFor == 10)
            return child;
        usleep(10000);
    }
    return 0;
}

size_t lines(const std::string &text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}


std::string headerBytes(uint32_t version, uint64_t commits, uint32_t step)
{
    const std::string fields = "VOKIDIDX" + little_endian(version, 4) + little_endian(32, 4) +
                               little_endian(step, 4) + little_endian(commits, 8);
    return fields + little_endian(bitwise_crc32(fields), 4);
}

uint64_t headerCommits(const std::string &folder)
{
    return vok_test::read_little_endian(vok_test::read_file(folder + "/vokid-index"), 20, 8);
}

uint32_t headerVersion(const std::string &folder)
{
    return static_cast<uint32_t>(
        vok_test::read_little_endian(vok_test::read_file(folder + "/vokid-index"), 8, 4));
}

StoredRecords readRecords(const std::string &folder)
{
    const Env env(folder);
    MDB_txn *txn = nullptr;
    check(mdb_txn_begin(env.get(), nullptr, MDB_RDONLY, &txn), "begin");
    StoredRecords records;
    for (const char *table : {"tracks", "sequences", "info"}) {
        MDB_dbi dbi = 0;
        check(mdb_dbi_open(txn, table, 0, &dbi), table);
        const auto all = allOf(txn, dbi);
        if (std::string(table) == "info")
            records.info = all;
        else
            (std::string(table) == "tracks" ? records.tracks : records.sequences) = byId(all);
    }
    mdb_txn_abort(txn);
    return records;
}

// The bytes of a track record's fields that version 1 has: three 64-bit
// fields, two 32-bit counts, then four texts (a 32-bit length and its
// bytes); the album and values after them are version 3's.
size_t version1Fields(const std::string &record)
{
    size_t at = 8 + 8 + 8 + 4 + 4;
    for (int text = 0; text < 4; ++text) {
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= uint32_t{static_cast<uint8_t>(record.at(at + i))} << (8 * i);
        at += 4 + length;
    }
    return at;
}

// A sequence in the plain form of versions 1 to 3: the word count, the
// words, the kept masks and the quiet frames' bitmap, little-endian.
std::string plainSequence(const vokid::TrackPrint &print)
{
    std::string bytes = little_endian(print.words.size(), 4);
    for (uint32_t word : print.words)
        bytes += little_endian(word, 4);
    for (uint32_t mask : print.masks)
        bytes += little_endian(mask, 4);
    std::string quiet((print.words.size() + 7) / 8, '\0');
    for (size_t i = 0; i < print.quiet.size(); ++i)
        if (print.quiet[i])
            quiet[i / 8] = static_cast<char>(quiet[i / 8] | 1 << (i % 8));
    return bytes + quiet;
}

// The postings put back as versions 1 to 3 kept them: under the word, a
// native 64-bit track << 32 | position; read from version 4's buckets
// (the word's upper 8 bits as the key; its lower 24, the track and the
// position big-endian in each duplicate).
void unbucketPostings(MDB_txn *txn)
{
    MDB_dbi buckets = 0;
    check(mdb_dbi_open(txn, "posting_buckets", MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED,
                       &buckets),
          "posting_buckets");
    std::vector<std::pair<uint32_t, uint64_t>> postings;
    MDB_cursor *cursor = nullptr;
    check(mdb_cursor_open(txn, buckets, &cursor), "cursor");
    MDB_val key, data;
    while (mdb_cursor_get(cursor, &key, &data, MDB_NEXT) == MDB_SUCCESS) {
        uint32_t bucket = 0;
        std::memcpy(&bucket, key.mv_data, sizeof bucket);
        const std::string item(static_cast<char *>(data.mv_data), data.mv_size);
        const auto bigEndian = [&](size_t at, size_t size) {
            uint64_t value = 0;
            for (size_t i = 0; i < size; ++i)
                value = value << 8 | static_cast<uint8_t>(item.at(at + i));
            return value;
        };
        const auto word = static_cast<uint32_t>(bucket << 24 | bigEndian(0, 3));
        postings.emplace_back(word, bigEndian(3, 4) << 32 | bigEndian(7, 4));
    }
    mdb_cursor_close(cursor);
    check(mdb_drop(txn, buckets, 1), "drop");
    MDB_dbi words = 0;
    check(mdb_dbi_open(txn, "postings",
                       MDB_CREATE | MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED | MDB_INTEGERDUP,
                       &words),
          "postings");
    for (auto &[word, value] : postings) {
        MDB_val k{sizeof word, &word}, d{sizeof value, &value};
        check(mdb_put(txn, words, &k, &d, 0), "put");
    }
}

void makeOlderVersion(const std::string &folder, uint32_t version)
{
    const uint64_t commits = headerCommits(folder);
    const uint32_t step = static_cast<uint32_t>(
        vok_test::read_little_endian(vok_test::read_file(folder + "/vokid-index"), 16, 4));
    const Env env(folder);
    MDB_txn *txn = nullptr;
    check(mdb_txn_begin(env.get(), nullptr, 0, &txn), "begin");
    for (const char *table : {"tracks", "sequences"}) {
        MDB_dbi dbi = 0;
        check(mdb_dbi_open(txn, table, MDB_INTEGERKEY, &dbi), table);
        for (const auto &[key, data] : allOf(txn, dbi)) {
            uint32_t id = 0;
            std::memcpy(&id, key.data(), sizeof id);
            std::string written;
            if (std::string(table) == "tracks") {
                written = version == 1 ? data.substr(0, version1Fields(data)) : data;
            } else {
                written = plainSequence(vokid::decodeSequence(data, id, 4));
                if (version > 1)
                    written += little_endian(bitwise_crc32(little_endian(id, 4) + written), 4);
            }
            MDB_val k{key.size(), const_cast<char *>(key.data())};
            MDB_val d{written.size(), written.data()};
            check(mdb_put(txn, dbi, &k, &d, 0), "put");
        }
    }
    unbucketPostings(txn);
    MDB_dbi info = 0;
    check(mdb_dbi_open(txn, "info", 0, &info), "info");
    if (version == 1) {
        for (std::string name : {"format", "commits"}) {
            MDB_val key{name.size(), name.data()};
            check(mdb_del(txn, info, &key, nullptr), "del");
        }
    } else {
        std::string name = "format";
        std::string form = little_endian(version, 4);
        MDB_val key{name.size(), name.data()}, data{form.size(), form.data()};
        check(mdb_put(txn, info, &key, &data, 0), "put");
    }
    check(mdb_txn_commit(txn), "commit");
    const std::string header = headerBytes(version, version == 1 ? 0 : commits, step);
    vok_test::write_file(folder + "/vokid-index", vok_test::Bytes(header.begin(), header.end()));
    if (version == 1)
        std::remove((folder + "/vokid-reserve").c_str());
}

void makeVersion1(const std::string &folder)
{
    makeOlderVersion(folder, 1);
}

void putInfoRecord(const std::string &folder, const std::string &name, const std::string &bytes)
{
    const Env env(folder);
    MDB_txn *txn = nullptr;
    check(mdb_txn_begin(env.get(), nullptr, 0, &txn), "begin");
    MDB_dbi info = 0;
    check(mdb_dbi_open(txn, "info", 0, &info), "info");
    MDB_val key{name.size(), const_cast<char *>(name.data())};
    MDB_val data{bytes.size(), const_cast<char *>(bytes.data())};
    check(mdb_put(txn, info, &key, &data, 0), "put");
    check(mdb_txn_commit(txn), "commit");
}

// The meta pages of this 64-bit host's layout: the page size 40 bytes
// into the first, the transaction id 144 bytes into each.
void makeOlderMetaPageNewest(const std::string &folder)
{
    const std::string path = folder + "/data.mdb";
    std::string bytes = vok_test::read_file(path);
    const size_t pageSize = vok_test::read_little_endian(bytes, 40, 4);
    const uint64_t first = vok_test::read_little_endian(bytes, 144, 8);
    const uint64_t second = vok_test::read_little_endian(bytes, pageSize + 144, 8);
    const size_t older = first < second ? 144 : pageSize + 144;
    bytes.replace(older, 8, little_endian(std::max(first, second) + 1, 8));
    vok_test::write_file(path, vok_test::Bytes(bytes.begin(), bytes.end()));
}

} // namespace integrity_test
