// Names made, removed, moved and linked in a held folder, and a file's data copied onto another.
#include "host/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "host/host_internal.h"
#include "pathprobe/winfs/error.h"

namespace winfs::host {

Error makeFolder(Place place) {
    return ::mkdirat(descriptor(place), place.below, 0777) == 0 ? Error() : Error::last();
}

Error makeFolders(const std::string& host) {
    for (std::size_t end = host.find('/', 1);; end = host.find('/', end + 1)) {
        const std::string sofar = host.substr(0, end);
        if (::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST) return Error::last();
        if (end == std::string::npos) return {};
    }
}

Error makeLink(const std::string& target, Place place) {
    return ::symlinkat(target.c_str(), descriptor(place), place.below) == 0 ? Error()
                                                                            : Error::last();
}

Error removeName(Place place) {
    return ::unlinkat(descriptor(place), place.below, 0) == 0 ? Error() : Error::last();
}

Error removeFolder(Place place) {
    return ::unlinkat(descriptor(place), place.below, AT_REMOVEDIR) == 0 ? Error() : Error::last();
}

Error moveName(Place from, Place to, Replacing replacing) {
    const unsigned flags = replacing == Replacing::refused ? RENAME_NOREPLACE : 0U;
    return ::renameat2(descriptor(from), from.below, descriptor(to), to.below, flags) == 0
               ? Error()
               : Error::last();
}

Error exchangeNames(Place one, Place two) {
    return ::renameat2(descriptor(one), one.below, descriptor(two), two.below, RENAME_EXCHANGE) == 0
               ? Error()
               : Error::last();
}

Error makeHardLink(Place target, Place link) {
    return ::linkat(descriptor(target), target.below, descriptor(link), link.below, 0) == 0
               ? Error()
               : Error::last();
}

namespace {

// The bytes of `in` onto `out`: in the kernel (copy_file_range) where the file systems allow it,
// else through a buffer, from where the kernel stopped.
Error copyBytes(int in, int out) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
        if (n == 0) return {};
        if (n > 0) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return Error::last();
        break;
    }
    std::vector<char> buffer(std::size_t{1} << 17);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0 ? Error() : Error::last();
        for (ssize_t put = 0; put < got;) {
            const ssize_t n =
                ::write(out, buffer.data() + put, static_cast<std::size_t>(got - put));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Error::last();
            put += n;
        }
    }
}

// The source's permission bits and last change time onto the copy.
Error copyStamp(int out, const struct stat& source) {
    if (::fchmod(out, source.st_mode & 07777) != 0) return Error::last();
    const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, source.st_mtim};
    return ::futimens(out, times.data()) == 0 ? Error() : Error::last();
}

}  // namespace

Error copyData(Place from, Place to, Replacing replacing) {
    const Handle in(::openat(descriptor(from), from.below, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in) return Error::last();
    struct stat source {};
    if (::fstat(in.get(), &source) != 0) return Error::last();
    if (S_ISDIR(source.st_mode)) return Error(EISDIR);
    const bool fresh = replacing == Replacing::refused;
    const Handle out(::openat(descriptor(to), to.below,
                              O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fresh ? O_EXCL : 0),
                              0600));
    if (!out) return Error::last();
    // Never cut the source: a copy onto the file itself is refused before anything is written.
    struct stat target {};
    if (::fstat(out.get(), &target) != 0) return Error::last();
    if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) return Error(EBUSY);
    Error error;
    if (::ftruncate(out.get(), 0) != 0) error = Error::last();
    if (!error) error = copyBytes(in.get(), out.get());
    if (!error) error = copyStamp(out.get(), source);
    if (error && fresh) ::unlinkat(descriptor(to), to.below, 0);  // no half copy left behind
    return error;
}

}  // namespace winfs::host
