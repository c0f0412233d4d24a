// The changes to one name's time, mode and size, of host.h: each on the name itself, with no link
// followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <limits>

#include "host/host.h"
#include "host/host_internal.h"

namespace winfs::host {

namespace {

Error setModifiedAt(int at, const char* name, const timespec& modified) {
    const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, modified};
    return ::utimensat(at, name, times.data(), AT_SYMLINK_NOFOLLOW) == 0 ? Error() : Error::last();
}

// Whether the file system stored `wanted` as `stored`: cut to its granularity, which is at most
// FAT's two seconds, and not moved to the nearest time it holds.
bool storedAs(Time wanted, Time stored) noexcept {
    if (stored > wanted) return false;
    // In unsigned arithmetic the difference of two int64 seconds, the later first, is exact.
    const std::uint64_t seconds =
        static_cast<std::uint64_t>(wanted.seconds) - static_cast<std::uint64_t>(stored.seconds);
    if (seconds > 2) return false;
    const std::int64_t apart = static_cast<std::int64_t>(seconds) * 1'000'000'000 +
                               wanted.nanoseconds - stored.nanoseconds;
    return apart < 2'000'000'000;
}

// lstat of the name, which must not be a link: one there now stands where the walk saw none.
Error statNoLink(int at, const char* name, struct stat& st) {
    if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::last();
    return S_ISLNK(st.st_mode) ? Error(ELOOP) : Error();
}

}  // namespace

Error setModified(Place place, Time modified) {
    static_assert(sizeof(time_t) == sizeof modified.seconds, "a Time's seconds fit a timespec");
    const int at = descriptor(place);
    const char* name = nameOf(place);
    struct stat before {};
    if (const Error error = statNoLink(at, name, before)) return error;
    const timespec wanted{static_cast<time_t>(modified.seconds),
                          static_cast<long>(modified.nanoseconds)};
    if (const Error error = setModifiedAt(at, name, wanted)) return error;
    struct stat after {};
    if (::fstatat(at, name, &after, AT_SYMLINK_NOFOLLOW) != 0) return Error::last();
    if (storedAs(modified, timeOf(after.st_mtim))) return {};
    setModifiedAt(at, name, before.st_mtim);  // the time it had, as a refused time leaves it
    return Error(EINVAL);
}

Error setMode(Place place, std::uint32_t mode) {
    const int at = descriptor(place);
    const char* name = nameOf(place);
    struct stat st {};
    if (const Error error = statNoLink(at, name, st)) return error;
    // With AT_SYMLINK_NOFOLLOW the change goes to the name's own file, whatever it became since.
    return ::fchmodat(at, name, static_cast<mode_t>(mode), AT_SYMLINK_NOFOLLOW) == 0
               ? Error()
               : Error::last();
}

Error resizeFile(Place place, std::uint64_t size) {
    // O_NONBLOCK: a FIFO without a reader fails at once rather than waiting for one.
    const Handle file(
        ::openat(descriptor(place), nameOf(place), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file) return Error::last();
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return Error(EFBIG);
    return ::ftruncate(file.get(), static_cast<off_t>(size)) == 0 ? Error() : Error::last();
}

}  // namespace winfs::host
