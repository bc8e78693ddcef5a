// LMDB's environment, transactions and cursors, owned the C++ way: each
// released by its destructor, failures as exceptions, damage as
// IndexDamaged. A transaction that is not committed is aborted, and one
// committed is not used again.
#ifndef VOKID_INDEX_LMDB_LMDB_HANDLES_H
#define VOKID_INDEX_LMDB_LMDB_HANDLES_H

#include <lmdb.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "vokid/index/fault_guard.h"
#include "vokid/index/index_error.h"

namespace vokid {

class LmdbError : public IndexError {
public:
    LmdbError(const char *doing, int result)
        : IndexError(std::string("the store failed to ") + doing + ": " + mdb_strerror(result)),
          code(result)
    {
    }
    int result() const { return code; }

private:
    int code;
};

// The results by which the store says that its pages are not what it
// wrote (a page of the wrong kind, past the end, keys out of order, a
// transaction spoilt by one of those), as against a full disk, a lock
// table full or a permission refused.
bool isDamageResult(int result);
// Throws IndexDamaged for such a result, which, like a fault (below),
// leaves a write transaction of the process untrusted.
[[noreturn]] void throwDamageResult(int result, const char *doing);

// A full disk (or quota) is a NoSpaceError, whatever was being done.
inline void checkLmdb(int result, const char *doing)
{
    if (result == MDB_SUCCESS)
        return;
    if (result == ENOSPC)
        throw NoSpaceError("no space left on device");
    if (result == EDQUOT)
        throw NoSpaceError("no space left on device (the disk quota is used up)");
    if (isDamageResult(result))
        throwDamageResult(result, doing);
    throw LmdbError(doing, result);
}

// Every call into the store, and every copy out of its map, runs under a
// fault guard (fault_guard.h): a fault or a failed assertion of the store
// throws IndexDamaged. After one, or after the store said its pages are
// damaged, the process writes nothing more: a write transaction it
// interrupted is left as it is (not aborted, which would trust its
// half-changed state, a page of it perhaps read as one of its own) until
// the process ends and the store's lock is released with it.
[[noreturn]] void throwFault(const char *doing);
bool faultContained();

template <class Call>
int lmdbCall(const char *doing, Call &&call)
{
    int result = MDB_SUCCESS;
    if (!guardFaults([&] { result = call(); }))
        throwFault(doing);
    return result;
}

template <class Call>
void checkedCall(const char *doing, Call &&call)
{
    checkLmdb(lmdbCall(doing, call), doing);
}

// The assertion hook of every environment: an assertion inside a guard is
// contained as a fault.
void containLmdbAssertion(MDB_env *env, const char *text);
// Whether a write transaction was left as a fault interrupted it; its
// environment is then kept, not closed, until the process ends.
bool writeInterrupted();
void keepInterrupted(MDB_env *env);

class LmdbEnv {
public:
    LmdbEnv()
    {
        checkLmdb(mdb_env_create(&env), "start");
        mdb_env_set_assert(env, containLmdbAssertion);
    }
    ~LmdbEnv()
    {
        if (writeInterrupted())
            keepInterrupted(env);
        else
            guardFaults([&] { mdb_env_close(env); });
    }
    LmdbEnv(const LmdbEnv &) = delete;
    LmdbEnv &operator=(const LmdbEnv &) = delete;
    MDB_env *get() const { return env; }

private:
    MDB_env *env = nullptr;
};

class LmdbTxn {
public:
    LmdbTxn(MDB_env *env, bool write);
    ~LmdbTxn();
    LmdbTxn(LmdbTxn &&other) noexcept : txn(other.txn), write(other.write) { other.txn = nullptr; }
    LmdbTxn(const LmdbTxn &) = delete;
    LmdbTxn &operator=(const LmdbTxn &) = delete;
    LmdbTxn &operator=(LmdbTxn &&) = delete;
    MDB_txn *get() const
    {
        if (!txn)
            throw std::logic_error("the batch has been committed");
        return txn;
    }
    void commit();
    // A read-only transaction moved to the newest committed state.
    void renew();

private:
    MDB_txn *txn = nullptr;
    bool write = false;
};

class LmdbCursor {
public:
    LmdbCursor(MDB_txn *txn, MDB_dbi dbi)
    {
        checkedCall("open a cursor", [&] { return mdb_cursor_open(txn, dbi, &cursor); });
    }
    // Closing frees its memory and reads nothing of the map.
    ~LmdbCursor() { mdb_cursor_close(cursor); }
    LmdbCursor(const LmdbCursor &) = delete;
    LmdbCursor &operator=(const LmdbCursor &) = delete;
    MDB_cursor *get() const { return cursor; }

private:
    MDB_cursor *cursor = nullptr;
};

// A value's bytes copied out of the map under a guard; a value larger
// than the data file (`limit` bytes) is damage, not copied.
std::string copyOf(const MDB_val &value, uint64_t limit, const char *what);

template <class T>
MDB_val valueOf(T &variable)
{
    return MDB_val{sizeof variable, &variable};
}

} // namespace vokid

#endif
