// rename, as MoveFileExW with MOVEFILE_REPLACE_EXISTING: a file or folder onto a name in any
// case, a folder onto a file in two steps.
#include "pathprobe/winfs/changes.h"

#include <optional>
#include <string_view>

#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/sharing.h"
#include "pathprobe/winfs/error.h"
#include "text/names.h"

namespace winfs {

namespace {

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

void renameOf(const path& from, const path& to, std::error_code* ec) {
    reported("rename", ec, from, to, [&](std::error_code& code) { renameOne(from, to, code); });
}

}  // namespace

// clang-format off
void rename(const path& from, const path& to) { renameOf(from, to, nullptr); }
void rename(const path& from, const path& to, std::error_code& ec) { renameOf(from, to, &ec); }
// clang-format on

}  // namespace winfs
