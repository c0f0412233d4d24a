#include "pathprobe/winfs/changes.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "operations/operations_internal.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "text/names.h"

namespace winfs {

Found existingOn(const path& p, Lookup lookup, std::error_code& ec) {
    Found found{drives(), {}};
    found.at = resolveOn(*found.map, p, lookup, ec);
    if (ec) return found;
    if (!onTheHost(found.at)) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
    } else if (!found.at.rest.empty()) {
        ec = found.at.missing;
    }
    return found;
}

host::Place Slot::place(std::string& scratch) const {
    return exists ? found.folder.place() : found.folder.placeOf(name, scratch);
}

host::Place Slot::givenName(host::Cursor& parent, std::string& scratch) const {
    parent = found.folder;
    if (exists) parent.truncate(parent.depth() - 1);
    return parent.placeOf(name, scratch);
}

Slot slotFor(const path& p, std::error_code& ec) {
    Slot slot{drives(), {}, false, {}};
    path full = absoluteOn(*slot.map, p, ec);
    if (ec) return slot;
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return slot;
    }
    // "c:\zor\new\" names "new".
    if (!full.has_filename() && full.has_relative_path()) full = full.parent_path();
    slot.name = full.filename().native();
    slot.found = resolve(*slot.map, full, kSymlinkStatus, ec);
    if (ec) return slot;
    if (!onTheHost(slot.found)) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
        return slot;
    }
    slot.exists = slot.found.rest.empty();
    if (slot.exists) return slot;
    if (slot.found.rest.has_parent_path() || slot.found.type != file_type::directory) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
    } else {
        ec = checkNewNames(slot.found.rest);
    }
    return slot;
}

bool isFolderAt(host::Place place) {
    const host::Result<host::Stat> st = host::statAt(place, true);
    return st && st->type == file_type::directory;
}

bool makeDirectory(const path& p, const path* existing, std::error_code& ec) {
    std::uint32_t mode = 0;
    if (existing != nullptr) {
        const Found model = existingOn(*existing, kStatus, ec);
        if (ec) return false;
        const host::Result<host::Stat> st = host::statAt(model.at.folder.place(), true);
        if (!st) {
            ec = st.error().windows(host::At::lastName);
            return false;
        }
        mode = st->mode;
    }
    const Slot slot = slotFor(p, ec);
    if (ec) return false;
    std::string scratch;
    const host::Place place = slot.place(scratch);
    if (slot.exists) {
        if (!isFolderAt(place)) ec = make_error_code(ERROR_ALREADY_EXISTS);
        return false;
    }
    if (const host::Error error = host::makeFolder(place)) {
        if (!(error.alreadyThere() && isFolderAt(place))) ec = error.windows(host::At::lastName);
        return false;
    }
    if (existing != nullptr) {
        if (const host::Error error = host::setMode(place, mode)) {
            ec = error.windows(host::At::lastName);
        }
    }
    return true;
}

void makeHardLink(const path& target, const path& link, std::error_code& ec) {
    const Slot existing = slotFor(target, ec);
    if (ec) return;
    if (!existing.exists) {
        ec = existing.found.missing;
        return;
    }
    if (existing.found.type == file_type::directory) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
        return;
    }
    const Slot name = slotFor(link, ec);
    if (ec) return;
    if (name.exists) {
        ec = make_error_code(ERROR_ALREADY_EXISTS);
    } else if (name.found.drive != existing.found.drive) {
        ec = make_error_code(ERROR_NOT_SAME_DEVICE);
    } else {
        std::string a;
        std::string b;
        if (const host::Error error = host::makeHardLink(existing.place(a), name.place(b))) {
            ec = error.windows(host::At::lastName);
        }
    }
}

host::Error namesIn(host::Place place, std::vector<std::string>& names) {
    names.clear();
    host::Listed listed;
    return host::listFolder(place, listed,
                            [&](std::string_view name) { names.emplace_back(name); });
}

namespace {

// A drive's root is never removed nor moved, as Windows refuses it.
bool isRoot(const Slot& slot) {
    return slot.exists && slot.found.folder.depth() == 0;
}

bool removeOne(const path& p, std::error_code& ec) {
    Slot slot = slotFor(p, ec);
    // Nothing there, however it is missing, is nothing to remove, as DeleteFileW's "not found".
    if ((ec && isNotFound(ec)) || (!ec && !slot.exists)) {
        ec.clear();
        return false;
    }
    if (ec) return false;
    if (isRoot(slot)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
        return false;
    }
    std::string scratch;
    const host::Place place = slot.place(scratch);
    const host::Error error = slot.found.type == file_type::directory ? host::removeFolder(place)
                                                                      : host::removeName(place);
    if (error && !error.missing()) ec = error.windows(host::At::lastName);
    return !error;
}

// Removes everything in the folder at `folder`, depth first without recursion, so that a tree as
// deep as Windows allows takes no more stack than a flat one. Counts what it removed.
std::uintmax_t removeContents(host::Cursor folder, std::error_code& ec) {
    struct Level {
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    const std::size_t top = folder.depth();
    std::vector<Level> levels(1);
    std::uintmax_t removed = 0;
    std::string scratch;
    host::Error error = namesIn(folder.place(), levels.back().names);
    while (!error) {
        Level& level = levels.back();
        if (level.next == level.names.size()) {
            if (levels.size() == 1) break;
            levels.pop_back();
            folder.truncate(top + levels.size() - 1);
            const std::string& name = levels.back().names[levels.back().next - 1];
            error = host::removeFolder(folder.placeOf(name, scratch));
            if (!error) ++removed;
            continue;
        }
        const std::string& name = level.names[level.next++];
        error = host::removeName(folder.placeOf(name, scratch));
        if (!error) {
            ++removed;
        } else if (error.aFolder()) {
            if (!(error = folder.descend(name))) {
                levels.emplace_back();
                error = namesIn(folder.place(), levels.back().names);
            }
        } else if (error.missing()) {
            error = {};  // removed by someone else
        }
    }
    if (error) ec = error.windows(host::At::lastName);
    return removed;
}

std::uintmax_t removeAll(const path& p, std::error_code& ec) {
    Slot slot = slotFor(p, ec);
    if ((ec && isNotFound(ec)) || (!ec && !slot.exists)) {
        ec.clear();
        return 0;
    }
    if (ec) return 0;
    if (isRoot(slot)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
        return 0;
    }
    std::uintmax_t removed = 0;
    if (slot.found.type == file_type::directory) {
        removed = removeContents(slot.found.folder, ec);
        if (ec) return removed;
    }
    std::string scratch;
    const host::Place place = slot.place(scratch);
    const host::Error error = slot.found.type == file_type::directory ? host::removeFolder(place)
                                                                      : host::removeName(place);
    if (error && !error.missing()) ec = error.windows(host::At::lastName);
    return error ? removed : removed + 1;
}

bool sameFile(host::Place a, host::Place b) {
    const host::Result<host::Stat> one = host::statAt(a, false);
    const host::Result<host::Stat> two = host::statAt(b, false);
    return one && two && one->device == two->device && one->inode == two->inode;
}

// `from` over the entry `to`, which is there and may be in another case; then the name takes the
// case given. Two names of one file (hard links) leave the one moved onto, as on Windows, where
// the host's rename would keep both.
void replaceEntry(const Slot& from, const Slot& to, std::error_code& ec) {
    std::string a;
    std::string b;
    const host::Place source = from.place(a);
    const host::Place target = to.place(b);
    host::Error error = sameFile(source, target)
                            ? host::removeName(source)
                            : host::moveName(source, target, host::Replacing::allowed);
    if (!error && to.found.head.filename().native() != to.name) {
        host::Cursor parent;
        std::string c;
        error = host::moveName(target, to.givenName(parent, c), host::Replacing::refused);
    }
    if (error) ec = error.windows(host::At::lastName);
}

void renameOne(const path& from, const path& to, std::error_code& ec) {
    const Slot source = slotFor(from, ec);
    if (ec) return;
    if (!source.exists) {
        ec = source.found.missing;
        return;
    }
    const Slot target = slotFor(to, ec);
    if (ec) return;
    if (isRoot(source) || isRoot(target)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
    } else if (source.found.drive != target.found.drive) {
        ec = make_error_code(ERROR_NOT_SAME_DEVICE);
    } else if (target.exists && source.found.folder.host() == target.found.folder.host()) {
        // The same entry: a change of case alone, or nothing at all.
        if (target.found.head.filename().native() == target.name) return;
        std::string a;
        std::string b;
        host::Cursor parent;
        const host::Error error =
            host::moveName(source.place(a), target.givenName(parent, b), host::Replacing::refused);
        if (error) ec = error.windows(host::At::lastName);
    } else if (target.exists) {
        const bool folders =
            source.found.type == file_type::directory || target.found.type == file_type::directory;
        if (folders) {
            ec = make_error_code(ERROR_ACCESS_DENIED);
        } else {
            replaceEntry(source, target, ec);
        }
    } else {
        std::string a;
        std::string b;
        const host::Error error =
            host::moveName(source.place(a), target.place(b), host::Replacing::refused);
        if (error) ec = error.windows(host::At::folderOnTheWay);
    }
}

void setWriteTime(const path& p, file_time_type time, std::error_code& ec) {
    const Found found = existingOn(p, kStatus, ec);
    if (ec) return;
    using std::chrono::nanoseconds;
    const auto since1970 = file_clock::to_sys(time).time_since_epoch();
    constexpr auto kLimit = std::chrono::duration_cast<file_clock::duration>(nanoseconds::max());
    if (since1970 > kLimit || since1970 < -kLimit) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);  // beyond what the host's clock holds
        return;
    }
    const auto ns = std::chrono::duration_cast<nanoseconds>(since1970).count();
    if (const host::Error error = host::setModified(found.at.folder.place(), ns)) {
        ec = error.windows(host::At::lastName);
    }
}

// Whether the change leaves the file read-only, as Microsoft's library decides it: only the write
// bits count. Empty when it changes nothing.
std::optional<bool> readOnlyAfter(perms prms, perm_options opts, std::error_code& ec) {
    const perms writes = perms::owner_write | perms::group_write | perms::others_write;
    const bool writable = (prms & writes) != perms::none;
    switch (opts & (perm_options::replace | perm_options::add | perm_options::remove)) {
        case perm_options::replace:
            return !writable;
        case perm_options::add:
            return writable ? std::optional<bool>(false) : std::nullopt;
        case perm_options::remove:
            return writable ? std::optional<bool>(true) : std::nullopt;
        default:
            ec = make_error_code(ERROR_INVALID_PARAMETER);
            return std::nullopt;
    }
}

void changePermissions(const path& p, perms prms, perm_options opts, std::error_code& ec) {
    const std::optional<bool> readOnly = readOnlyAfter(prms, opts, ec);
    if (ec) return;
    const bool follow = (opts & perm_options::nofollow) == perm_options{};
    const Found found = existingOn(p, follow ? kStatus : kSymlinkStatus, ec);
    if (ec || !readOnly || found.at.type == file_type::directory) return;
    if (found.at.type == file_type::symlink) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);  // the host keeps no bits on a link
        return;
    }
    const host::Place place = found.at.folder.place();
    const host::Result<host::Stat> st = host::statAt(place, false);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return;
    }
    // Read-only takes every write bit away; writable gives the owner's back, and no one else's.
    const std::uint32_t mode = *readOnly ? st->mode & ~std::uint32_t{0222} : st->mode | 0200U;
    if (mode == st->mode) return;
    if (const host::Error error = host::setMode(place, mode))
        ec = error.windows(host::At::lastName);
}

void resizeOne(const path& p, std::uintmax_t size, std::error_code& ec) {
    const Found found = existingOn(p, kStatus, ec);
    if (ec) return;
    if (size > std::numeric_limits<std::int64_t>::max()) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);
    } else if (const host::Error error = host::resizeFile(found.at.folder.place(), size)) {
        ec = error.windows(host::At::lastName);
    }
}

bool createDirectoryOf(const path& p, const path* existing, std::error_code* ec) {
    return reported("create_directory", ec, p, existing != nullptr ? *existing : path(),
                    [&](std::error_code& code) { return makeDirectory(p, existing, code); });
}

void hardLinkOf(const path& target, const path& link, std::error_code* ec) {
    reported("create_hard_link", ec, target, link,
             [&](std::error_code& code) { makeHardLink(target, link, code); });
}

void setWriteTimeOf(const path& p, file_time_type time, std::error_code* ec) {
    reported("last_write_time", ec, p, [&](std::error_code& code) { setWriteTime(p, time, code); });
}

void changePermissionsOf(const path& p, perms prms, perm_options opts, std::error_code* ec) {
    reported("permissions", ec, p,
             [&](std::error_code& code) { changePermissions(p, prms, opts, code); });
}

bool removeOf(const path& p, std::error_code* ec) {
    return reported("remove", ec, p, [&](std::error_code& code) { return removeOne(p, code); });
}

std::uintmax_t removeAllOf(const path& p, std::error_code* ec) {
    return reported("remove_all", ec, p, [&](std::error_code& code) {
        const std::uintmax_t removed = removeAll(p, code);
        return code ? static_cast<std::uintmax_t>(-1) : removed;
    });
}

void renameOf(const path& from, const path& to, std::error_code* ec) {
    reported("rename", ec, from, to, [&](std::error_code& code) { renameOne(from, to, code); });
}

void resizeOf(const path& p, std::uintmax_t size, std::error_code* ec) {
    reported("resize_file", ec, p, [&](std::error_code& code) { resizeOne(p, size, code); });
}

}  // namespace

// clang-format off
bool create_directory(const path& p) { return createDirectoryOf(p, nullptr, nullptr); }
bool create_directory(const path& p, std::error_code& ec) { return createDirectoryOf(p, nullptr, &ec); }
bool create_directory(const path& p, const path& existing) {
    return createDirectoryOf(p, &existing, nullptr);
}
bool create_directory(const path& p, const path& existing, std::error_code& ec) {
    return createDirectoryOf(p, &existing, &ec);
}
void create_hard_link(const path& target, const path& link) { hardLinkOf(target, link, nullptr); }
void create_hard_link(const path& target, const path& link, std::error_code& ec) {
    hardLinkOf(target, link, &ec);
}
void last_write_time(const path& p, file_time_type time) { setWriteTimeOf(p, time, nullptr); }
void last_write_time(const path& p, file_time_type time, std::error_code& ec) {
    setWriteTimeOf(p, time, &ec);
}
void permissions(const path& p, perms prms, perm_options opts) { changePermissionsOf(p, prms, opts, nullptr); }
void permissions(const path& p, perms prms, std::error_code& ec) {
    changePermissionsOf(p, prms, perm_options::replace, &ec);
}
void permissions(const path& p, perms prms, perm_options opts, std::error_code& ec) {
    changePermissionsOf(p, prms, opts, &ec);
}
bool remove(const path& p) { return removeOf(p, nullptr); }
bool remove(const path& p, std::error_code& ec) { return removeOf(p, &ec); }
std::uintmax_t remove_all(const path& p) { return removeAllOf(p, nullptr); }
std::uintmax_t remove_all(const path& p, std::error_code& ec) { return removeAllOf(p, &ec); }
void rename(const path& from, const path& to) { renameOf(from, to, nullptr); }
void rename(const path& from, const path& to, std::error_code& ec) { renameOf(from, to, &ec); }
void resize_file(const path& p, std::uintmax_t size) { resizeOf(p, size, nullptr); }
void resize_file(const path& p, std::uintmax_t size, std::error_code& ec) { resizeOf(p, size, &ec); }
// clang-format on

}  // namespace winfs
