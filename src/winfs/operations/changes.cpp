#include "pathprobe/winfs/changes.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "operations/file_times.h"
#include "operations/lookup.h"
#include "operations/making.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "text/names.h"

namespace winfs {

bool makeDirectory(const path& p, const path* existing, std::error_code& ec) {
    std::uint32_t mode = 0;
    if (existing != nullptr) {
        const Found model = findExisting(*existing, kStatus, ec);
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
        if (!host::isFolderAt(place)) ec = make_error_code(ERROR_ALREADY_EXISTS);
        return false;
    }
    if (const host::Error error = host::makeFolder(place)) {
        if (!(error.alreadyThere() && host::isFolderAt(place)))
            ec = error.windows(host::At::lastName);
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
        std::string targetName;
        std::string linkName;
        if (const host::Error error =
                host::makeHardLink(existing.place(targetName), name.place(linkName))) {
            ec = error.windows(host::At::lastName);
        }
    }
}

namespace {

// Makes each name of `rest` below `folder`: true when it made the last one. A folder that someone
// else made in the meantime is there, as asked.
bool makeEach(host::Cursor folder, const path& rest, std::error_code& ec) {
    bool created = false;
    std::string scratch;
    for (const path& element : rest) {
        const host::Place place = folder.placeOf(element.native(), scratch);
        const host::Error error = host::makeFolder(place);
        created = !error;
        if (error && !(error.alreadyThere() && host::isFolderAt(place))) {
            ec = error.alreadyThere() ? make_error_code(ERROR_ALREADY_EXISTS)
                 : error.missing()    ? make_error_code(ERROR_PATH_NOT_FOUND)
                                      : error.windows(host::At::folderOnTheWay);
            return false;
        }
        if (const host::Error descended = folder.descend(element.native())) {
            ec = descended.windows(host::At::folderOnTheWay);
            return false;
        }
    }
    return created;
}

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
    host::Error error = host::namesIn(folder.place(), levels.back().names);
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
                error = host::namesIn(folder.place(), levels.back().names);
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

// `from` over the entry `to`, which is there and may be in another case; then the name takes the
// case given. Two names of one file (hard links) leave the one moved onto, as on Windows, where
// the host's rename would keep both.
void replaceEntry(const Slot& from, const Slot& to, std::error_code& ec) {
    std::string sourceName;
    std::string targetName;
    const host::Place source = from.place(sourceName);
    const host::Place target = to.place(targetName);
    host::Error error = host::sameFile(source, target)
                            ? host::removeName(source)
                            : host::moveName(source, target, host::Replacing::allowed);
    if (!error && to.found.head.filename().native() != to.name) {
        host::Cursor parent;
        std::string givenName;
        error = host::moveName(target, to.givenName(parent, givenName), host::Replacing::refused);
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
        std::string sourceName;
        std::string givenName;
        host::Cursor parent;
        const host::Error error =
            host::moveName(source.place(sourceName), target.givenName(parent, givenName),
                           host::Replacing::refused);
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
        std::string sourceName;
        std::string targetName;
        const host::Error error = host::moveName(source.place(sourceName), target.place(targetName),
                                                 host::Replacing::refused);
        if (error) ec = error.windows(host::At::folderOnTheWay);
    }
}

void setWriteTime(const path& p, file_time_type time, std::error_code& ec) {
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return;
    if (const host::Error error = host::setModified(found.at.folder.place(), hostTimeFor(time))) {
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
    const Found found = findExisting(p, follow ? kStatus : kSymlinkStatus, ec);
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
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return;
    if (size > std::numeric_limits<std::int64_t>::max()) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);
    } else if (const host::Error error = host::resizeFile(found.at.folder.place(), size)) {
        ec = error.windows(host::At::lastName);
    }
}

bool createDirectoriesOf(const path& p, std::error_code* ec) {
    return reported("create_directories", ec, p, [&](std::error_code& code) {
        const Resolution found = resolveOn(*drives(), p, kStatus, code);
        if (code) return false;
        if (found.type != file_type::directory) {
            code = make_error_code(ERROR_ALREADY_EXISTS);  // a file in the way
            return false;
        }
        if ((code = checkNewNames(found.rest))) return false;
        return makeEach(found.folder, found.rest, code);
    });
}

bool createDirectoryOf(const path& p, const path* existing, std::error_code* ec) {
    return reported("create_directory", ec, p, existing != nullptr ? *existing : path(),
                    [&](std::error_code& code) { return makeDirectory(p, existing, code); });
}

void createHardLinkOf(const path& target, const path& link, std::error_code* ec) {
    reported("create_hard_link", ec, target, link,
             [&](std::error_code& code) { makeHardLink(target, link, code); });
}

void lastWriteTimeOf(const path& p, file_time_type time, std::error_code* ec) {
    reported("last_write_time", ec, p, [&](std::error_code& code) { setWriteTime(p, time, code); });
}

void permissionsOf(const path& p, perms prms, perm_options opts, std::error_code* ec) {
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

void resizeFileOf(const path& p, std::uintmax_t size, std::error_code* ec) {
    reported("resize_file", ec, p, [&](std::error_code& code) { resizeOne(p, size, code); });
}

}  // namespace

// clang-format off
bool create_directories(const path& p) { return createDirectoriesOf(p, nullptr); }
bool create_directories(const path& p, std::error_code& ec) { return createDirectoriesOf(p, &ec); }
bool create_directory(const path& p) { return createDirectoryOf(p, nullptr, nullptr); }
bool create_directory(const path& p, std::error_code& ec) { return createDirectoryOf(p, nullptr, &ec); }
bool create_directory(const path& p, const path& existing) {
    return createDirectoryOf(p, &existing, nullptr);
}
bool create_directory(const path& p, const path& existing, std::error_code& ec) {
    return createDirectoryOf(p, &existing, &ec);
}
void create_hard_link(const path& target, const path& link) { createHardLinkOf(target, link, nullptr); }
void create_hard_link(const path& target, const path& link, std::error_code& ec) {
    createHardLinkOf(target, link, &ec);
}
void last_write_time(const path& p, file_time_type time) { lastWriteTimeOf(p, time, nullptr); }
void last_write_time(const path& p, file_time_type time, std::error_code& ec) {
    lastWriteTimeOf(p, time, &ec);
}
void permissions(const path& p, perms prms, perm_options opts) { permissionsOf(p, prms, opts, nullptr); }
void permissions(const path& p, perms prms, std::error_code& ec) {
    permissionsOf(p, prms, perm_options::replace, &ec);
}
void permissions(const path& p, perms prms, perm_options opts, std::error_code& ec) {
    permissionsOf(p, prms, opts, &ec);
}
bool remove(const path& p) { return removeOf(p, nullptr); }
bool remove(const path& p, std::error_code& ec) { return removeOf(p, &ec); }
std::uintmax_t remove_all(const path& p) { return removeAllOf(p, nullptr); }
std::uintmax_t remove_all(const path& p, std::error_code& ec) { return removeAllOf(p, &ec); }
void rename(const path& from, const path& to) { renameOf(from, to, nullptr); }
void rename(const path& from, const path& to, std::error_code& ec) { renameOf(from, to, &ec); }
void resize_file(const path& p, std::uintmax_t size) { resizeFileOf(p, size, nullptr); }
void resize_file(const path& p, std::uintmax_t size, std::error_code& ec) { resizeFileOf(p, size, &ec); }
// clang-format on

}  // namespace winfs
