// The changes that make names and set what a file holds: folders (one, or each on the way), hard
// links, a file's last write time and its size.
#include "pathprobe/winfs/changes.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "host/host.h"
#include "operations/file_times.h"
#include "operations/lookup.h"
#include "operations/making.h"
#include "operations/report.h"
#include "operations/sharing.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/long_paths.h"
#include "text/path_grammar.h"

namespace winfs {

namespace {

// Without long paths CreateDirectoryW keeps room for an 8.3 name below the folder it makes: the
// folder's full path takes at most MAX_PATH - 12 units with its NUL, or "\\?\" is written.
bool leavesRoomForShortName(const path& p) {
    if (long_paths() || grammar::isVerbatim(p.native())) return true;
    std::error_code ec;
    const path full = absoluteOn(*drives(), p, ec, Verbatim::rewrite);
    return ec || !exceedsLimit(full.native(), kMaxPath - 12);
}

// Whether the entry of a slot is a folder, or a link that leads to one with its Windows meaning.
bool isFolderThere(const Slot& slot, const path& p) {
    if (slot.found.type != file_type::symlink) return slot.found.type == file_type::directory;
    std::error_code ec;
    const Resolution target = resolveOn(*slot.map, p, kStatus, ec);
    return !ec && target.rest.empty() && target.type == file_type::directory;
}

}  // namespace

bool makeDirectory(const path& p, std::error_code& ec) {
    if (!leavesRoomForShortName(p)) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // "file.txt\" is a file in the way, as "file.txt" is.
    const Slot slot = slotFor(p, ec, kSymlinkStatus, Trailing::taken);
    if (ec) return false;
    if (slot.exists) {
        if (!isFolderThere(slot, p)) ec = make_error_code(ERROR_ALREADY_EXISTS);
        return false;
    }
    host::Handle holder;
    std::string name;
    if (const host::Error error = slot.openHolder(holder, name)) {
        ec = error.windows(host::At::folderOnTheWay);
        return false;
    }
    const host::Place place{holder.get(), name.c_str()};
    if (const host::Error error = host::makeFolder(place)) {
        const host::Result<file_type> made = host::typeAt(place, false);
        if (!(error.alreadyThere() && made && *made == file_type::directory))
            ec = error.windows(host::At::lastName);
        return false;
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
        host::Handle targetHolder;
        host::Handle linkHolder;
        std::string targetName;
        std::string linkName;
        host::Error error = existing.openHolder(targetHolder, targetName);
        if (!error) error = name.openHolder(linkHolder, linkName);
        if (!error) {
            error = host::makeHardLink({targetHolder.get(), targetName.c_str()},
                                       {linkHolder.get(), linkName.c_str()});
        }
        if (error) ec = error.windows(host::At::lastName);
    }
}

namespace {

// Makes each name of `rest` below the folder `found`: true when it made the last one. A folder
// that someone else made in the meantime is there, as asked. Each is made in, and entered from,
// the folder before it with no link followed: a link where the walk saw no name (one to a host
// folder on no drive) is no folder to make names in.
bool makeEach(const Resolution& found, const path& rest, std::error_code& ec) {
    host::Handle folder;
    if (const host::Error error = openFolderOf(found, folder)) {
        ec = error.windows(host::At::folderOnTheWay);
        return false;
    }
    bool created = false;
    for (const path& element : rest) {
        const char* name = element.native().c_str();
        const host::Error error = host::makeFolder({folder.get(), name});
        created = !error;
        host::Result<host::Handle> entered = host::openChildFolder(folder.get(), name);
        if (error && !(error.alreadyThere() && entered)) {
            ec = error.alreadyThere() ? make_error_code(ERROR_ALREADY_EXISTS)
                 : error.missing()    ? make_error_code(ERROR_PATH_NOT_FOUND)
                                      : error.windows(host::At::folderOnTheWay);
            return false;
        }
        if (!entered) {
            const host::Error refused = entered.error();
            ec = refused.loop() || refused.notAFolder() || refused.missing()
                     ? make_error_code(ERROR_PATH_NOT_FOUND)
                     : refused.windows(host::At::folderOnTheWay);
            return false;
        }
        folder = std::move(*entered);
    }
    return created;
}

void setWriteTime(const path& p, file_time_type time, std::error_code& ec) {
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return;
    Held entry;
    host::Error error = hold(found.at, entry);
    if (!error) error = host::setModified(entry.place(), hostTimeFor(time));
    if (error) ec = error.windows(host::At::lastName);
}

void resizeOne(const path& p, std::uintmax_t size, std::error_code& ec) {
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return;
    if (size > std::numeric_limits<std::int64_t>::max()) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);
        return;
    }
    Held entry;
    host::Error error = hold(found.at, entry);
    // Opened for writing, as SetEndOfFile needs: the read-only attribute refuses that to anyone.
    if (!error) {
        const host::Result<host::Stat> st = host::statAt(entry.place(), false);
        if (st && isReadOnlyFile(*st)) {
            ec = make_error_code(ERROR_ACCESS_DENIED);
            return;
        }
    }
    if (!error) error = mayOpenAt(entry.place(), DataAccess::write);
    if (!error) error = host::resizeFile(entry.place(), size);
    if (error) ec = error.windows(host::At::lastName);
}

// Whether a path names "." or ".." on its way, which Windows takes in the order written.
bool hasDots(const path& p) {
    for (const path& element : p.relative_path()) {
        if (element == "." || element == "..") return true;
    }
    return false;
}

bool createDirectoriesOf(const path& p, std::error_code* ec) {
    return reported("create_directories", ec, p, [&](std::error_code& code) {
        // Each folder that the path names on its way is made in turn, as Windows makes them:
        // "r\a\..\b" makes a, then b. Without long paths each one meets CreateDirectoryW's
        // limit, so that those short enough are made before it fails.
        if (hasDots(p) || (!long_paths() && !grammar::isVerbatim(p.native()))) {
            path sofar = p.root_path();
            bool created = false;
            for (const path& element : p.relative_path()) {
                if (element.empty()) continue;  // a trailing separator
                sofar /= element;
                created = makeDirectory(sofar, code);
                if (code) return false;
            }
            return created;
        }
        const Resolution found = resolveOn(*drives(), p, kStatus, code);
        if (code) return false;
        if (found.type != file_type::directory) {
            code = make_error_code(ERROR_ALREADY_EXISTS);  // a file in the way
            return false;
        }
        if ((code = checkNewNames(found.rest))) return false;
        return makeEach(found, found.rest, code);
    });
}

// Microsoft's library makes `p` alone and takes nothing from `existing`, which need not be there.
bool createDirectoryOf(const path& p, const path* existing, std::error_code* ec) {
    return reported("create_directory", ec, p, existing != nullptr ? *existing : path(),
                    [&](std::error_code& code) { return makeDirectory(p, code); });
}

void createHardLinkOf(const path& target, const path& link, std::error_code* ec) {
    reported("create_hard_link", ec, target, link,
             [&](std::error_code& code) { makeHardLink(target, link, code); });
}

void lastWriteTimeOf(const path& p, file_time_type time, std::error_code* ec) {
    reported("last_write_time", ec, p, [&](std::error_code& code) { setWriteTime(p, time, code); });
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
void resize_file(const path& p, std::uintmax_t size) { resizeFileOf(p, size, nullptr); }
void resize_file(const path& p, std::uintmax_t size, std::error_code& ec) { resizeFileOf(p, size, &ec); }
// clang-format on

}  // namespace winfs
