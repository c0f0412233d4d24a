#include "pathprobe/winfs/changes.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host.h"
#include "operations/file_times.h"
#include "operations/lookup.h"
#include "operations/making.h"
#include "operations/report.h"
#include "operations/sharing.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/long_paths.h"
#include "text/names.h"
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

// A drive's root is never removed nor moved, as Windows refuses it.
bool isRoot(const Slot& slot) {
    return slot.exists && slot.found.folder.depth() == 0;
}

// Removes the entry `name` of the folder `top` and all below it, depth first without recursion,
// so that a tree as deep as Windows allows takes no more stack than a flat one. Every call acts on
// one name in a folder opened with no link followed, so a folder swapped for a link mid-way goes
// as the link, with nothing behind it. Counts what it removed.
class TreeRemoval {
  public:
    explicit TreeRemoval(int top) : top_(top) {}

    host::Error remove(const std::string& name) {
        host::Error error = removeEntry(top_, name);
        while (!error && !levels_.empty()) {
            Level& level = levels_.back();
            if (level.next == level.names.size()) {
                error = leave();
            } else {
                const std::string entry = level.names[level.next++];
                error = removeEntry(level.folder.get(), entry);
            }
        }
        return error;
    }

    std::uintmax_t removed() const noexcept { return removed_; }

  private:
    // One folder being emptied: its handle while it is open, its name in the folder above.
    struct Level {
        host::Handle folder;
        std::string name;
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    // The deepest levels are kept open, and one level in this many above them, from which a
    // closed one is opened again: descriptors and system calls grow with the depth, no faster.
    static constexpr std::size_t kOpen = 64;

    int holderOf(std::size_t level) const {
        return level == 0 ? top_ : levels_[level - 1].folder.get();
    }

    // A name that is no folder is unlinked; a folder is entered; a name that turns from one into
    // the other meanwhile is looked at again.
    host::Error removeEntry(int folder, const std::string& name) {
        for (int round = 0; round < 8; ++round) {
            // DeleteFileW opens the file to delete it: an open that does not share that keeps it.
            if (const host::Error error = mayOpenAt({folder, name.c_str()}, DataAccess::remove)) {
                return error;
            }
            host::Error error = host::removeName({folder, name.c_str()});
            if (!error) {
                ++removed_;
                return {};
            }
            if (error.missing()) return {};  // removed by someone else
            if (!error.aFolder()) return error;
            host::Result<host::Handle> opened = host::openChildFolder(folder, name.c_str());
            if (opened) return enter(std::move(*opened), name);
            if (opened.error().missing()) return {};
            if (!opened.error().loop() && !opened.error().notAFolder()) return opened.error();
        }
        return host::Error(EAGAIN);
    }

    host::Error enter(host::Handle folder, const std::string& name) {
        levels_.push_back({std::move(folder), name, {}, 0});
        const std::size_t depth = levels_.size() - 1;
        if (depth >= kOpen && (depth - kOpen) % kOpen != 0) levels_[depth - kOpen].folder = {};
        return host::namesIn(levels_.back().folder, levels_.back().names);
    }

    // The emptied folder goes from the one above it, which is opened again if it was closed.
    host::Error leave() {
        const std::string name = std::move(levels_.back().name);
        levels_.pop_back();
        if (const host::Error error = reopen()) return error;
        const int holder = holderOf(levels_.size());
        host::Error error = host::removeFolder({holder, name.c_str()});
        if (!error) {
            ++removed_;
            return {};
        }
        if (error.missing()) return {};
        // A link now where the folder was: it goes, and nothing behind it.
        if (error.notAFolder()) return removeEntry(holder, name);
        return error;
    }

    // Opens the deepest level again, and the closed ones between it and the nearest open one, by
    // their names with no link followed.
    host::Error reopen() {
        if (levels_.empty() || levels_.back().folder) return {};
        std::size_t first = levels_.size() - 1;
        while (first > 0 && !levels_[first - 1].folder)
            --first;
        for (std::size_t level = first; level < levels_.size(); ++level) {
            host::Result<host::Handle> opened =
                host::openChildFolder(holderOf(level), levels_[level].name.c_str());
            if (!opened) return opened.error();
            levels_[level].folder = std::move(*opened);
        }
        return {};
    }

    int top_;
    std::vector<Level> levels_;
    std::uintmax_t removed_ = 0;
};

std::optional<Held> removalOf(const path& p, std::error_code& ec) {
    Slot slot = slotFor(p, ec);
    // Nothing there, however it is missing, is nothing to remove, as DeleteFileW's "not found".
    if ((ec && isNotFound(ec)) || (!ec && !slot.exists)) {
        ec.clear();
        return std::nullopt;
    }
    if (ec) return std::nullopt;
    if (isRoot(slot)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    Held removal;
    if (const host::Error error = hold(slot, removal)) {
        ec = error.windows(host::At::folderOnTheWay);
        return std::nullopt;
    }
    return removal;
}

bool removeOne(const path& p, std::error_code& ec) {
    const std::optional<Held> removal = removalOf(p, ec);
    if (!removal) return false;
    const host::Place place = removal->place();
    host::Error error = mayOpenAt(place, DataAccess::remove);
    if (!error) error = host::removeName(place);
    if (error.aFolder()) error = host::removeFolder(place);
    if (error && !error.missing()) ec = error.windows(host::At::lastName);
    return !error;
}

std::uintmax_t removeAll(const path& p, std::error_code& ec) {
    const std::optional<Held> removal = removalOf(p, ec);
    if (!removal) return 0;
    TreeRemoval tree(removal->folder.get());
    if (const host::Error error = tree.remove(removal->name)) {
        ec = error.windows(host::At::lastName);
    }
    return tree.removed();
}

// A folder over the file `target`, which the host's rename refuses: the two change places in one
// step, and the file, now under the folder's old name, goes. What comes back must be the file seen
// there: a folder renamed onto it meanwhile (by another thread, or exchanged in by another
// process) is put back where it was, and the call fails as on a folder (5). A process killed
// between the two steps leaves the file under the folder's old name.
host::Error replaceFileWithFolder(const Held& source, const Held& target, std::error_code& ec) {
    const host::Result<host::Stat> replaced = host::statAt(target.place(), false);
    if (!replaced) return replaced.error();
    if (replaced->type != file_type::directory) {
        if (const host::Error error = host::exchangeNames(source.place(), target.place()))
            return error;
        const host::Result<host::Stat> back = host::statAt(source.place(), false);
        if (back && host::sameFile(*back, *replaced)) return host::removeName(source.place());
        if (const host::Error error = host::exchangeNames(source.place(), target.place()))
            return error;
    }
    ec = make_error_code(ERROR_ACCESS_DENIED);
    return {};
}

// `from` over the entry `to`, a file that is there and may be in another case; then the name takes
// the case given. Two names of one file (hard links) leave the one moved onto, as on Windows, where
// the host's rename would keep both.
void replaceEntry(const Slot& from, const Slot& to, std::error_code& ec) {
    Held source;
    Held target;
    host::Error error = hold(from, source);
    if (!error) error = hold(to, target);
    if (!error && from.found.type == file_type::directory) {
        error = replaceFileWithFolder(source, target, ec);
        if (ec) return;
    } else if (!error) {
        error = host::sameFile(source.place(), target.place())
                    ? host::removeName(source.place())
                    : host::moveName(source.place(), target.place(), host::Replacing::allowed);
    }
    if (!error && target.name != to.name) {
        error = host::moveName(target.place(), {target.folder.get(), to.name.c_str()},
                               host::Replacing::refused);
    }
    if (error) ec = error.windows(host::At::lastName);
}

// Whether the entries of `one` and `other` are one name to Windows: the same host entry, or twins
// in one folder whose names differ only in case, as a host program may make them.
bool oneNameToWindows(const Slot& one, const Slot& other) {
    const std::string_view oneHost = one.found.folder.host();
    const std::string_view otherHost = other.found.folder.host();
    const std::size_t oneCut = oneHost.rfind('/');
    const std::size_t otherCut = otherHost.rfind('/');
    return oneHost.substr(0, oneCut) == otherHost.substr(0, otherCut) &&
           equalIgnoringCase(oneHost.substr(oneCut + 1), otherHost.substr(otherCut + 1));
}

// MoveFileExW opens the file it moves and the one it replaces for deleting: an open that does not
// share that keeps the first (ERROR_SHARING_VIOLATION) and the second (ERROR_ACCESS_DENIED).
std::error_code keptByOpens(const Slot& source, const Slot& target) {
    if (!anyOpen()) return {};
    const auto keeps = [](const Slot& slot) {
        const std::optional<host::Stat>& st = slot.found.stat;
        return slot.exists && st && st->type == file_type::regular &&
               mayOpen({st->device, st->inode}, DataAccess::remove);
    };
    if (keeps(source)) return make_error_code(ERROR_SHARING_VIOLATION);
    if (keeps(target)) return make_error_code(ERROR_ACCESS_DENIED);
    return {};
}

// Whether the slot's entry itself is a file with the read-only attribute.
bool isReadOnlyEntry(const Slot& slot) {
    const host::Result<host::Stat> st = statFound(slot.found);
    return st && isReadOnlyFile(*st);
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
    if ((ec = keptByOpens(source, target))) return;
    if (isRoot(source) || isRoot(target)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
    } else if (source.found.drive != target.found.drive) {
        ec = make_error_code(ERROR_NOT_SAME_DEVICE);
    } else if (target.exists && oneNameToWindows(source, target)) {
        // A change of case alone, or nothing at all. A twin already spelled as asked is another
        // file that NTFS could not hold beside this one: refused, never replaced.
        if (source.found.head.filename().native() == target.name) return;
        Held entry;
        host::Error error = hold(source, entry);
        if (!error) {
            error = host::moveName(entry.place(), {entry.folder.get(), target.name.c_str()},
                                   host::Replacing::refused);
        }
        if (error) ec = error.windows(host::At::lastName);
    } else if (target.exists) {
        // MoveFileExW replaces a file, with a file or a folder, and never a folder nor a file with
        // the read-only attribute (a link is replaced itself, whatever it leads to).
        if (target.found.type == file_type::directory || isReadOnlyEntry(target)) {
            ec = make_error_code(ERROR_ACCESS_DENIED);
        } else {
            replaceEntry(source, target, ec);
        }
    } else {
        Held entry;
        Held made;
        host::Error error = hold(source, entry);
        if (!error) error = hold(target, made);
        if (!error) error = host::moveName(entry.place(), made.place(), host::Replacing::refused);
        if (error) ec = error.windows(host::At::folderOnTheWay);
    }
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
