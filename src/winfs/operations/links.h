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

}  // namespace winfs
