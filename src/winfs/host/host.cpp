#include "host/host.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

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

std::error_code windowsError(int error, At where) {
    switch (error) {
        case 0:
            return {};
        case ENOENT:
            return make_error_code(where == At::lastName ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_PATH_NOT_FOUND);
        case ENOTDIR:
            return make_error_code(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
            return make_error_code(ERROR_ACCESS_DENIED);
        case EEXIST:
            return make_error_code(ERROR_ALREADY_EXISTS);
        case ELOOP:
            return make_error_code(ERROR_CANT_RESOLVE_FILENAME);
        case ENAMETOOLONG:
            return make_error_code(ERROR_FILENAME_EXCED_RANGE);
        case ENOMEM:
            return make_error_code(ERROR_NOT_ENOUGH_MEMORY);
        case EROFS:
            return make_error_code(ERROR_WRITE_PROTECT);
        case ENOSPC:
        case EDQUOT:
            return make_error_code(ERROR_DISK_FULL);
        case ENOTEMPTY:
            return make_error_code(ERROR_DIR_NOT_EMPTY);
        case EISDIR:  // a folder opened for writing, or unlinked as a file
            return make_error_code(ERROR_ACCESS_DENIED);
        case EINVAL:
            return make_error_code(ERROR_INVALID_PARAMETER);
        case EIO:
            return make_error_code(ERROR_IO_DEVICE);
        case EMFILE:
        case ENFILE:
            return make_error_code(ERROR_TOO_MANY_OPEN_FILES);
        case EBUSY:
            return make_error_code(ERROR_BUSY);
        case EXDEV:
            return make_error_code(ERROR_NOT_SAME_DEVICE);
        case ETXTBSY:
            return make_error_code(ERROR_SHARING_VIOLATION);
        case EFBIG:
            return make_error_code(ERROR_FILE_TOO_LARGE);
        case EOPNOTSUPP:
            return make_error_code(ERROR_NOT_SUPPORTED);
        case ETIMEDOUT:
            return make_error_code(ERROR_TIMEOUT);
        default:
            return {error, std::generic_category()};
    }
}

Error Error::last() noexcept {
    return Error(errno);
}
Error Error::inUse() noexcept {
    return Error(ETXTBSY);
}
bool Error::missing() const noexcept {
    return value_ == ENOENT;
}
bool Error::denied() const noexcept {
    return value_ == EACCES;
}
bool Error::notAFolder() const noexcept {
    return value_ == ENOTDIR;
}
bool Error::alreadyThere() const noexcept {
    return value_ == EEXIST;
}
bool Error::loop() const noexcept {
    return value_ == ELOOP;
}
bool Error::unsupported() const noexcept {
    return value_ == ENOSYS;
}
bool Error::notALink() const noexcept {
    return value_ == EINVAL;
}
bool Error::scarce() const noexcept {
    return value_ == EMFILE || value_ == ENFILE || value_ == ENOMEM;
}
bool Error::notEmpty() const noexcept {
    return value_ == ENOTEMPTY || value_ == EEXIST;
}
bool Error::aFolder() const noexcept {
    return value_ == EISDIR;
}
bool Error::crossDevice() const noexcept {
    return value_ == EXDEV;
}

namespace {

// The most bytes of names that one open takes below a held folder, well inside PATH_MAX with one
// more name (at most 255 bytes) added.
constexpr std::size_t kLongestBelow = 2048;
// Held folders above the one a cursor stands at and the one above it lie this many bytes of names
// apart, or more: seven at most on the longest path, each reached again in a few opens.
constexpr std::size_t kHeldApart = 8192;

constexpr int kFolderToHold = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

Cursor::Cursor(int root, std::string host) : host_(std::move(host)) {
    anchors_.push_back({nullptr, root, 0});
}

// A name follows its mark and the '/' put before it, unless the host path ended in one ("/").
std::size_t Cursor::startOf(std::size_t name) const noexcept {
    const std::size_t mark = marks_[name];
    return mark + (host_[mark] == '/' ? 1 : 0);
}

std::size_t Cursor::endOf(std::size_t depth) const noexcept {
    return depth < marks_.size() ? marks_[depth] : host_.size();
}

const Cursor::Anchor& Cursor::heldAbove(std::size_t depth) const noexcept {
    auto it = anchors_.rbegin();
    while (it->depth > depth)
        ++it;
    return *it;
}

void Cursor::add(Anchor anchor) {
    anchors_.push_back(std::move(anchor));
    // A held folder goes when the ones beside it lie within kHeldApart bytes of names: a few stay
    // however deep the path, with the root, the folder it stands at and the one above.
    const std::size_t deepest = anchors_.back().depth;
    for (std::size_t i = anchors_.size() - 2; i > 0; --i) {
        if (anchors_[i].depth + 1 >= deepest) continue;
        const std::size_t from = anchors_[i - 1].depth;
        const std::size_t to = anchors_[i + 1].depth;
        if (endOf(to) - startOf(from) <= kHeldApart) {
            anchors_.erase(anchors_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

Result<int> Cursor::open(std::size_t depth) {
    for (;;) {
        const Anchor& above = heldAbove(depth);
        if (above.depth == depth) return above.fd;
        if (above.fd < 0) return Error(EBADF);
        // As many names as one open takes: all that are left, or those that fit.
        std::size_t to = depth;
        const std::size_t start = startOf(above.depth);
        while (to > above.depth + 1 && endOf(to) - start > kLongestBelow)
            --to;
        const std::string names = host_.substr(start, endOf(to) - start);
        Result<Handle> folder = openBeneath({above.fd, names.c_str()}, kFolderToHold);
        // A link where the walk saw a folder is no folder of this path any more.
        if (!folder) return folder.error().loop() ? Error(ENOTDIR) : folder.error();
        const int fd = folder->get();
        add({std::make_shared<const Handle>(std::move(*folder)), fd, to});
        if (to == depth) return fd;
    }
}

void Cursor::descend(std::string_view name) {
    marks_.push_back(host_.size());
    if (host_.back() != '/') host_.push_back('/');
    host_.append(name);
}

void Cursor::truncate(std::size_t depth) {
    if (depth >= marks_.size()) return;
    host_.resize(marks_[depth]);
    marks_.resize(depth);
    while (anchors_.size() > 1 && anchors_.back().depth > depth)
        anchors_.pop_back();
}

Result<Place> Cursor::here() {
    const Result<int> fd = open(depth());
    if (!fd) return fd.error();
    return Place{*fd, ""};
}

Result<Place> Cursor::in(std::string_view name, std::string& scratch) {
    const Result<int> fd = open(depth());
    if (!fd) return fd.error();
    scratch.assign(name);
    return Place{*fd, scratch.c_str()};
}

Result<Place> Cursor::beneath(std::string_view names, std::string& scratch) {
    const Anchor* above = &heldAbove(depth());
    if (above->depth < depth() && endOf(depth()) - startOf(above->depth) > kLongestBelow) {
        // Too many names for one open: the folder it stands at is held first.
        if (const Result<int> fd = open(depth()); !fd) return fd.error();
        above = &anchors_.back();
    }
    if (above->depth == depth()) {
        scratch.assign(names);
    } else {
        scratch.assign(host_, startOf(above->depth), endOf(depth()) - startOf(above->depth));
        if (!names.empty()) scratch.push_back('/');
        scratch.append(names);
    }
    return Place{above->fd, scratch.c_str()};
}

Result<Place> Cursor::entry() {
    if (depth() == 0) return Place{anchors_.front().fd, "."};
    const Result<int> fd = open(depth() - 1);
    if (!fd) return fd.error();
    return Place{*fd, host_.c_str() + startOf(depth() - 1)};
}

Result<Place> Cursor::itself() {
    const Anchor& above = heldAbove(depth());
    if (above.depth == depth()) return Place{above.fd, ""};
    return entry();
}

void Cursor::hold(Handle folder) {
    if (!folder) return;
    const int fd = folder.get();
    if (heldAbove(depth()).depth == depth()) return;
    add({std::make_shared<const Handle>(std::move(folder)), fd, depth()});
}

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Handle::~Handle() {
    if (fd_ >= 0) ::close(fd_);
}

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

Result<Handle> openFolder(const std::string& host) {
    Handle folder(::open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return Error::last();
    return folder;
}

Result<std::string> realPath(const std::string& host) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(host.c_str(), nullptr),
                                                           &std::free);
    if (!real) return Error::last();
    return std::string(real.get());
}

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) return {};
    return name.data();
}

std::optional<std::string> homeFolder() {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
    return std::string(found->pw_dir);
}

Result<std::string> readLink(const std::string& link) {
    std::string target;
    if (const Error error = readLinkAt(AT_FDCWD, link.c_str(), target)) return error;
    return target;
}

Result<std::string> workingDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
        if (errno != ERANGE) return Error::last();
        buffer.resize(buffer.size() * 2);
    }
}

Error changeDirectory(Place place) {
    if (*place.below == '\0') return ::fchdir(place.folder) == 0 ? Error() : Error::last();
    const Handle folder(
        ::openat(descriptor(place), place.below, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) return Error::last();
    return ::fchdir(folder.get()) == 0 ? Error() : Error::last();
}

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

namespace {

// Whether the host has openat2: asked once, by the first call that tries it.
std::atomic<bool> lackingOpenat2{false};

// openat2 of `names` below `at` with `flags` and `resolve`: the handle, or ENOSYS on a host
// without openat2.
Result<Handle> openat2(int at, const char* names, int flags, std::uint64_t resolve) {
    if (lackingOpenat2.load(std::memory_order_relaxed)) return Error(ENOSYS);
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = resolve;
    const long fd = ::syscall(SYS_openat2, at, names, &how, sizeof how);
    if (fd >= 0) return Handle(static_cast<int>(fd));
    const Error error = Error::last();
    if (error.unsupported()) lackingOpenat2.store(true, std::memory_order_relaxed);
    return error;
}

constexpr int kFolderToChange = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

Result<Handle> openLinkFree(Place place, LastLink last) {
    const int flags = O_PATH | O_CLOEXEC | (last == LastLink::open ? O_NOFOLLOW : 0);
    return openat2(descriptor(place), nameOf(place), flags, RESOLVE_NO_SYMLINKS);
}

Result<Handle> openChildFolder(int parent, const char* name) {
    Handle folder(::openat(parent, name, kFolderToChange));
    if (!folder) return Error::last();
    return folder;
}

Result<Handle> enterFolder(Place place) {
    Handle folder(::openat(descriptor(place), nameOf(place), kFolderToHold));
    if (!folder) return Error::last();
    return folder;
}

Result<Handle> openBeneath(Place place, int flags) {
    if (place.folder >= 0) {
        Result<Handle> opened =
            openat2(place.folder, nameOf(place), flags, RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH);
        if (opened || !opened.error().unsupported()) return opened;
    }
    // One name at a time, each opened with no link followed from the folder before it: those on
    // the way only to be passed through, the last with `flags`.
    std::string_view rest = place.below;
    Handle folder;
    int at = descriptor(place);
    if (rest.starts_with('/')) {
        folder = Handle(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder) return Error::last();
        at = folder.get();
    }
    std::string name;
    for (;;) {
        while (rest.starts_with('/') || rest.starts_with("./") || rest == ".")
            rest.remove_prefix(1);
        const std::size_t end = std::min(rest.find('/'), rest.size());
        name.assign(rest.substr(0, end));
        rest.remove_prefix(end);
        while (rest.starts_with('/') || rest.starts_with("./") || rest == ".")
            rest.remove_prefix(1);
        if (name == "..") return Error(EXDEV);  // never above the handle, as RESOLVE_BENEATH
        const bool last = rest.empty();
        Handle next(
            ::openat(at, name.empty() ? "." : name.c_str(),
                     last ? flags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) return Error::last();
        if (last) return next;
        folder = std::move(next);
        at = folder.get();
    }
}

Result<Handle> openFolderBeneath(Place place) {
    return openBeneath(place, kFolderToChange);
}

Result<Handle> openFolderToActIn(Place place) {
    return openBeneath(place, kFolderToHold);
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
