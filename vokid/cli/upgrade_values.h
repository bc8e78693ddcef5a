// The second half of `vokid upgrade`: tracks that have no FileFloat values
// of their file's beginning (those converted from format 1 or 2) given
// them, each by decoding its file again when the file is still there and
// unchanged (same size and modification time). Work is committed every
// few tracks and every few seconds: an interrupted run keeps what it
// committed, and a run after it does the rest.
#ifndef VOKID_CLI_UPGRADE_VALUES_H
#define VOKID_CLI_UPGRADE_VALUES_H

#include <cstddef>
#include <functional>

#include "vokid/index/index_store.h"

namespace vokid {

struct ValuesTally {
    size_t given = 0;   // tracks given their values
    size_t without = 0; // that could not be: the file gone or changed, not
                        // audio, or too little sound in it
};

// Decodes on `jobs` threads; `progress(done, total)` after each track.
// Throws IndexError when the index cannot be read or written.
ValuesTally giveMissingValues(IndexStore &store, unsigned jobs,
                              const std::function<void(size_t, size_t)> &progress);

} // namespace vokid

#endif
