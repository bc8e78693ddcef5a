// An index that cannot be used: not an index, a damaged one, or one the
// store refuses. The message names the cause; callers add the folder.
#ifndef VOKID_INDEX_INDEX_ERROR_H
#define VOKID_INDEX_INDEX_ERROR_H

#include <stdexcept>
#include <string>

namespace vokid {

class IndexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A write that found no room ("no space left on device"): what was
// committed before it is kept.
class NoSpaceError : public IndexError {
public:
    using IndexError::IndexError;
};

// An index of an older format, which this vokid reads but converts
// (vokid upgrade) before it writes to it.
class OlderFormat : public IndexError {
public:
    using IndexError::IndexError;
};

// What the index holds is not what was written: a record or a page that
// does not read back, a fault while reading the store's file. The message
// starts "the index is damaged: " and then names what was found.
class IndexDamaged : public IndexError {
public:
    explicit IndexDamaged(const std::string &cause) : IndexError("the index is damaged: " + cause)
    {
    }
};

} // namespace vokid

#endif
