// Opening an index folder: created on first use by a command that writes,
// and checked before the store is opened or mapped. A folder that holds
// something else is never written to.
#ifndef VOKID_INDEX_INDEX_FOLDER_H
#define VOKID_INDEX_INDEX_FOLDER_H

#include <memory>
#include <string>

#include "vokid/index/index_store.h"

namespace vokid {

enum class IndexAccess {
    Read,   // the index must exist; views only
    Update, // the index must exist; views and batches
    Write,  // views and batches; created when the folder is missing or empty
};

// Throws IndexError with the cause in plain words ("no vokid index here",
// "not a vokid index: ...", "the data file is truncated: ...").
std::unique_ptr<IndexStore> openIndex(const std::string &folder, IndexAccess access);

} // namespace vokid

#endif
