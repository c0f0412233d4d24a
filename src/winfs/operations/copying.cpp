#include <algorithm>
#include <bit>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/host.h"
#include "operations/links.h"
#include "operations/lookup.h"
#include "operations/making.h"
#include "operations/report.h"
#include "operations/sharing.h"
#include "operations/status.h"
#include "pathprobe/winfs/changes.h"
#include "pathprobe/winfs/error.h"
#include "text/names.h"
#include "text/utf8.h"

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

// Whether CopyFile2 may write over a file that is there: not a folder, nor a file with the
// read-only attribute, for any account; nor the source itself, which it holds open for reading
// without sharing writes.
bool mayWriteOver(bool same, const host::Stat& target, std::error_code& ec) {
    if (target.type == file_type::directory || isReadOnlyFile(target)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
    } else if (same) {
        ec = make_error_code(ERROR_SHARING_VIOLATION);
    }
    return !ec;
}

// Whether a file that is there lets copy_file go on, as Microsoft's library decides: false (and
// no error) when the option says to leave it.
bool mayReplace(const host::Stat& source, const host::Stat& target, copy_options options,
                std::error_code& ec) {
    const bool same = host::sameFile(source, target);
    // overwrite_existing goes straight to CopyFile2; the others first try a copy that fails on
    // any name there, then look at the two files.
    if (has(options, copy_options::overwrite_existing)) return mayWriteOver(same, target, ec);
    if (target.type == file_type::directory) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
        return false;
    }
    if (same || !has(options, kExisting)) {
        ec = make_error_code(ERROR_FILE_EXISTS);
        return false;
    }
    if (has(options, copy_options::skip_existing)) return false;
    // update_existing: newer as last_write_time tells it, in whole 100 ns ticks: a file dated
    // with the other's time is not newer for the nanoseconds the host kept beyond it.
    const auto ticks = [](const host::Time& t) {
        return std::pair(t.seconds, t.nanoseconds / 100);
    };
    return ticks(source.modified) > ticks(target.modified) && mayWriteOver(same, target, ec);
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
    // CopyFileW reads the source and writes the target through opens of its own.
    host::Error kept = mayOpenAt(from_, DataAccess::read);
    if (!kept && target.exists) kept = mayOpenAt(to_, DataAccess::write);
    if (kept) {
        ec = kept.windows(host::At::lastName);
        return false;
    }
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

// Copies what a folder holds into another, and with `recursive` what its folders hold, depth
// first without recursion: each level holds the two folders open, opened with no link followed,
// and copies or makes one name in them, so the work and the memory grow with the tree, not with
// the square of its depth. A name that is a link, or one that the target already holds in any
// case, is copied as copy() copies any path, by its Windows paths. A target path that would pass
// the longest path Windows takes fails with ERROR_FILENAME_EXCED_RANGE, as Windows's copy does:
// so a folder copied into itself ends.
class TreeCopy {
  public:
    TreeCopy(std::string from, std::string to, copy_options options)
        : from_(std::move(from)), to_(std::move(to)), options_(options) {}

    void run(host::Handle source, host::Handle target, std::error_code& ec) {
        Level top{std::move(source), std::move(target), {}, {}, {}, 0, from_.size(),
                  to_.size(),        utf16Length(to_),  {}};
        if ((ec = enter(std::move(top), false))) return;
        while (!ec && !levels_.empty()) {
            Level& level = levels_.back();
            if (level.next == level.names.size()) {
                levels_.pop_back();
                if (!levels_.empty()) ec = reopen();
            } else {
                ec = copyEntry(level.names[level.next++]);
            }
        }
    }

  private:
    struct Level {
        host::Handle source;  // closed between the kept ones, reopened by name from the one above
        host::Handle target;
        std::string sourceName;  // the names in the folders above, for reopening
        std::string targetName;
        std::vector<std::string> names;
        std::size_t next = 0;
        std::size_t fromPrefix = 0;  // where the names below start in from_ and to_
        std::size_t toPrefix = 0;
        std::size_t length = 0;  // the target's Windows path in UTF-16 units
        // The names the target holds, case folded, with their spelling; the names copied here
        // are added.
        std::unordered_map<std::string, std::string> held;
    };
    // The deepest levels are kept open, and one level in this many above them, from which a
    // closed one is opened again: descriptors and system calls grow with the depth, no faster.
    static constexpr std::size_t kOpen = 64;

    bool has(copy_options wanted) const { return (options_ & wanted) != copy_options::none; }

    // Reads the level's source folder, and its target folder unless it was just made, and goes
    // on in it.
    std::error_code enter(Level level, bool made) {
        host::Error error = host::namesIn(level.source, level.names);
        std::vector<std::string> there;
        if (!error && !made) error = host::namesIn(level.target, there);
        if (error) return error.windows(host::At::folderOnTheWay);
        // In the order Windows lists them, which decides what a copy that fails midway made.
        std::sort(level.names.begin(), level.names.end(),
                  [](const std::string& a, const std::string& b) {
                      const int order = compareIgnoringCase(a, b);
                      return order != 0 ? order < 0 : a < b;
                  });
        for (std::string& name : there)
            level.held.emplace(caseFolded(name), std::move(name));
        levels_.push_back(std::move(level));
        const std::size_t depth = levels_.size() - 1;
        if (depth >= kOpen && (depth - kOpen) % kOpen != 0) {
            levels_[depth - kOpen].source = {};
            levels_[depth - kOpen].target = {};
        }
        return {};
    }

    // Opens the deepest level again if it was closed, and the closed ones above it up to the
    // nearest open one, by their names with no link followed.
    std::error_code reopen() {
        if (levels_.back().source) return {};
        std::size_t first = levels_.size() - 1;
        while (!levels_[first - 1].source)
            --first;  // the first level is never closed
        for (std::size_t k = first; k < levels_.size(); ++k) {
            Level& level = levels_[k];
            const Level& above = levels_[k - 1];
            host::Result<host::Handle> source =
                host::openChildFolder(above.source.get(), level.sourceName.c_str());
            if (!source) return source.error().windows(host::At::folderOnTheWay);
            host::Result<host::Handle> target =
                host::openChildFolder(above.target.get(), level.targetName.c_str());
            if (!target) return target.error().windows(host::At::folderOnTheWay);
            level.source = std::move(*source);
            level.target = std::move(*target);
        }
        return {};
    }

    std::error_code copyEntry(const std::string& name) {
        Level& level = levels_.back();
        // A name Windows cannot write is one that its listing never gives.
        if (!windowsCanSpell(name)) return {};
        from_.resize(level.fromPrefix);
        (from_ += '\\') += name;
        to_.resize(level.toPrefix);
        (to_ += '\\') += name;
        const std::size_t length = level.length + 1 + utf16Length(name);
        if (length > kMaxPathLength) return make_error_code(ERROR_FILENAME_EXCED_RANGE);
        const std::string folded = caseFolded(name);
        const host::Place source{level.source.get(), name.c_str()};
        const host::Result<file_type> type = host::typeAt(source, false);
        if (!type) {
            if (type.error().missing()) return {};  // gone since the folder was read
            return type.error().windows(host::At::lastName);
        }
        if (*type == file_type::symlink || level.held.contains(folded) ||
            (*type == file_type::regular &&
             has(copy_options::create_symlinks | copy_options::create_hard_links))) {
            std::error_code ec;
            copyAny(path(from_), path(to_), options_ | kInRecursiveCopy, ec);
            return ec;
        }
        const host::Place target{level.target.get(), name.c_str()};
        if (*type == file_type::regular) {
            if (has(copy_options::directories_only)) return {};
            level.held.emplace(folded, name);
            host::Error error = mayOpenAt(source, DataAccess::read);
            if (!error) error = host::copyData(source, target, host::Replacing::refused);
            return error ? error.windows(host::At::lastName) : std::error_code();
        }
        if (*type != file_type::directory) return make_error_code(ERROR_NOT_SUPPORTED);
        if (!has(copy_options::recursive)) return {};
        if (const host::Error error = host::makeFolder(target)) {
            return error.windows(host::At::lastName);
        }
        level.held.emplace(folded, name);
        host::Result<host::Handle> inner = host::openChildFolder(level.source.get(), name.c_str());
        if (!inner) return inner.error().windows(host::At::lastName);
        host::Result<host::Handle> made = host::openChildFolder(level.target.get(), name.c_str());
        if (!made) return made.error().windows(host::At::lastName);
        return enter({std::move(*inner),
                      std::move(*made),
                      name,
                      name,
                      {},
                      0,
                      from_.size(),
                      to_.size(),
                      length,
                      {}},
                     true);
    }

    static constexpr std::size_t kMaxPathLength = 32767;  // UTF-16 units, as Windows takes
    std::string from_;  // the Windows paths of the entry copied, built in place
    std::string to_;
    copy_options options_;
    std::vector<Level> levels_;
};

// What a folder holds, each name copied into `to` with the same options.
void copyContents(const path& from, const path& to, copy_options options, std::error_code& ec) {
    const Found source = findExisting(from, kStatus, ec);
    if (ec) return;
    const Found target = findExisting(to, kStatus, ec);
    if (ec) return;
    host::Handle sourceFolder;
    host::Handle targetFolder;
    host::Error error = openFolderOf(source.at, sourceFolder);
    if (!error) error = openFolderOf(target.at, targetFolder);
    if (error) {
        ec = error.windows(host::At::folderOnTheWay);
        return;
    }
    std::string fromText = absoluteOn(*source.map, from, ec).native();
    if (ec) return;
    std::string toText = absoluteOn(*target.map, to, ec).native();
    if (ec) return;
    // "c:\a\" and "c:\" end in a separator, which each name adds.
    for (std::string* text : {&fromText, &toText}) {
        if (text->ends_with('\\')) text->pop_back();
    }
    TreeCopy(std::move(fromText), std::move(toText), options)
        .run(std::move(sourceFolder), std::move(targetFolder), ec);
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
    if (is_directory(source) && has(options, copy_options::create_symlinks)) {
        ec = std::make_error_code(std::errc::is_a_directory);
    } else if (is_other(source) || is_other(target)) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
    } else if (is_directory(source) && is_regular_file(target)) {
        ec = make_error_code(ERROR_ALREADY_EXISTS);
    } else if (is_symlink(source)) {
        if (has(options, copy_options::copy_symlinks)) copySymlink(from, to, ec);
    } else if (is_regular_file(source)) {
        copyRegular(from, to, target, options, ec);
    } else if (has(options, copy_options::recursive) || options == copy_options::none) {
        if (!exists(target)) makeDirectory(to, ec);
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
