#include "vokid/input/memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "vokid/input/input_error.h"
#include "vokid/support/system_cause.h"

namespace vokid {

MemoryFile::MemoryFile(std::string_view bytes)
{
    fd = memfd_create("vokid-upload", MFD_CLOEXEC);
    if (fd < 0)
        throw InputError(systemCause(errno));
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const int cause = count < 0 ? errno : ENOSPC;
            close(fd);
            throw InputError(systemCause(cause));
        }
        written += static_cast<size_t>(count);
    }
    name = "/proc/self/fd/" + std::to_string(fd);
}

MemoryFile::~MemoryFile()
{
    close(fd);
}

} // namespace vokid
