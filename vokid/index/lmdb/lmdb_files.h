// The files of an index folder, each reached without following a link:
// the header (read, and replaced whole), the store's files judged before
// the store opens them, the identity of the data file (which compact and
// upgrade replace), and the reserve that keeps room for a removal on a
// full disk.
#ifndef VOKID_INDEX_LMDB_LMDB_FILES_H
#define VOKID_INDEX_LMDB_LMDB_FILES_H

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "vokid/index/lmdb/index_header.h"

namespace vokid {

// Written beside the header while it is replaced, and, in a folder with no
// header, the mark of an index being created there (lmdb_folder.cpp).
constexpr const char *kPartialHeaderFile = "vokid-index.partial";
constexpr const char *kNewHeaderFile = "vokid-index.new";
// Room kept for a removal on a full disk: deleted to make room, made again
// after a commit when there is room.
constexpr const char *kReserveFile = "vokid-reserve";
constexpr uint64_t kReserveBytes = uint64_t{1} << 20;

// "no such file or folder", "permission denied", ...
std::string fileCause(int error);

// What the folder's entry `name` is, without following a link; none when
// it is missing. Throws IndexError for other failures.
std::optional<struct stat> entryStatus(const std::string &folder, const char *name);

// Throws IndexError unless each store file that exists (header, data
// file, lock file) is a plain file: a link, a folder, a FIFO or a device
// is refused by name before anything opens it.
void requirePlainFiles(const std::string &folder);

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

FileIdentity identityOf(const struct stat &status);
// The data file's identity now; none when it is missing.
std::optional<FileIdentity> dataFileIdentity(const std::string &folder);

// Up to `limit` bytes from the start of the folder's file `name` (not
// through a link); throws IndexError ("cannot read its WHAT: ...").
// `sizeAfter` gets the file's size as it was after the read.
std::string readStart(const std::string &folder, const char *name, size_t limit, const char *what,
                      uint64_t *sizeAfter = nullptr);

IndexHeader readHeaderFile(const std::string &folder);
// The header written whole to `scratch`, synced and renamed over the
// header: a folder has the old header or the new one, never a part.
void writeHeaderFile(const std::string &folder, const IndexHeader &header,
                     const char *scratch = kNewHeaderFile);
// The two halves of it, for a header whose scratch file is a mark until
// it is renamed.
void writeScratchHeader(const std::string &folder, const IndexHeader &header, const char *scratch);
void renameScratchHeader(const std::string &folder, const char *scratch);

// Syncs the folder itself, so that the renames in it last.
void syncFolder(const std::string &folder);

// An exclusive lock on the folder (flock), held by those who create an
// index in it or write its header: creators one at a time, and headers
// replaced one at a time. Where the folder cannot be locked (a file system
// without flock) nothing is held.
class FolderLock {
public:
    explicit FolderLock(const std::string &folder);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int fd;
};

// Makes the reserve where it is missing and there is room; false when it
// could not (a full disk, a read-only folder).
bool keepReserve(const std::string &folder);
// Deletes the reserve; false when there was none.
bool releaseReserve(const std::string &folder);

} // namespace vokid

#endif
