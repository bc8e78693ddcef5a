#include "vokid/input/follow_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "vokid/input/input_error.h"
#include "vokid/input/stop_request.h"

namespace vokid {

namespace {

constexpr int kBufferSize = 32768;
constexpr useconds_t kPollMicroseconds = 100000;

} // namespace

FollowIo::FollowIo(const std::string &path)
{
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        throw InputError(std::strerror(errno));
    auto *buffer = static_cast<uint8_t *>(av_malloc(kBufferSize));
    if (buffer)
        io = avio_alloc_context(buffer, kBufferSize, 0, this, &FollowIo::readPacket, nullptr,
                                nullptr);
    if (!io) {
        av_free(buffer);
        ::close(descriptor);
        throw std::bad_alloc();
    }
    io->seekable = 0;
}

FollowIo::~FollowIo()
{
    av_freep(&io->buffer);
    avio_context_free(&io);
    ::close(descriptor);
}

int FollowIo::readPacket(void *opaque, uint8_t *buffer, int size)
{
    auto *self = static_cast<FollowIo *>(opaque);
    for (;;) {
        const ssize_t got = ::read(self->descriptor, buffer, static_cast<size_t>(size));
        if (got > 0)
            return static_cast<int>(got);
        if (got < 0 && errno != EINTR)
            return AVERROR(errno);
        if (stopRequested())
            return AVERROR_EOF; // a stop asked for ends the file here
        if (got == 0)
            usleep(kPollMicroseconds);
    }
}

} // namespace vokid
