#include "vokid/index/lmdb/lmdb_handles.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace vokid {

namespace {

std::atomic<unsigned> faults{0};
std::atomic<bool> interruptedWrite{false};

} // namespace

bool isDamageResult(int result)
{
    switch (result) {
    case MDB_CORRUPTED:        // a page of the wrong kind
    case MDB_PAGE_NOTFOUND:    // a page past the last one
    case MDB_INVALID:          // no meta page that reads
    case MDB_VERSION_MISMATCH: // a meta page of another version
    case MDB_BAD_TXN:          // a transaction spoilt by one of those
    case MDB_CURSOR_FULL:      // a tree deeper than any the store builds
    case MDB_INCOMPATIBLE:     // a table's flags not as they were made
    case MDB_PAGE_FULL:        // a page's free space misread
    case MDB_BAD_VALSIZE:      // a stored key of no or too many bytes
    case MDB_KEYEXIST:         // an append below the last key: keys out of order
    case EINVAL:               // a record the store's calls cannot take
        return true;
    default:
        return false;
    }
}

void throwDamageResult(int result, const char *doing)
{
    faults.fetch_add(1);
    throw IndexDamaged(std::string("the store failed to ") + doing + ": " + mdb_strerror(result));
}

void throwFault(const char *doing)
{
    faults.fetch_add(1);
    throw IndexDamaged(std::string("reading it faulted (") + lastFault() +
                       ") while the store tried to " + doing);
}

bool faultContained()
{
    return faults.load() > 0;
}

void containLmdbAssertion(MDB_env *, const char *text)
{
    containAssertion(text);
}

bool writeInterrupted()
{
    return interruptedWrite.load();
}

// Kept where the leak checker of a sanitizer build sees them held.
void keepInterrupted(MDB_env *env)
{
    static std::mutex mutex;
    static std::vector<MDB_env *> *kept = new std::vector<MDB_env *>;
    std::lock_guard<std::mutex> lock(mutex);
    kept->push_back(env);
}

LmdbTxn::LmdbTxn(MDB_env *env, bool forWriting) : write(forWriting)
{
    if (write && faultContained())
        throw IndexDamaged("an earlier read of it met damage, and nothing more is written");
    checkedCall("begin a transaction",
                [&] { return mdb_txn_begin(env, nullptr, write ? 0 : MDB_RDONLY, &txn); });
}

// Aborting a view only gives its reader slot back. A write transaction
// that a fault interrupted is left as it is.
LmdbTxn::~LmdbTxn()
{
    if (!txn)
        return;
    if (write && faultContained()) {
        interruptedWrite = true;
        return;
    }
    guardFaults([&] { mdb_txn_abort(txn); });
}

void LmdbTxn::commit()
{
    MDB_txn *done = get();
    if (write && faultContained())
        throw IndexDamaged("an earlier read of it met damage, and nothing more is written");
    txn = nullptr; // a failed commit has freed it too
    int result = MDB_SUCCESS;
    if (!guardFaults([&] { result = mdb_txn_commit(done); })) {
        interruptedWrite = true;
        throwFault("commit");
    }
    checkLmdb(result, "commit");
}

void LmdbTxn::renew()
{
    MDB_txn *view = get();
    if (!guardFaults([&] { mdb_txn_reset(view); }))
        throwFault("read");
    checkedCall("read", [&] { return mdb_txn_renew(view); });
}

std::string copyOf(const MDB_val &value, uint64_t limit, const char *what)
{
    if (value.mv_size > limit)
        throw IndexDamaged(std::string(what) + " of " + std::to_string(value.mv_size) +
                           " bytes, more than the data file holds");
    std::string bytes(value.mv_size, '\0');
    if (!guardFaults([&] { std::memcpy(bytes.data(), value.mv_data, value.mv_size); }))
        throwFault("read");
    return bytes;
}

} // namespace vokid
