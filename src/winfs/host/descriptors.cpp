// The folders the host layer holds (Handle, Cursor) and every open of names below a held folder
// with no link followed: openat2 with RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH, or one O_NOFOLLOW
// open a name.
#include "host/host.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <utility>

#include "host/host_internal.h"
#include "pathprobe/winfs/error.h"

namespace winfs::host {

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

Result<Handle> openFolder(const std::string& host) {
    Handle folder(::open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return Error::last();
    return folder;
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

}  // namespace winfs::host
