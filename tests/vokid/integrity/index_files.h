// An index folder's files worked on from outside vokid, for the tests of
// its integrity: headers written byte by byte, the store's records and
// meta pages changed with LMDB itself (not vokid's store), so that a
// version-1 index, a store rolled back and a damaged record are made here
// by a computation of their own.
#ifndef VOK_TESTS_VOKID_INTEGRITY_INDEX_FILES_H
#define VOK_TESTS_VOKID_INTEGRITY_INDEX_FILES_H

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"

namespace integrity_test {

// The built vokid as a child process.
vok_test::RunResult runVokid(const std::vector<std::string> &args,
                          const vok_test::RunOptions &options = vok_test::RunOptions());

// Whether the strace program is here, to stop vokid at a system call.
bool haveStrace();
// The built vokid under strace, which does `how` ("signal=SIGKILL",
// "error=EIO", ...) at the `time`th call of `call` (counted on its own,
// and only on `path` when one is given).
vok_test::RunResult runVokidStopped(const std::string &call, const std::string &how, int time,
                                    const std::vector<std::string> &args,
                                    const std::string &path = "",
                                    const vok_test::RunOptions &options = vok_test::RunOptions());

// `count` generated recordings of `seconds` each in `dir`.
std::vector<std::string> library(const vok_test::TempDir &dir, size_t count, double seconds);
std::vector<std::string> args(std::vector<std::string> head, const std::vector<std::string> &files);
size_t lines(const std::string &text);
// Whether the child `pid` runs still (not ended, nor waiting to be reaped).
bool running(pid_t pid);
// The child of `parent` once it is stopped (waiting up to a minute); 0
// when none is.
pid_t stoppedChild(pid_t parent);

using vok_test::bitwise_crc32;
using vok_test::little_endian;

// The folder's 32-byte header: magic, version, size, step, commit counter
// (reserved words in version 1), CRC-32.
std::string headerBytes(uint32_t version, uint64_t commits, uint32_t step = 3);
uint64_t headerCommits(const std::string &folder);
uint32_t headerVersion(const std::string &folder);

// A track table's and a sequence table's records, by track id, as the
// store holds them.
struct StoredRecords {
    std::map<uint32_t, std::string> tracks;
    std::map<uint32_t, std::string> sequences;
    std::map<std::string, std::string> info;
};
StoredRecords readRecords(const std::string &folder);

// The index rewritten as vokid wrote it before its records had checksums
// (format version 1): each record without its checksum (a track record
// also without the album and values of version 3), no record
// of the format or the commits, a header of version 1.
void makeVersion1(const std::string &folder);
// The index rewritten as vokid wrote it in format version `version` (1 as
// above, or 3: the records as they are, each sequence in the plain form
// with its checksum, the postings under their words, a header of version 3).
void makeOlderVersion(const std::string &folder, uint32_t version);

// The store's record of itself `name` set to `bytes`, in a commit of its own.
void putInfoRecord(const std::string &folder, const std::string &name, const std::string &bytes);

// The store's older meta page given a transaction id above the newer's,
// so that the store opens the state of the commit before.
void makeOlderMetaPageNewest(const std::string &folder);

} // namespace integrity_test

#endif
