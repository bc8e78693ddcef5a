#include "vokid/input/stdin_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "vokid/input/stop_request.h"

namespace vokid {

namespace {

// FFmpeg's own default buffer size for file input.
constexpr int kBufferSize = 32768;

long readSome(uint8_t *buffer, size_t size)
{
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, size);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
        if (stopRequested())
            return 0; // a stop asked for ends the input here
    }
}

} // namespace

StdinIo::StdinIo(std::string taken) : prefix(std::move(taken))
{
    auto *buffer = static_cast<uint8_t *>(av_malloc(kBufferSize));
    if (buffer)
        io = avio_alloc_context(buffer, kBufferSize, 0, this, &StdinIo::readPacket, nullptr,
                                nullptr);
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    io->seekable = 0;
}

StdinIo::~StdinIo()
{
    // The context's buffer may have been replaced by FFmpeg: free the
    // current one.
    av_freep(&io->buffer);
    avio_context_free(&io);
}

int StdinIo::readPacket(void *opaque, uint8_t *buffer, int size)
{
    auto *self = static_cast<StdinIo *>(opaque);
    if (self->used < self->prefix.size()) {
        const size_t count = std::min(self->prefix.size() - self->used, static_cast<size_t>(size));
        std::memcpy(buffer, self->prefix.data() + self->used, count);
        self->used += count;
        return static_cast<int>(count);
    }
    const long got = readSome(buffer, static_cast<size_t>(size));
    if (got == 0)
        return AVERROR_EOF;
    return got < 0 ? AVERROR(errno) : static_cast<int>(got);
}

std::string readStdin(size_t limit)
{
    std::string bytes;
    uint8_t chunk[65536];
    while (bytes.size() < limit) {
        const long got = readSome(chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (got < 0)
            throw std::runtime_error(std::string("cannot read standard input: ") +
                                     std::strerror(errno));
        if (got == 0)
            break;
        bytes.append(reinterpret_cast<const char *>(chunk), static_cast<size_t>(got));
    }
    return bytes;
}

} // namespace vokid
