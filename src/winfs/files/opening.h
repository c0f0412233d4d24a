// Internal to winfs: the one open behind open_file, winfs::fopen and the file streams.
//
// Threading: free functions over the process's drive map and table of open files; safe from any
// number of threads.
#pragma once

#include <ios>
#include <system_error>

#include "pathprobe/winfs/files.h"
#include "pathprobe/winfs/path.h"

namespace winfs {

// Opens or makes the file `p` names, as CreateFileW: what open_file() opens, as a descriptor, the
// file's entry in the table of open files and whether it was there. ec holds the Windows code of a
// failure.
detail::opened openPath(const path& p, file_access access, file_disposition disposition,
                        file_share share, std::error_code& ec);

// How Microsoft's library opens a file stream in `mode` (ios_base's in, out, trunc, app, binary,
// ate and noreplace), as the fopen mode its table gives: the access and the disposition; app
// implies out. False for a combination its table does not hold.
bool streamOpening(std::ios_base::openmode mode, file_access& access,
                   file_disposition& disposition);

}  // namespace winfs
