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

// The time `by` seconds before `t`; a Time of a FILETIME lies far from int64's ends.
Time earlier(Time t, std::int64_t by) noexcept {
    return {t.seconds - by, t.nanoseconds};
}

// No file system cuts a time to a granularity coarser than FAT's two seconds.
constexpr std::int64_t kCoarsest = 2;

// Sets the time and reads back what the file system stored.
Result<Time> storedFor(int at, const char* name, Time modified) {
    const timespec wanted{static_cast<time_t>(modified.seconds),
                          static_cast<long>(modified.nanoseconds)};
    if (const Error error = setModifiedAt(at, name, wanted)) return error;
    struct stat st {};
    if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::last();
    return timeOf(st.st_mtim);
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
    const Result<Time> stored = storedFor(at, name, modified);
    if (!stored) return stored.error();
    if (*stored == modified) return {};
    // Stored earlier: cut to the file system's granularity (FAT keeps even seconds, ext4 with
    // small inodes whole ones), or moved to an end of its range: ext4 keeps 2446-05-10 22:38:55
    // for any later time, and each of its two end seconds at .0 alone. A cut moves with the time,
    // a clamp stays put: set two seconds earlier, a cut is stored two seconds earlier too.
    if (*stored < modified && earlier(modified, kCoarsest) < *stored) {
        const Result<Time> probe = storedFor(at, name, earlier(modified, kCoarsest));
        if (probe && *probe == earlier(*stored, kCoarsest) && storedFor(at, name, modified))
            return {};
    }
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
