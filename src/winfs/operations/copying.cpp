#include <bit>
#include <string>
#include <vector>

#include "host/host.h"
#include "operations/links.h"
#include "operations/lookup.h"
#include "operations/making.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/changes.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace {

// Marks the calls that copy() makes for what a folder holds: without `recursive`, a folder's
// folders are not gone into.
constexpr auto kInRecursiveCopy = static_cast<copy_options>(1U << 16);

constexpr copy_options kExisting =
    copy_options::skip_existing | copy_options::overwrite_existing | copy_options::update_existing;
constexpr copy_options kLinks = copy_options::copy_symlinks | copy_options::skip_symlinks;
constexpr copy_options kForm = copy_options::directories_only | copy_options::create_symlinks |
                               copy_options::create_hard_links;

bool has(copy_options options, copy_options wanted) {
    return (options & wanted) != copy_options::none;
}

// At most one option of each group, as the standard requires.
std::error_code checkOptions(copy_options options) {
    for (const copy_options group : {kExisting, kLinks, kForm}) {
        if (std::popcount(static_cast<unsigned>(options & group)) > 1) {
            return make_error_code(ERROR_INVALID_PARAMETER);
        }
    }
    return {};
}

// Whether a file that is there lets copy_file go on, as CopyFileW's flags decide: false (and no
// error) when the option says to leave it.
bool mayReplace(const host::Stat& source, const host::Stat& target, copy_options options,
                std::error_code& ec) {
    const bool same = source.device == target.device && source.inode == target.inode;
    if (target.type == file_type::directory) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
    } else if (has(options, copy_options::skip_existing)) {
        return false;
    } else if (has(options, copy_options::update_existing)) {
        return !same && source.modified > target.modified;
    } else if (!has(options, copy_options::overwrite_existing)) {
        ec = make_error_code(ERROR_FILE_EXISTS);
    } else if (same) {
        ec = make_error_code(ERROR_SHARING_VIOLATION);
    } else {
        return true;
    }
    return false;
}

bool copyFile(const path& from, const path& to, copy_options options, std::error_code& ec) {
    if ((ec = checkOptions(options))) return false;
    const Found source = findExisting(from, kStatus, ec);
    if (ec) return false;
    if (source.at.type != file_type::regular) {
        ec = make_error_code(source.at.type == file_type::directory ? ERROR_ACCESS_DENIED
                                                                    : ERROR_NOT_SUPPORTED);
        return false;
    }
    // Onto a link, what the link leads to, with its Windows meaning, as CopyFileW writes it.
    const Slot target = slotFor(to, ec, kStatus);
    if (ec) return false;
    host::Handle sourceHolder;
    host::Handle targetHolder;
    std::string sourceName;
    std::string targetName;
    host::Error opened = openHolderOf(source.at, sourceHolder, sourceName);
    if (!opened) opened = target.openHolder(targetHolder, targetName);
    if (opened) {
        ec = opened.windows(host::At::folderOnTheWay);
        return false;
    }
    const host::Place from_{sourceHolder.get(), sourceName.c_str()};
    const host::Place to_{targetHolder.get(), targetName.c_str()};
    if (target.exists) {
        const host::Result<host::Stat> there = host::statAt(to_, false);
        const host::Result<host::Stat> here = host::statAt(from_, false);
        if (!there || !here) {
            ec = (!there ? there.error() : here.error()).windows(host::At::lastName);
            return false;
        }
        if (!mayReplace(*here, *there, options, ec)) return false;
    }
    const host::Replacing replacing =
        target.exists ? host::Replacing::allowed : host::Replacing::refused;
    if (const host::Error error = host::copyData(from_, to_, replacing)) {
        ec = error.windows(host::At::lastName);
        return false;
    }
    return true;
}

void copySymlink(const path& from, const path& to, std::error_code& ec) {
    const path target = readLinkTarget(from, ec);
    if (!ec) makeLink(target, to, ec);
}

void copyAny(const path& from, const path& to, copy_options options, std::error_code& ec);

// What a folder holds, each name copied into `to` with the same options.
void copyContents(const path& from, const path& to, copy_options options, std::error_code& ec) {
    const Found folder = findExisting(from, kStatus, ec);
    if (ec) return;
    std::vector<std::string> names;
    if (const host::Error error = host::namesIn(folder.at.folder.place(), names)) {
        ec = error.windows(host::At::lastName);
        return;
    }
    for (const std::string& name : names) {
        copyAny(from / path(name), to / path(name), options | kInRecursiveCopy, ec);
        if (ec) return;
    }
}

// A file: as a link, a hard link, or a copy (into `to` when that is a folder).
void copyRegular(const path& from, const path& to, file_status target, copy_options options,
                 std::error_code& ec) {
    if (has(options, copy_options::directories_only)) return;
    if (has(options, copy_options::create_symlinks)) {
        makeLink(from, to, ec);
    } else if (has(options, copy_options::create_hard_links)) {
        makeHardLink(from, to, ec);
    } else if (is_directory(target)) {
        copyFile(from, to / from.filename(), options, ec);
    } else {
        copyFile(from, to, options, ec);
    }
}

void copyAny(const path& from, const path& to, copy_options options, std::error_code& ec) {
    if ((ec = checkOptions(options))) return;
    const bool linksAsThey = has(options, kLinks) || has(options, copy_options::create_symlinks);
    const file_status source = lookUpStatus(from, linksAsThey ? kSymlinkStatus : kStatus, ec);
    if (ec) return;
    const bool targetAsIs =
        has(options, copy_options::skip_symlinks) || has(options, copy_options::create_symlinks);
    const file_status target = lookUpStatus(to, targetAsIs ? kSymlinkStatus : kStatus, ec);
    if (ec && !isNotFound(ec)) return;
    ec.clear();
    if (std::error_code ignored; exists(target) && sameFile(from, to, ignored)) {
        ec = make_error_code(ERROR_FILE_EXISTS);  // onto itself
        return;
    }
    // No link to a folder by copy(), and nothing but files, folders and links.
    const bool folderAsLink = is_directory(source) && has(options, copy_options::create_symlinks);
    if (is_other(source) || is_other(target) || folderAsLink) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
    } else if (is_directory(source) && is_regular_file(target)) {
        ec = make_error_code(ERROR_ALREADY_EXISTS);
    } else if (is_symlink(source)) {
        if (has(options, copy_options::copy_symlinks)) copySymlink(from, to, ec);
    } else if (is_regular_file(source)) {
        copyRegular(from, to, target, options, ec);
    } else if (has(options, copy_options::recursive) || options == copy_options::none) {
        if (!exists(target)) makeDirectory(to, &from, ec);
        if (!ec) copyContents(from, to, options, ec);
    }
}

void copyOf(const path& from, const path& to, copy_options options, std::error_code* ec) {
    reported("copy", ec, from, to,
             [&](std::error_code& code) { copyAny(from, to, options, code); });
}

bool copyFileOf(const path& from, const path& to, copy_options options, std::error_code* ec) {
    return reported("copy_file", ec, from, to,
                    [&](std::error_code& code) { return copyFile(from, to, options, code); });
}

void copySymlinkOf(const path& from, const path& to, std::error_code* ec) {
    reported("copy_symlink", ec, from, to,
             [&](std::error_code& code) { copySymlink(from, to, code); });
}

}  // namespace

// clang-format off
void copy(const path& from, const path& to) { copyOf(from, to, copy_options::none, nullptr); }
void copy(const path& from, const path& to, std::error_code& ec) {
    copyOf(from, to, copy_options::none, &ec);
}
void copy(const path& from, const path& to, copy_options options) { copyOf(from, to, options, nullptr); }
void copy(const path& from, const path& to, copy_options options, std::error_code& ec) {
    copyOf(from, to, options, &ec);
}
bool copy_file(const path& from, const path& to) {
    return copyFileOf(from, to, copy_options::none, nullptr);
}
bool copy_file(const path& from, const path& to, std::error_code& ec) {
    return copyFileOf(from, to, copy_options::none, &ec);
}
bool copy_file(const path& from, const path& to, copy_options options) {
    return copyFileOf(from, to, options, nullptr);
}
bool copy_file(const path& from, const path& to, copy_options options, std::error_code& ec) {
    return copyFileOf(from, to, options, &ec);
}
void copy_symlink(const path& from, const path& to) { copySymlinkOf(from, to, nullptr); }
void copy_symlink(const path& from, const path& to, std::error_code& ec) {
    copySymlinkOf(from, to, &ec);
}
// clang-format on

}  // namespace winfs
