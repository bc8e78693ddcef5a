#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace Zuvanti {

namespace {

// The temporary file of the run, removed by a signal that ends the
// process before the run could do it. One output per process at a time;
// the path is copied before the handlers are armed, so the handler only
// reads it.
char g_pending[PATH_MAX];
volatile std::sig_atomic_t g_armed = 0;

const int kCleanupSignals[] = {SIGHUP, SIGINT, SIGTERM};
struct sigaction g_previous[sizeof kCleanupSignals / sizeof kCleanupSignals[0]];

extern "C" void RemovePendingAndDie(int signal_number)
{
    if (g_armed)
        unlink(g_pending);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void Arm(const std::string &path)
{
    std::strncpy(g_pending, path.c_str(), sizeof g_pending - 1);
    g_armed = 1;
    struct sigaction action {};
    action.sa_handler = RemovePendingAndDie;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kCleanupSignals / sizeof kCleanupSignals[0]; ++i)
        sigaction(kCleanupSignals[i], &action, &g_previous[i]);
}

void Disarm()
{
    for (size_t i = 0; i < sizeof kCleanupSignals / sizeof kCleanupSignals[0]; ++i)
        sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
    g_armed = 0;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a name finally designates: symbolic links are followed, a
// dangling one to the name it points at, so that the link stays a link.
std::string FollowLinks(std::string name)
{
    // As many hops as the system itself follows before giving up.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return name;
        char buffer[PATH_MAX];
        const ssize_t length = readlink(name.c_str(), buffer, sizeof buffer);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
            return name;
        const std::string link(buffer, static_cast<size_t>(length));
        name = link[0] == '/' ? link : FolderOf(name) + "/" + link;
    }
    return name;
}

// Names under /dev and /proc stand for devices and descriptors
// (/dev/stdout, /proc/self/fd/1): writing them means writing through them.
bool IsDeviceName(const std::string &name)
{
    return name.compare(0, 5, "/dev/") == 0 || name.compare(0, 6, "/proc/") == 0;
}

// A new file next to target that only this process opened. Its mode is
// the one the output would get: the old file's, or for a new file what
// the process's file-creation mask leaves of rw-rw-rw-.
int CreateTemporary(const std::string &target, const struct stat *old, std::string *path)
{
    static unsigned serial = 0;
    const std::string folder = FolderOf(target);
    const std::string base = target.substr(target.rfind('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = folder + "/." + base + ".vok-" + std::to_string(getpid()) + "-" +
                std::to_string(++serial);
        const int descriptor = open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno == EEXIST)
            continue;
        if (descriptor >= 0 && old) {
            if (fchown(descriptor, old->st_uid, old->st_gid) != 0) {
                // Only a privileged writer may give a file away: the new
                // file then belongs to the one who wrote it.
            }
            if (fchmod(descriptor, old->st_mode & 07777) != 0) {
                // The creator of a file may always set its mode; a file
                // system without modes keeps its own.
            }
        }
        return descriptor;
    }
    return -1;
}

} // namespace

OutputFile::OutputFile(const std::string &name)
{
    struct stat info;
    if (IsDeviceName(name) || (stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode))) {
        OpenDirect(name);
        return;
    }
    OpenReplacement(FollowLinks(name));
    if (!stream)
        OpenDirect(name);
}

OutputFile::~OutputFile()
{
    Abandon();
}

void OutputFile::OpenDirect(const std::string &name)
{
    target = name;
    stream = std::fopen(name.c_str(), "w");
}

void OutputFile::OpenReplacement(const std::string &resolved)
{
    struct stat old;
    const bool exists = stat(resolved.c_str(), &old) == 0;
    // A file the run could not overwrite is not replaced either.
    if (exists && access(resolved.c_str(), W_OK) != 0)
        return;
    std::string path;
    const int descriptor = CreateTemporary(resolved, exists ? &old : nullptr, &path);
    if (descriptor < 0)
        return;
    Arm(path);
    stream = fdopen(descriptor, "w");
    if (!stream) {
        close(descriptor);
        unlink(path.c_str());
        Disarm();
        return;
    }
    target = resolved;
    temporary = path;
}

bool OutputFile::Commit()
{
    if (!stream)
        return false;
    int reason = 0;
    if (std::fflush(stream) != 0 || std::ferror(stream))
        reason = errno != 0 ? errno : EIO;
    // The data reaches the disk before the name does, so that a crash
    // cannot leave an empty file where the old one was.
    if (reason == 0 && !temporary.empty() && fsync(fileno(stream)) != 0)
        reason = errno;
    if (std::fclose(stream) != 0 && reason == 0)
        reason = errno;
    stream = nullptr;
    if (!temporary.empty()) {
        if (reason == 0 && std::rename(temporary.c_str(), target.c_str()) != 0)
            reason = errno;
        if (reason != 0)
            unlink(temporary.c_str());
        Disarm();
        temporary.clear();
    }
    errno = reason;
    return reason == 0;
}

void OutputFile::Abandon()
{
    if (stream) {
        std::fclose(stream);
        stream = nullptr;
    }
    if (!temporary.empty()) {
        unlink(temporary.c_str());
        Disarm();
        temporary.clear();
    }
}

} // namespace Zuvanti
