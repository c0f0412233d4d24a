// Internal to winfs: the status of what a path names, as the status queries, the directory entries
// and the copies ask for it.
//
// Threading: free functions over the process's drive map; safe from any number of threads.
#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/file_status.h"
#include "pathprobe/winfs/path.h"
#include "resolve/resolver.h"

namespace winfs {

// Where a map keeps its links' read-only attributes: a folder in the prefix, one for every drive,
// so that a link reached through C: and through Z: has one attribute. "" for a map without a
// prefix, which keeps none.
std::string linkAttributesFolder(const DriveMap& map);

// Whether a status carries the permissions (one more system call for a file).
enum class Permissions { skip, read };

// Whether a missing path is an error for the error_code form of a query (the standard's status())
// or an answer in both forms (the predicates': exists() is false).
enum class Missing { isAnError, isAnAnswer };

// The status of what `p` names: a missing path is a type (not_found) with its reason in `ec`.
file_status lookUpStatus(const path& p, Lookup lookup, std::error_code& ec,
                         Permissions want = Permissions::skip);

// lookUpStatus with the attribute, of the name itself (no link followed), and what fstatat told of
// it in `itself` when it is on the host: what a directory_entry made from a path keeps.
file_status lookUpEntry(const path& p, std::error_code& ec, std::optional<host::Stat>& itself);

// A status query of both forms, reported under `operation`: a missing path is not_found, and an
// error only as `missing` says.
file_status queryStatus(const char* operation, const path& p, Lookup lookup, std::error_code* ec,
                        Missing missing = Missing::isAnError, Permissions want = Permissions::skip);

}  // namespace winfs
