// What the operation files (operations.cpp, changes.cpp, copying.cpp, queries.cpp) share: looking
// a path up on the process's drive map, and the status of what is found. Internal to winfs.
//
// Threading: free functions over the process's drive map; safe from any number of threads.
#pragma once

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "host/host.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/file_status.h"
#include "pathprobe/winfs/path.h"
#include "resolve/resolver.h"
#include "windows/full_path.h"

namespace winfs {

using Map = std::shared_ptr<const DriveMap>;

inline constexpr Lookup kStatus{.follow = Follow::all, .typeOfLast = true};
inline constexpr Lookup kSymlinkStatus{.follow = Follow::allButLast, .typeOfLast = true};

// What Microsoft's library reports for a read-only file: everything but the three write bits.
inline constexpr perms kReadOnly =
    perms::all & ~(perms::owner_write | perms::group_write | perms::others_write);

// What the file calls look up: \\?\ and \??\ paths as given, as CreateFileW takes them; only
// absolute() rewrites them, as GetFullPathNameW does.
path absoluteOn(const DriveMap& map, const path& p, std::error_code& ec,
                Verbatim verbatim = Verbatim::keep);

// `p` resolved on the disk; a path that comes out empty is no path at all.
Resolution resolveOn(const DriveMap& map, const path& p, Lookup lookup, std::error_code& ec);

// Whether a status carries the permissions (one more system call for a file).
enum class Permissions { skip, read };

// What the status queries answer: a missing path is a type (not_found) with its reason in `ec`.
file_status statusOf(const path& p, Lookup lookup, std::error_code& ec,
                     Permissions want = Permissions::skip);

// The status queries of both forms: a missing path is not_found, an error in the error_code form
// alone (as the standard's status()); `missingIsAnAnswer` makes it none in either (the
// predicates').
file_status statusQuery(const char* operation, const path& p, Lookup lookup, std::error_code* ec,
                        bool missingIsAnAnswer = false, Permissions want = Permissions::skip);

// The permissions that Microsoft's library reports for what `found` names: a folder or a link has
// them all, a file all but the write bits when its owner may not write it.
perms permissionsOf(const Resolution& found, std::error_code& ec);

// A host link at `link` to `target` (a Windows path, stored as its host path when absolute).
void makeLink(const path& target, const path& link, std::error_code& ec);

// The target of a link, as a Windows path; ERROR_NOT_A_REPARSE_POINT for anything else.
path readSymlinkOn(const path& p, std::error_code& ec);

// Every name of `rest` as a new name: ERROR_FILENAME_EXCED_RANGE for one over 255 UTF-16 units,
// ERROR_INVALID_NAME for one Windows forbids.
std::error_code checkNewNames(const path& rest);

// Whether a resolution names something on the host, as every path on a drive does; a device
// (NUL, CON) has no host name to call.
inline bool onTheHost(const Resolution& found) {
    return !found.folder.host().empty();
}

// What `p` names, when it exists, with the map that keeps its folder handles open; a missing path
// fails with its reason, a device with ERROR_NOT_SUPPORTED.
struct Found {
    Map map;
    Resolution at;
};
Found existingOn(const path& p, Lookup lookup, std::error_code& ec);

// Where an operation finds or puts the last name of `p`, links on it not followed: the entry
// itself when it is there, in any case; else the folder that would hold it, which must exist.
// A drive's root has an empty name. A device fails with ERROR_NOT_SUPPORTED.
struct Slot {
    Map map;
    Resolution found;  // the entry when `exists`, else its folder
    bool exists = false;
    std::string name;  // the last name as given: "FOO" where "foo" is on disk

    // The entry, or the new name in its folder; `scratch` holds the text.
    host::Place place(std::string& scratch) const;
    // The name as given in the entry's folder, where "foo" would become "FOO".
    host::Place givenName(host::Cursor& parent, std::string& scratch) const;
};
Slot slotFor(const path& p, std::error_code& ec);

// What `place` names, links followed, is a folder.
bool isFolderAt(host::Place place);

// create_directory: with `existing`, the new folder takes its permission bits.
bool makeDirectory(const path& p, const path* existing, std::error_code& ec);

// create_hard_link.
void makeHardLink(const path& target, const path& link, std::error_code& ec);

// The names in the folder at `place` (not "." and ".."), read whole before any is used.
host::Error namesIn(host::Place place, std::vector<std::string>& names);

}  // namespace winfs
