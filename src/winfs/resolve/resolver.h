// Internal to winfs, not installed.
// The resolver: the one walk that looks a full Windows path up on the disk. It follows links (at
// most 63 in one resolution, as Windows does), matches names in any case and keeps the case found
// on disk, and hands back the part that exists, resolved, and the rest of the path.
//
// Threading: resolve() may run in any number of threads at once. It uses only the map it is given,
// which the caller keeps alive; a name that changes between two system calls is looked at again, so
// every answer is one state that the path really had.
#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/file_status.h"
#include "pathprobe/winfs/path.h"

namespace winfs {

// Which links the walk follows: every one, or every one but a link that is the last name.
enum class Follow { all, allButLast };

struct Lookup {
    Follow follow = Follow::all;
    // Ask what the last name is (one more system call where it is not a link); without it, the
    // type of a last name that exists and is not a link is file_type::unknown.
    bool typeOfLast = false;
};

struct Resolution {
    path head;            // the longest leading part that exists, resolved: "C:\zor\store"
    char drive = 0;       // the letter of the drive it lies on
    host::Cursor folder;  // the same on the host, holding the folders on the way it opened
    file_type type = file_type::directory;  // what `head` names
    std::string linkTarget;                 // the target as stored, when `head` is a link
    // What fstatat told of `head` when the walk looked at it, as `type` (a link itself with
    // Follow::allButLast): with Lookup::typeOfLast, for a name below the drive's root.
    std::optional<host::Stat> stat;
    path rest;  // the names after `head`, as given, when they do not exist: "missing\more"
    // Why `rest` is not there: ERROR_FILE_NOT_FOUND when only its last name is missing,
    // ERROR_PATH_NOT_FOUND when a folder on the way is.
    std::error_code missing;
};

// Resolves `full`, a full path (as fullPathName() gives it) on a drive of `map`. A path on no drive
// fails with ERROR_BAD_NETPATH, an unmapped drive with ERROR_PATH_NOT_FOUND, a 64th link with
// ERROR_CANT_RESOLVE_FILENAME, a name with a character Windows forbids with ERROR_INVALID_NAME.
// A name that is not there is no error: it starts `rest`.
Resolution resolve(const DriveMap& map, const path& full, Lookup lookup, std::error_code& ec);

// Whether openAsGiven() takes names in another case from the folders' kept listings: for an open
// that expects the file there; one that may make it walks instead, since a new name would cost
// those calls for nothing.
enum class OtherCase { walked, listed };

// Opens the file that `full` names with `mode` where the walk would find it so, without walking:
// a path on a drive whose names are all there as given and none of them a link, in one call; with
// OtherCase::listed, also one whose names are in another case, each as its folder's kept listing
// spells it, one folder at a time, with no link followed. Nothing where the walk must say what the
// path names (a name missing, or in another case where no listing is kept, a link, a device, a
// stream, a name Windows forbids): the caller walks then.
std::optional<host::Handle> openAsGiven(const DriveMap& map, const path& full, host::FileMode mode,
                                        OtherCase otherCase);

}  // namespace winfs
