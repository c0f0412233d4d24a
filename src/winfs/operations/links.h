// Internal to winfs: symbolic links as the operations make and read them, for create_symlink,
// read_symlink and the copies.
//
// Threading: free functions over the process's drive map; safe from any number of threads.
#pragma once

#include <system_error>

#include "pathprobe/winfs/path.h"

namespace winfs {

// A host link at `link` to `target` (a Windows path, stored as its host path when absolute).
void makeLink(const path& target, const path& link, std::error_code& ec);

// The target of a link, as a Windows path; ERROR_NOT_A_REPARSE_POINT for anything else.
path readLinkTarget(const path& p, std::error_code& ec);

// Where the link `p` leads with its Windows meaning, as a full path: a relative target taken from
// the link's folder as resolved, its ".." stopping at the drive's root ("..\x" from C:\zor\lnk
// is C:\x).
path linkDestination(const path& p, std::error_code& ec);

}  // namespace winfs
