// Bytes held in memory (an upload) as a file that every reader of files
// takes, and seeks in as it likes: an anonymous file in memory, gone with
// the object, never on a disk and never seen by another process.
#ifndef VOKID_INPUT_MEMORY_FILE_H
#define VOKID_INPUT_MEMORY_FILE_H

#include <string>
#include <string_view>

namespace vokid {

class MemoryFile {
public:
    // Throws InputError when the system refuses (out of memory).
    explicit MemoryFile(std::string_view bytes);
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    // A path that opens the file, while the object lives.
    const std::string &path() const { return name; }

private:
    int fd = -1;
    std::string name;
};

} // namespace vokid

#endif
