// Standard input as FFmpeg input: a read-only, unseekable byte stream that
// first returns the bytes already taken from it (to tell documents from
// audio) and then reads on.
#ifndef VOKID_INPUT_STDIN_IO_H
#define VOKID_INPUT_STDIN_IO_H

#include <cstdint>
#include <string>

struct AVIOContext;

namespace vokid {

class StdinIo {
public:
    explicit StdinIo(std::string prefix);
    ~StdinIo();
    StdinIo(const StdinIo &) = delete;
    StdinIo &operator=(const StdinIo &) = delete;

    AVIOContext *context() const { return io; }

private:
    static int readPacket(void *opaque, uint8_t *buffer, int size);

    std::string prefix;
    size_t used = 0;
    AVIOContext *io = nullptr;
};

// Reads up to `limit` bytes from standard input (fewer at its end).
std::string readStdin(size_t limit);

} // namespace vokid

#endif
