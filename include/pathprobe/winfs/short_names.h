// The short (8.3) names of a path, and its long names back, as GetShortPathNameW and
// GetLongPathNameW give them. Every name that is not itself a legal 8.3 name has a short one,
// computed from it as a Wine prefix computes it ("Program Files" is "PROG~FBU"), so that a program
// run under Wine and winfs agree on one disk; every lookup takes a short name for its long one.
//
// Threading: safe to call from any number of threads at once, as the other operations are.
#pragma once

#include <system_error>

#include "path.h"

namespace winfs {

// `p` with each name replaced by the short name of what it names on disk, a name that is its own
// short name as the folder lists it: "C:\Program Files\app\README.TXT" is
// "C:\PROG~FBU\app\readme.txt". The root name, the separators ('/' or '\', doubled or not), "."
// and "..", and a relative path's being relative stay as written. Links are not followed for the
// name they are, only to reach what follows them. A path that does not exist, to its last name,
// fails with ERROR_FILE_NOT_FOUND; the empty path with ERROR_PATH_NOT_FOUND.
path short_path(const path& p);
path short_path(const path& p, std::error_code& ec);

// `p` with each name that could be a short name (a legal 8.3 name: "PROG~FBU", "STORE") replaced
// by the long name of what it names, as the folder lists it, and every longer name kept as written:
// "c:\PROG~FBU\APP\program data" is "c:\Program Files\app\program data". Otherwise as
// short_path().
path long_path(const path& p);
path long_path(const path& p, std::error_code& ec);

}  // namespace winfs
