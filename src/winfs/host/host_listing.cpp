// The host's readings of folders: their stamps, and their names.
#include "host/host.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <vector>

#include "host/host_internal.h"

namespace winfs::host {
namespace {

FolderStamp stampFrom(const struct stat& st) noexcept {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

// The settling time of a file system's stamps. Local ones date changes by this host's clock: most
// in nanoseconds from the kernel's coarse clock, which ticks every few milliseconds (at 100 Hz,
// every 10), FAT in two seconds. Any other (NFS, SMB, FUSE, 9p, a cluster file system) may date
// them by a clock that runs behind ours.
std::optional<std::chrono::nanoseconds> settleOf(int fd) noexcept {
    constexpr std::chrono::nanoseconds kFine = std::chrono::milliseconds(50);
    constexpr std::chrono::nanoseconds kCoarse = std::chrono::seconds(3);
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return std::nullopt;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
        case F2FS_SUPER_MAGIC:
        case OVERLAYFS_SUPER_MAGIC:  // stamped by its upper folder's file system, one of these
        case 0x2FC12FC1UL:           // ZFS
        case 0xCA451A4EUL:           // bcachefs
            return kFine;
        case MSDOS_SUPER_MAGIC:
        case 0x2011BAB0UL:  // exFAT
            return kCoarse;
        default:
            return std::nullopt;
    }
}

// The type that a folder records for a name, where its file system keeps one.
file_type typeFromRecord(unsigned char type) noexcept {
    switch (type) {
        case DT_REG:
            return file_type::regular;
        case DT_DIR:
            return file_type::directory;
        case DT_LNK:
            return file_type::symlink;
        case DT_BLK:
            return file_type::block;
        case DT_CHR:
            return file_type::character;
        case DT_FIFO:
            return file_type::fifo;
        case DT_SOCK:
            return file_type::socket;
        default:
            return file_type::unknown;
    }
}

// Every name of the open folder but "." and "..", from where its position stands: getdents64
// itself, without the two fcntl and the fstat that opendir adds.
Error readNames(int folder, const std::function<void(std::string_view, file_type)>& each) {
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (;;) {
        const long n = ::syscall(SYS_getdents64, folder, buffer.data(), buffer.size());
        if (n < 0) return Error::last();
        if (n == 0) return {};
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + at);
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") each(name, typeFromRecord(entry->d_type));
            at += entry->d_reclen;
        }
    }
}

}  // namespace

Result<FolderStamp> stampOf(Place place) {
    struct stat st {};
    if (::fstatat(descriptor(place), nameOf(place), &st, 0) != 0) {
        return Error::last();
    }
    return stampFrom(st);
}

Error listFolder(Place place, Listed& listed,
                 const std::function<void(std::string_view, file_type)>& each) {
    const Result<Handle> folder = openFolderBeneath(place);
    if (!folder) return folder.error();
    return listFolder(*folder, listed, each);
}

Error listFolder(const Handle& folder, Listed& listed,
                 const std::function<void(std::string_view, file_type)>& each) {
    if (::lseek(folder.get(), 0, SEEK_SET) != 0) return Error::last();
    // The stamp before the first name and after the last: a change made while the names are read
    // moves it, and the names read may then hold both spellings of a renamed name, or neither.
    struct stat st {};
    if (::fstat(folder.get(), &st) != 0) return Error::last();
    listed.stamp = stampFrom(st);
    listed.settle = settleOf(folder.get());
    if (const Error error = readNames(folder.get(), each)) return error;
    if (::fstat(folder.get(), &st) != 0) return Error::last();
    listed.steady = stampFrom(st) == listed.stamp;
    return {};
}

Error listFolder(Place place, Listed& listed, const std::function<void(std::string_view)>& each) {
    return listFolder(place, listed, [&](std::string_view name, file_type) { each(name); });
}

Error namesIn(const Handle& folder, std::vector<std::string>& names) {
    names.clear();
    if (::lseek(folder.get(), 0, SEEK_SET) != 0) return Error::last();
    return readNames(folder.get(),
                     [&](std::string_view name, file_type) { names.emplace_back(name); });
}

Error namesIn(Place place, std::vector<std::string>& names) {
    names.clear();
    Listed listed;
    return listFolder(place, listed, [&](std::string_view name) { names.emplace_back(name); });
}

}  // namespace winfs::host
