// Internal to winfs: how the operations look up the paths they are given on the process's drive
// map: the full path, its resolution, what exists there, and the slot where an operation finds or
// puts a name.
//
// Threading: free functions over the process's drive map; safe from any number of threads.
#pragma once

#include <memory>
#include <string>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/file_status.h"
#include "pathprobe/winfs/path.h"
#include "resolve/resolver.h"
#include "windows/full_path.h"

namespace winfs {

using Map = std::shared_ptr<const DriveMap>;

inline constexpr Lookup kStatus{.follow = Follow::all, .typeOfLast = true};
inline constexpr Lookup kSymlinkStatus{.follow = Follow::allButLast, .typeOfLast = true};

// The host working directory as a Windows path on `map`.
path currentPathOn(const DriveMap& map, std::error_code& ec);

// What the file calls look up: \\?\ and \??\ paths as given, as CreateFileW takes them; only
// absolute() rewrites them, as GetFullPathNameW does.
path absoluteOn(const DriveMap& map, const path& p, std::error_code& ec,
                Verbatim verbatim = Verbatim::keep);

// What a path named with a separator after it ("c:\zor\file.txt\") may name. Only a folder is
// named so: Windows refuses to open or change a file so named (ERROR_INVALID_NAME, which
// Microsoft's library counts as "not found"), and a link counts as what it leads to. A listing of
// "file.txt\*" and CreateDirectoryW take the name as if written without it.
enum class Trailing { refused, taken };

// `p` resolved on the disk; a path that comes out empty is no path at all.
Resolution resolveOn(const DriveMap& map, const path& p, Lookup lookup, std::error_code& ec,
                     Trailing trailing = Trailing::taken);

// Whether a resolution names something on the host, as every path on a drive does; a device
// (NUL, CON) has no host name to call.
inline bool onTheHost(const Resolution& found) {
    return !found.folder.host().empty();
}

// Every name of `rest` as a new name: ERROR_FILENAME_EXCED_RANGE for one over 255 UTF-16 units,
// ERROR_INVALID_NAME for one Windows forbids.
std::error_code checkNewNames(const path& rest);

// What `p` names, when it exists, with the map that keeps its folder handles open; a missing path
// fails with its reason, a device with ERROR_NOT_SUPPORTED.
struct Found {
    Map map;
    Resolution at;
};
Found findExisting(const path& p, Lookup lookup, std::error_code& ec,
                   Trailing trailing = Trailing::refused);

// Where an operation finds or puts the last name of `p`, links on it not followed: the entry
// itself when it is there, in any case; else the folder that would hold it, which must exist.
// A drive's root has an empty name. A device fails with ERROR_NOT_SUPPORTED.
struct Slot {
    Map map;
    Resolution found;  // the entry when `exists`, else its folder
    bool exists = false;
    std::string name;  // the last name as given: "FOO" where "foo" is on disk

    // The folder that holds the entry, or would hold the new name, opened with no link followed
    // to act on names in (not to list), and the name in it: the entry's as on disk, else the one
    // given. Not for a drive's root.
    host::Error openHolder(host::Handle& folder, std::string& entry) const;
};
// With kStatus, a link as the last name is followed with its Windows meaning: the slot is what it
// leads to, or the missing name it would make.
Slot slotFor(const path& p, std::error_code& ec, Lookup lookup = kSymlinkStatus,
             Trailing trailing = Trailing::refused);

// The folder that holds the entry a resolution found, opened with no link followed to act on
// names in (not to list), and the entry's name in it as on disk. Not for a drive's root.
host::Error openHolderOf(const Resolution& found, host::Handle& folder, std::string& entry);

// The folder a resolution found, or that a cursor stands at, opened with no link followed, to list
// or change what is in it.
host::Error openFolderOf(const Resolution& found, host::Handle& folder);
host::Error openFolderOf(host::Cursor cursor, host::Handle& folder);

// What fstatat tells of what a resolution found (the link itself for a link), without following
// any link: what the walk read of it, else read now in the folder that holds it.
host::Result<host::Stat> statFound(const Resolution& found);

// An entry, or a new name, in its folder opened with no link followed: where a call that changes
// the disk acts.
struct Held {
    host::Handle folder;
    std::string name;
    host::Place place() const { return {folder.get(), name.c_str()}; }
};

// The entry a resolution found, held in its folder; a drive's root is held as "." in itself.
host::Error hold(const Resolution& found, Held& held);
// The slot's entry or new name, held in its folder. Not for a drive's root.
inline host::Error hold(const Slot& slot, Held& held) {
    return slot.openHolder(held.folder, held.name);
}

// A drive's root is never removed nor moved, as Windows refuses it.
inline bool isRoot(const Slot& slot) {
    return slot.exists && slot.found.folder.depth() == 0;
}

// Whether the file that a stat tells of has the read-only attribute, kept as the owner's write
// bit: Windows refuses writing its data to every account, root too, whatever the host allows.
inline bool isReadOnlyFile(const host::Stat& st) {
    return st.type == file_type::regular &&
           (st.mode & static_cast<unsigned>(perms::owner_write)) == 0;
}

// What fstatat tells of what `p` names, links followed; a missing path fails with its reason.
host::Result<host::Stat> statExisting(const path& p, std::error_code& ec);

// Whether both paths name one file, links followed, as the host's device and inode tell.
bool sameFile(const path& one, const path& two, std::error_code& ec);

}  // namespace winfs
