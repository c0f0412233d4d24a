// Internal to winfs, not installed.
// What a resolution asks and what it gives back: the types that the walk (walk.h) builds and the
// resolver's face (resolver.h) hands to the operations, below both so that neither includes the
// other.
//
// Threading: plain values; a Resolution belongs to one owner (its Cursor's copies may go to other
// threads).
#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "host/host.h"
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

}  // namespace winfs
