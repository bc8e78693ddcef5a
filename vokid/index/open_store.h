// The store an index location names, as the user gives it for DB: a path
// is an LMDB index folder (vokid/index/lmdb/), and a location that starts
// with a URI scheme and "://" is a store elsewhere, each scheme a store of
// its own. None is built in yet: such a location is refused by its name.
// A folder whose name starts like a URI is written with "./" before it.
#ifndef VOKID_INDEX_OPEN_STORE_H
#define VOKID_INDEX_OPEN_STORE_H

#include <memory>
#include <string>
#include <string_view>

#include "vokid/index/index_store.h"

namespace vokid {

// The scheme of a location, as written: "postgresql" for
// "postgresql://host/db"; empty for a path. A scheme is a letter, then
// letters, digits, "+", "-" or ".".
std::string_view schemeOf(std::string_view location);

// Throws IndexError with the cause in plain words: the store's own
// refusals, or "postgresql:// indexes are not supported yet ...".
std::unique_ptr<IndexStore> openStore(const std::string &location, StoreAccess access);

} // namespace vokid

#endif
