// LMDB's environment, transactions and cursors, owned the C++ way: each
// released by its destructor, failures as exceptions. A transaction that
// is not committed is aborted, and one committed is not used again.
#ifndef VOKID_INDEX_LMDB_LMDB_HANDLES_H
#define VOKID_INDEX_LMDB_LMDB_HANDLES_H

#include <lmdb.h>

#include <cerrno>
#include <stdexcept>
#include <string>

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

// A full disk (or quota) is a NoSpaceError, whatever was being done.
inline void checkLmdb(int result, const char *doing)
{
    if (result == ENOSPC)
        throw NoSpaceError("no space left on device");
    if (result == EDQUOT)
        throw NoSpaceError("no space left on device (the disk quota is used up)");
    if (result != MDB_SUCCESS)
        throw LmdbError(doing, result);
}

class LmdbEnv {
public:
    LmdbEnv() { checkLmdb(mdb_env_create(&env), "start"); }
    ~LmdbEnv() { mdb_env_close(env); }
    LmdbEnv(const LmdbEnv &) = delete;
    LmdbEnv &operator=(const LmdbEnv &) = delete;
    MDB_env *get() const { return env; }

private:
    MDB_env *env = nullptr;
};

class LmdbTxn {
public:
    LmdbTxn(MDB_env *env, bool write)
    {
        checkLmdb(mdb_txn_begin(env, nullptr, write ? 0 : MDB_RDONLY, &txn), "begin a transaction");
    }
    ~LmdbTxn()
    {
        if (txn)
            mdb_txn_abort(txn);
    }
    LmdbTxn(LmdbTxn &&other) noexcept : txn(other.txn) { other.txn = nullptr; }
    LmdbTxn(const LmdbTxn &) = delete;
    LmdbTxn &operator=(const LmdbTxn &) = delete;
    LmdbTxn &operator=(LmdbTxn &&) = delete;
    MDB_txn *get() const
    {
        if (!txn)
            throw std::logic_error("the batch has been committed");
        return txn;
    }
    void commit()
    {
        MDB_txn *done = get();
        txn = nullptr; // a failed commit has freed it too
        checkLmdb(mdb_txn_commit(done), "commit");
    }
    // A read-only transaction moved to the newest committed state.
    void renew()
    {
        mdb_txn_reset(get());
        checkLmdb(mdb_txn_renew(txn), "read");
    }

private:
    MDB_txn *txn = nullptr;
};

class LmdbCursor {
public:
    LmdbCursor(MDB_txn *txn, MDB_dbi dbi)
    {
        checkLmdb(mdb_cursor_open(txn, dbi, &cursor), "open a cursor");
    }
    ~LmdbCursor() { mdb_cursor_close(cursor); }
    LmdbCursor(const LmdbCursor &) = delete;
    LmdbCursor &operator=(const LmdbCursor &) = delete;
    MDB_cursor *get() const { return cursor; }

private:
    MDB_cursor *cursor = nullptr;
};

// A value's bytes, and a value over a variable.
inline std::string_view bytesOf(const MDB_val &value)
{
    return std::string_view(static_cast<const char *>(value.mv_data), value.mv_size);
}

template <class T>
MDB_val valueOf(T &variable)
{
    return MDB_val{sizeof variable, &variable};
}

} // namespace vokid

#endif
