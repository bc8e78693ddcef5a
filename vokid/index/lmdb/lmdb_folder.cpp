#include "vokid/index/lmdb/lmdb_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/lmdb/lmdb_environment.h"
#include "vokid/index/lmdb/lmdb_files.h"
#include "vokid/index/lmdb/lmdb_store.h"
#include "vokid/index/stored_form.h"

namespace vokid {

namespace {

// The folder's entries besides "." and "..".
std::set<std::string> entriesOf(const std::string &folder)
{
    struct DirCloser {
        void operator()(DIR *dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        throw IndexError("cannot read the folder: " + fileCause(errno));
    std::set<std::string> names;
    while (const dirent *entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.insert(entry->d_name);
    }
    return names;
}

// What a creation writes, in the order it writes it.
const std::set<std::string> &creationFiles()
{
    static const std::set<std::string> names = {
        kPartialHeaderFile, kNewHeaderFile, kDataFile,
        kLockFile,          kReserveFile,   std::string(kReserveFile) + ".new"};
    return names;
}

// A header that counts no commit over no data file: a creation that
// stopped (or an index of vokid before 1.2 whose first add stopped).
bool unfinished(const std::string &folder)
{
    if (readHeaderFile(folder).commits != 0)
        return false;
    const std::optional<struct stat> data = entryStatus(folder, kDataFile);
    return !data || data->st_size == 0;
}

bool needsCreation(const std::string &folder)
{
    return !entryStatus(folder, kHeaderFile) || unfinished(folder);
}

// Whether the folder holds only what a creation that stopped leaves: its
// mark (or an unfinished header) with the store's files.
bool onlyLeftovers(const std::string &folder, const std::set<std::string> &names)
{
    bool marked = false;
    for (const std::string &name : names) {
        if (name == kPartialHeaderFile || name == kHeaderFile)
            marked = true;
        else if (!creationFiles().count(name))
            return false;
    }
    return marked || names.empty() || (entryStatus(folder, kHeaderFile) && unfinished(folder));
}

std::string whyNoIndex(const std::string &folder)
{
    const std::set<std::string> names = entriesOf(folder);
    if (names.count(kHeaderFile))
        return "the index has no data file yet (its creation stopped): vokid add makes it";
    if (onlyLeftovers(folder, names))
        return "no vokid index here (vokid add creates one)";
    return "not a vokid index: the folder holds other files and no index header";
}

void clearLeftovers(const std::string &folder)
{
    const std::set<std::string> names = entriesOf(folder);
    if (!onlyLeftovers(folder, names))
        throw IndexError("not a vokid index: the folder holds other files and no index header");
    // The mark (or the unfinished header) last: a clearing that stops
    // midway leaves a folder the next one clears.
    const auto marks = [](const std::string &name) {
        return name == kPartialHeaderFile || name == kHeaderFile;
    };
    for (const bool last : {false, true})
        for (const std::string &name : names)
            if (marks(name) == last && unlink((folder + "/" + name).c_str()) != 0 &&
                errno != ENOENT)
                throw IndexError("cannot clear what a stopped creation left (" + name +
                                 "): " + fileCause(errno));
}

// The mark first, the store with its tables and first commit, the reserve,
// then the header: renamed from the mark, it makes the index.
void createStore(const std::string &folder, uint32_t step)
{
    IndexHeader header;
    header.step = step;
    header.commits = 1;
    writeScratchHeader(folder, header, kPartialHeaderFile);
    {
        const LmdbEnvironment env(folder, LmdbEnvironment::Mode::Create);
        LmdbTxn txn(env.get(), true);
        putCommits(txn.get(), env.tables(), header.commits);
        txn.commit();
    }
    keepReserve(folder);
    renameScratchHeader(folder, kPartialHeaderFile);
}

// The step an unfinished header names (an index made with another step
// than the default), kept by the creation that finishes it.
uint32_t stepToCreate(const std::string &folder)
{
    if (entryStatus(folder, kHeaderFile)) {
        try {
            return readHeaderFile(folder).step;
        } catch (const IndexError &) {
        }
    }
    return kDefaultStep;
}

// With `step` 0, the step an unfinished header names, or the default;
// with `refuse`, an index there already is an error.
void createIndex(const std::string &folder, uint32_t step = 0, bool refuse = false)
{
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        throw IndexError("cannot create the index folder: " + fileCause(errno));
    const FolderLock lock(folder);
    requirePlainFiles(folder);
    if (!needsCreation(folder)) {
        if (refuse)
            throw IndexError("an index is there already");
        return; // another creator made it meanwhile
    }
    if (step == 0)
        step = stepToCreate(folder);
    else if (step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    clearLeftovers(folder);
    try {
        createStore(folder, step);
    } catch (const IndexError &) {
        try {
            clearLeftovers(folder);
        } catch (const IndexError &) {
        }
        throw;
    }
}

bool isFolder(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode))
            throw IndexError("not a vokid index: not a folder");
        return true;
    }
    if (errno != ENOENT)
        throw IndexError(fileCause(errno));
    return false;
}

} // namespace

void createLmdbFolder(const std::string &folder, uint32_t step)
{
    if (step < 1 || step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    isFolder(folder); // refuses a file
    createIndex(folder, step, true);
}

void checkLmdbFolder(const std::string &folder)
{
    requirePlainFiles(folder);
    const std::optional<struct stat> data = entryStatus(folder, kDataFile);
    if (!data)
        throw damaged("it has no data file (" + std::string(kDataFile) + ")");
    // Looked at before it is mapped: a truncated one would fault on the
    // first page read past its end. The size is taken after the meta pages
    // are read, from the same file: a writer writes its pages before the
    // meta page that reaches them, so a commit between the two cannot look
    // like a truncation.
    uint64_t size = 0;
    const std::string head = readStart(folder, kDataFile, kDataHeadBytes, "data file", &size);
    try {
        checkDataFile(head, size);
    } catch (const IndexDamaged &) {
        throw;
    } catch (const IndexError &error) {
        // Beside a header, the data file is the index's own: a store format
        // that is not LMDB's is damage too.
        throw damaged(error.what());
    }
}

std::unique_ptr<IndexStore> openLmdbFolder(const std::string &folder, StoreAccess access,
                                           uint32_t step)
{
    return openLmdbStore(folder, access, false, step);
}

std::unique_ptr<LmdbStore> openLmdbStore(const std::string &folder, StoreAccess access,
                                         bool upgrading, uint32_t step)
{
    const bool creating = access == StoreAccess::Write;
    if (!isFolder(folder)) {
        if (!creating)
            throw IndexError("no vokid index here (vokid add creates one)");
        createIndex(folder, step);
    }
    requirePlainFiles(folder);
    if (needsCreation(folder)) {
        if (!creating)
            throw IndexError(whyNoIndex(folder));
        createIndex(folder, step);
    }
    const IndexHeader header = readHeaderFile(folder);
    checkLmdbFolder(folder);
    return std::make_unique<LmdbStore>(folder, header, access != StoreAccess::Read, upgrading);
}

} // namespace vokid
