// Files opened, read and written, of host.h: each open acts on one name in a held folder (or on
// names opened with no link followed), and each call after it on the descriptor alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "host/host.h"
#include "host/host_internal.h"

namespace winfs::host {
namespace {

// O_NONBLOCK: a FIFO opens at once rather than waiting for its other end, for the caller to refuse
// it; a file's reads and writes never wait, with it or without it.
int flagsOf(FileMode mode) noexcept {
    const bool writes = mode.write || mode.append;
    int flags = mode.read && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    if (mode.append) flags |= O_APPEND;
    return flags | O_NONBLOCK | O_CLOEXEC;
}

}  // namespace

Result<Handle> openFile(Place place, FileMode mode, Create create) {
    const int flags =
        flagsOf(mode) | O_NOFOLLOW | (create == Create::exclusive ? O_CREAT | O_EXCL : 0);
    Handle file(::openat(descriptor(place), nameOf(place), flags, 0666));
    if (!file) return Error::last();
    return file;
}

Result<Handle> openFileBeneath(Place place, FileMode mode) {
    return openBeneath(place, flagsOf(mode));
}

Result<Handle> openNullDevice(FileMode mode) {
    Handle sink(::open("/dev/null", flagsOf(mode)));
    if (!sink) return Error::last();
    return sink;
}

Result<Handle> duplicateStandard(int which) {
    Handle copy(::fcntl(which, F_DUPFD_CLOEXEC, 0));
    if (!copy) return Error::last();
    return copy;
}

Result<std::size_t> readSome(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return Error::last();
    }
}

Error writeAll(int fd, const void* buffer, std::size_t size) {
    const char* bytes = static_cast<const char*>(buffer);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            return Error::last();
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return {};
}

Result<std::uint64_t> seekTo(int fd, std::int64_t offset, int origin) {
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence);
    if (at < 0) return Error::last();
    return static_cast<std::uint64_t>(at);
}

Error resizeTo(int fd, std::uint64_t size) {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return Error(EFBIG);
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? Error() : Error::last();
}

Error syncFile(int fd) {
    return ::fsync(fd) == 0 ? Error() : Error::last();
}

Error closeFile(int fd) {
    // Linux frees the descriptor whatever close says; EINTR is no failure of the file's.
    if (::close(fd) == 0 || errno == EINTR) return {};
    return Error::last();
}

}  // namespace winfs::host
