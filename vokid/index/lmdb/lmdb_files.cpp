#include "vokid/index/lmdb/lmdb_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "vokid/index/index_error.h"
#include "vokid/support/system_cause.h"

namespace vokid {

namespace {

// A descriptor closed with its owner.
class Descriptor {
public:
    explicit Descriptor(int opened) : fd(opened) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd;
};

std::string pathOf(const std::string &folder, const char *name)
{
    return folder + "/" + name;
}

const char *kindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a plain file";
}

// All of `bytes` written and synced; false with errno set otherwise.
bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return fsync(fd) == 0;
}

// The reserve's room taken: allocated where the file system can, written
// as zeros where it cannot.
bool fill(int fd, uint64_t bytes)
{
    const int result = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    if (result == 0)
        return fsync(fd) == 0;
    if (result != EOPNOTSUPP && result != EINVAL) {
        errno = result;
        return false;
    }
    return writeAll(fd, std::string(bytes, '\0'));
}

} // namespace

std::string fileCause(int error)
{
    return error == ENOENT ? "no such file or folder" : systemCause(error);
}

std::optional<struct stat> entryStatus(const std::string &folder, const char *name)
{
    struct stat status;
    if (fstatat(AT_FDCWD, pathOf(folder, name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
        return status;
    if (errno == ENOENT)
        return std::nullopt;
    throw IndexError(std::string("cannot look at its ") + name + ": " + fileCause(errno));
}

void requirePlainFiles(const std::string &folder)
{
    for (const char *name : {kHeaderFile, kDataFile, kLockFile}) {
        const std::optional<struct stat> status = entryStatus(folder, name);
        if (status && !S_ISREG(status->st_mode))
            throw IndexError(std::string("its ") + name + " is " + kindOf(status->st_mode) +
                             " (vokid opens only plain files in an index folder)");
    }
}

FileIdentity identityOf(const struct stat &status)
{
    return FileIdentity{status.st_dev, status.st_ino};
}

std::optional<FileIdentity> dataFileIdentity(const std::string &folder)
{
    const std::optional<struct stat> status = entryStatus(folder, kDataFile);
    if (!status)
        return std::nullopt;
    return identityOf(*status);
}

std::string readStart(const std::string &folder, const char *name, size_t limit, const char *what,
                      uint64_t *sizeAfter)
{
    // Not through a link, and without waiting on a FIFO put in its place.
    const Descriptor file(
        open(pathOf(folder, name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file)
        throw IndexError(std::string("cannot read its ") + what + ": " + fileCause(errno));
    struct stat status;
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        throw IndexError(std::string("its ") + what + " is not a plain file");
    std::string bytes(limit, '\0');
    size_t got = 0;
    while (got < limit) {
        const ssize_t read =
            pread(file.get(), bytes.data() + got, limit - got, static_cast<off_t>(got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            throw IndexError(std::string("cannot read its ") + what + ": " + fileCause(errno));
        if (read == 0)
            break;
        got += static_cast<size_t>(read);
    }
    bytes.resize(got);
    if (sizeAfter) {
        if (fstat(file.get(), &status) != 0)
            throw IndexError(std::string("cannot look at its ") + what + ": " + fileCause(errno));
        *sizeAfter = static_cast<uint64_t>(status.st_size);
    }
    return bytes;
}

IndexHeader readHeaderFile(const std::string &folder)
{
    return decodeHeader(readStart(folder, kHeaderFile, kHeaderBytes + 1, "header"));
}

void writeScratchHeader(const std::string &folder, const IndexHeader &header, const char *scratch)
{
    const std::string partial = pathOf(folder, scratch);
    unlink(partial.c_str()); // what an interrupted write left
    const Descriptor file(
        open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file)
        throw IndexError("cannot write the index header: " + fileCause(errno));
    if (!writeAll(file.get(), encodeHeader(header))) {
        const int cause = errno;
        unlink(partial.c_str());
        throw IndexError("cannot write the index header: " + fileCause(cause));
    }
}

void renameScratchHeader(const std::string &folder, const char *scratch)
{
    // A scratch file that could not be renamed stays: a creation's is its
    // mark, which the clearing of what it left removes last.
    const std::string partial = pathOf(folder, scratch);
    if (rename(partial.c_str(), pathOf(folder, kHeaderFile).c_str()) != 0)
        throw IndexError("cannot write the index header: " + fileCause(errno));
    syncFolder(folder);
}

void writeHeaderFile(const std::string &folder, const IndexHeader &header, const char *scratch)
{
    writeScratchHeader(folder, header, scratch);
    renameScratchHeader(folder, scratch);
}

void syncFolder(const std::string &folder)
{
    const Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        fsync(dir.get());
}

FolderLock::FolderLock(const std::string &folder)
    : fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (fd < 0)
        return;
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

FolderLock::~FolderLock()
{
    if (fd >= 0)
        close(fd); // and the lock with it
}

bool keepReserve(const std::string &folder)
{
    if (entryStatus(folder, kReserveFile))
        return true;
    const std::string scratch = pathOf(folder, kReserveFile) + ".new";
    unlink(scratch.c_str());
    const Descriptor file(
        open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file)
        return false;
    if (!fill(file.get(), kReserveBytes) ||
        rename(scratch.c_str(), pathOf(folder, kReserveFile).c_str()) != 0) {
        unlink(scratch.c_str());
        return false;
    }
    return true;
}

bool releaseReserve(const std::string &folder)
{
    return unlink(pathOf(folder, kReserveFile).c_str()) == 0;
}

} // namespace vokid
