// What a name is: its type, its stat, its link's target, the space of its file system, each
// read in a held folder with no link followed unless asked.
#include "host/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "host/host_internal.h"
#include "pathprobe/winfs/error.h"

namespace winfs::host {

namespace {

file_type typeFromMode(mode_t mode) noexcept {
    if (S_ISREG(mode)) return file_type::regular;
    if (S_ISDIR(mode)) return file_type::directory;
    if (S_ISLNK(mode)) return file_type::symlink;
    if (S_ISBLK(mode)) return file_type::block;
    if (S_ISCHR(mode)) return file_type::character;
    if (S_ISFIFO(mode)) return file_type::fifo;
    if (S_ISSOCK(mode)) return file_type::socket;
    return file_type::unknown;
}

Stat statFrom(const struct stat& st) noexcept {
    return Stat{typeFromMode(st.st_mode),
                static_cast<std::uint32_t>(st.st_mode & 07777),
                static_cast<std::uint64_t>(st.st_size),
                static_cast<std::uint64_t>(st.st_nlink),
                static_cast<std::uint64_t>(st.st_dev),
                static_cast<std::uint64_t>(st.st_ino),
                timeOf(st.st_mtim)};
}

// readlinkat into `target`, growing the buffer as the target needs.
Error readLinkAt(int at, const char* name, std::string& target) {
    target.resize(std::max(target.capacity(), std::size_t{256}));
    for (;;) {
        const ssize_t n = ::readlinkat(at, name, target.data(), target.size());
        if (n < 0) {
            const Error error = Error::last();
            target.clear();
            return error;
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return {};
        }
        target.resize(target.size() * 2);
    }
}

}  // namespace

Error lookAt(Place place, bool wantType, Entry& entry) {
    const int at = descriptor(place);
    // One call tells what the name is, so that a name renamed right after is still seen as it
    // was: readlink where only a link matters, lstat where the type does, then readlink for a
    // link's target. A name swapped between a link and something else between those two calls is
    // looked at again; a few rounds settle any swap that is not continuous.
    entry.stat.reset();
    for (int round = 0; round < 8; ++round) {
        if (wantType) {
            struct stat st {};
            if (::fstatat(at, place.below, &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::last();
            entry.stat = statFrom(st);
            entry.type = entry.stat->type;
            if (entry.type != file_type::symlink) return {};
        }
        const Error error = readLinkAt(at, place.below, entry.target);
        if (!error) {
            entry.type = file_type::symlink;
            return {};
        }
        if (!wantType) {
            if (!error.notALink()) return error;
            entry.type = file_type::unknown;
            return {};
        }
        if (!error.notALink() && !error.missing()) return error;
    }
    return Error(EAGAIN);
}

Result<file_type> typeAt(Place place, bool follow) {
    struct stat st {};
    if (::fstatat(descriptor(place), nameOf(place), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        return Error::last();
    }
    return typeFromMode(st.st_mode);
}

bool isFolderAt(Place place) {
    const Result<file_type> type = typeAt(place, true);
    return type && *type == file_type::directory;
}

Result<std::string> readLink(const std::string& link) {
    std::string target;
    if (const Error error = readLinkAt(AT_FDCWD, link.c_str(), target)) return error;
    return target;
}

Result<Stat> statAt(Place place, bool follow) {
    struct stat st {};
    if (::fstatat(descriptor(place), nameOf(place), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        return Error::last();
    }
    return statFrom(st);
}

bool sameFile(Place one, Place two) {
    const Result<Stat> first = statAt(one, false);
    const Result<Stat> second = statAt(two, false);
    return first && second && sameFile(*first, *second);
}

Result<Space> spaceAt(Place place) {
    const Handle entry(::openat(descriptor(place), nameOf(place), O_PATH | O_CLOEXEC));
    if (!entry) return Error::last();
    struct statvfs fs {};
    if (::fstatvfs(entry.get(), &fs) != 0) return Error::last();
    const auto bytes = [&](fsblkcnt_t blocks) {
        return static_cast<std::uint64_t>(blocks) * static_cast<std::uint64_t>(fs.f_frsize);
    };
    return Space{bytes(fs.f_blocks), bytes(fs.f_bfree), bytes(fs.f_bavail)};
}

Result<Stat> statOf(const Handle& handle) {
    return statOf(handle.get());
}

Result<Stat> statOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Error::last();
    return statFrom(st);
}

Result<file_type> typeAt(const Handle& handle) {
    struct stat st {};
    if (::fstat(handle.get(), &st) != 0) return Error::last();
    return typeFromMode(st.st_mode);
}

Error readLinkOf(const Handle& handle, std::string& target) {
    return readLinkAt(handle.get(), "", target);
}

}  // namespace winfs::host
