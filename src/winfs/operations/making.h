// Internal to winfs: the new folders and hard links that create_directory and create_hard_link
// make, and that the copies make too.
//
// Threading: free functions over the process's drive map; safe from any number of threads.
#pragma once

#include <system_error>

#include "pathprobe/winfs/path.h"

namespace winfs {

// create_directory: true when it made the folder; false, without error, when one is there.
bool makeDirectory(const path& p, std::error_code& ec);

// create_hard_link.
void makeHardLink(const path& target, const path& link, std::error_code& ec);

}  // namespace winfs
