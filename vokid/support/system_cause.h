// The cause of a failed system call, in the plain words of vokid's
// messages ("no such file", "permission denied", ...).
#ifndef VOKID_SUPPORT_SYSTEM_CAUSE_H
#define VOKID_SUPPORT_SYSTEM_CAUSE_H

#include <cerrno>
#include <cstring>
#include <string>

namespace vokid {

inline std::string systemCause(int error)
{
    switch (error) {
    case ENOENT:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "a folder, not a file";
    default:
        return std::strerror(error);
    }
}

} // namespace vokid

#endif
