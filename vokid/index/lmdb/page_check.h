// What the store returns is checked against the page it lies on before it
// is trusted: a key or value read from the map must lie within one page
// whose header names the page where it is (a page swapped or copied
// elsewhere names another) and that holds keys and values (a leaf, or the
// first of an overflow run that the value starts right after and ends
// within). Values of a write transaction's own changes lie outside the map
// and are not looked at.
#ifndef VOKID_INDEX_LMDB_PAGE_CHECK_H
#define VOKID_INDEX_LMDB_PAGE_CHECK_H

#include <lmdb.h>

#include <cstdint>

namespace vokid {

struct StoreMap {
    const char *start = nullptr;
    uint64_t bytes = 0; // of the map; pages lie within the data file's part
    uint64_t pageSize = 0;
};

// The environment's map, asked of the store under a guard.
StoreMap storeMap(MDB_env *env);

// Throws IndexDamaged.
void checkOnPage(const StoreMap &map, const MDB_val &value, const char *what);

} // namespace vokid

#endif
