#include "vokid/index/lmdb/lmdb_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/lmdb/lmdb_store.h"
#include "vokid/support/system_cause.h"

namespace vokid {

namespace {

// A missing index may be a folder as well as a file.
std::string causeOf(int error)
{
    return error == ENOENT ? "no such file or folder" : systemCause(error);
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

// Up to `limit` bytes from the start of a file; throws IndexError.
std::string readStart(const std::string &path, size_t limit, const char *what)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw IndexError(std::string("cannot read its ") + what + ": " + causeOf(errno));
    std::string bytes(limit, '\0');
    const size_t got = std::fread(bytes.data(), 1, limit, file.get());
    if (std::ferror(file.get()))
        throw IndexError(std::string("cannot read its ") + what + ": read error");
    bytes.resize(got);
    return bytes;
}

bool exists(const std::string &path, struct stat &status)
{
    if (stat(path.c_str(), &status) == 0)
        return true;
    if (errno != ENOENT)
        throw IndexError(causeOf(errno));
    return false;
}

// Whether a folder holds anything besides "." and "..".
bool isEmptyFolder(const std::string &folder)
{
    struct DirCloser {
        void operator()(DIR *dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        throw IndexError("cannot read the folder: " + causeOf(errno));
    while (const dirent *entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            return false;
    }
    return true;
}

// The header is written whole to a file of its own, then renamed into
// place: a folder has a complete header or none.
void writeHeader(const std::string &folder, const IndexHeader &header)
{
    const std::string bytes = encodeHeader(header);
    const std::string path = folder + "/" + kHeaderFile;
    const std::string partial = path + ".partial";
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        throw IndexError("cannot create the index header: " + causeOf(errno));
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
        fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!written || rename(partial.c_str(), path.c_str()) != 0) {
        const int cause = written ? errno : error;
        unlink(partial.c_str());
        throw IndexError("cannot write the index header: " + causeOf(cause));
    }
}

// Creates the folder or takes an empty one; refuses any other.
IndexHeader createIndex(const std::string &folder, bool folderExists)
{
    if (!folderExists && mkdir(folder.c_str(), 0755) != 0)
        throw IndexError("cannot create the index folder: " + causeOf(errno));
    if (folderExists && !isEmptyFolder(folder))
        throw IndexError("not a vokid index: the folder holds other files and no index header");
    const IndexHeader header;
    writeHeader(folder, header);
    return header;
}

} // namespace

std::unique_ptr<IndexStore> openLmdbFolder(const std::string &folder, StoreAccess access)
{
    const bool writing = access != StoreAccess::Read;
    const bool creating = access == StoreAccess::Write;
    struct stat status;
    const bool folderExists = exists(folder, status);
    if (folderExists && !S_ISDIR(status.st_mode))
        throw IndexError("not a vokid index: not a folder");
    if (!folderExists && !creating)
        throw IndexError("no vokid index here (vokid add creates one)");

    const std::string headerPath = folder + "/" + kHeaderFile;
    IndexHeader header;
    if (!folderExists || !exists(headerPath, status)) {
        if (!creating)
            throw IndexError(isEmptyFolder(folder)
                                 ? "no vokid index here (vokid add creates one)"
                                 : "not a vokid index: the folder holds other files and no "
                                   "index header");
        header = createIndex(folder, folderExists);
    } else {
        header = decodeHeader(readStart(headerPath, kHeaderBytes + 1, "header"));
    }

    // The data file is looked at before it is mapped: a truncated one
    // would fault on the first page read past its end.
    const std::string dataPath = folder + "/" + kDataFile;
    if (exists(dataPath, status)) {
        const std::string head = readStart(dataPath, kDataHeadBytes, "data file");
        try {
            checkDataFile(head, static_cast<uint64_t>(status.st_size));
        } catch (const IndexDamaged &) {
            throw;
        } catch (const IndexError &error) {
            // Beside a header, the data file is the index's own.
            throw IndexDamaged(error.what());
        }
    } else if (!creating) {
        throw IndexError("the index has no data file (" + std::string(kDataFile) +
                         "): run vokid add again");
    }
    return std::make_unique<LmdbStore>(folder, writing, header.step);
}

} // namespace vokid
