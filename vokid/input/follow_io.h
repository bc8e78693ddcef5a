// A file still being written as FFmpeg input, read as `tail -f` reads it:
// at its end the read waits for it to grow (polling every 0.1 s) instead
// of ending, so the input ends only when the program is stopped.
// Unseekable, so that a demuxer never looks past the data for more.
#ifndef VOKID_INPUT_FOLLOW_IO_H
#define VOKID_INPUT_FOLLOW_IO_H

#include <cstdint>
#include <string>

struct AVIOContext;

namespace vokid {

class FollowIo {
public:
    // Throws InputError when the file cannot be opened.
    explicit FollowIo(const std::string &path);
    ~FollowIo();
    FollowIo(const FollowIo &) = delete;
    FollowIo &operator=(const FollowIo &) = delete;

    AVIOContext *context() const { return io; }

private:
    static int readPacket(void *opaque, uint8_t *buffer, int size);

    int descriptor = -1;
    AVIOContext *io = nullptr;
};

} // namespace vokid

#endif
