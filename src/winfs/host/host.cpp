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
bool Error::missing() const noexcept {
    return value_ == ENOENT;
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

// Names below a handle are re-anchored past this many bytes, well inside PATH_MAX with one more
// name (at most 255 bytes) added.
constexpr std::size_t kLongestBelow = 2048;

}  // namespace

Cursor::Cursor(int folder, std::string host) : host_(std::move(host)) {
    anchors_.push_back({nullptr, folder, host_.size() + (host_.back() == '/' ? 0 : 1), 0});
}

Place Cursor::placeIn(const std::string& full) const {
    const Anchor& anchor = anchors_.back();
    if (anchor.fd < 0) return {-1, full.c_str()};
    return {anchor.fd, full.size() > anchor.at ? full.c_str() + anchor.at : "."};
}

Place Cursor::place() const {
    return placeIn(host_);
}

Place Cursor::placeOf(std::string_view name, std::string& scratch) const {
    scratch.assign(host_);
    if (scratch.back() != '/') scratch.push_back('/');
    scratch.append(name);
    return placeIn(scratch);
}

Error Cursor::descend(std::string_view name) {
    const Anchor& last = anchors_.back();
    if (last.fd >= 0 && host_.size() > last.at + kLongestBelow) {
        auto handle = std::make_shared<const Handle>(
            ::openat(last.fd, host_.c_str() + last.at, O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!*handle) return Error::last();
        const int fd = handle->get();
        anchors_.push_back({std::move(handle), fd, host_.size() + 1, marks_.size()});
    }
    marks_.push_back(host_.size());
    if (host_.back() != '/') host_.push_back('/');
    host_.append(name);
    return {};
}

void Cursor::truncate(std::size_t depth) {
    if (depth >= marks_.size()) return;
    host_.resize(marks_[depth]);
    marks_.resize(depth);
    while (anchors_.size() > 1 && anchors_.back().depth > depth)
        anchors_.pop_back();
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
    for (int round = 0; round < 8; ++round) {
        if (wantType) {
            struct stat st {};
            if (::fstatat(at, place.below, &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::last();
            entry.type = typeFromMode(st.st_mode);
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
    if (::fstatat(descriptor(place), place.below, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
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
    const Handle folder(::openat(descriptor(place), place.below, O_PATH | O_DIRECTORY | O_CLOEXEC));
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
    if (::fstatat(descriptor(place), *place.below != '\0' ? place.below : ".", &st,
                  follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        return Error::last();
    }
    return Stat{typeFromMode(st.st_mode),
                static_cast<std::uint32_t>(st.st_mode & 07777),
                static_cast<std::uint64_t>(st.st_size),
                static_cast<std::uint64_t>(st.st_nlink),
                static_cast<std::uint64_t>(st.st_dev),
                static_cast<std::uint64_t>(st.st_ino),
                timeOf(st.st_mtim)};
}

bool sameFile(Place one, Place two) {
    const Result<Stat> first = statAt(one, false);
    const Result<Stat> second = statAt(two, false);
    return first && second && first->device == second->device && first->inode == second->inode;
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
    const Handle entry(
        ::openat(descriptor(place), *place.below != '\0' ? place.below : ".", O_PATH | O_CLOEXEC));
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

Result<Handle> openLinkFree(Place place, LastLink last) {
    static std::atomic<bool> lacking{false};
    if (lacking.load(std::memory_order_relaxed)) return Error(ENOSYS);
    open_how how{};
    how.flags =
        static_cast<std::uint64_t>(O_PATH | O_CLOEXEC | (last == LastLink::open ? O_NOFOLLOW : 0));
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, descriptor(place),
                              *place.below != '\0' ? place.below : ".", &how, sizeof how);
    if (fd < 0) {
        const Error error = Error::last();
        if (error.unsupported()) lacking.store(true, std::memory_order_relaxed);
        return error;
    }
    return Handle(static_cast<int>(fd));
}

namespace {

constexpr int kFolderToChange = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

Result<Handle> openChildFolder(int parent, const char* name) {
    Handle folder(::openat(parent, name, kFolderToChange));
    if (!folder) return Error::last();
    return folder;
}

Result<Handle> openFolderBeneath(Place place) {
    static std::atomic<bool> lacking{false};
    if (place.folder >= 0 && !lacking.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<std::uint64_t>(kFolderToChange);
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
        const long fd = ::syscall(SYS_openat2, place.folder, nameOf(place), &how, sizeof how);
        if (fd >= 0) return Handle(static_cast<int>(fd));
        const Error error = Error::last();
        if (!error.unsupported()) return error;
        lacking.store(true, std::memory_order_relaxed);
    }
    // One name at a time, each opened with no link followed from the folder before it.
    std::string_view rest = place.below;
    Handle folder;
    int at = descriptor(place);
    if (rest.starts_with('/')) {
        folder = Handle(::open("/", kFolderToChange));
        if (!folder) return Error::last();
        at = folder.get();
    }
    std::string name;
    bool any = false;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('/'), rest.size());
        name.assign(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (name.empty() || name == ".") continue;
        if (name == "..") return Error(EXDEV);  // never above the handle, as RESOLVE_BENEATH
        Result<Handle> next = openChildFolder(at, name.c_str());
        if (!next) return next.error();
        folder = std::move(*next);
        at = folder.get();
        any = true;
    }
    if (!any) return openChildFolder(at, ".");
    return folder;
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
