// How Windows makes a path full (GetFullPathNameW): the path joined to the working directory as
// Windows joins it, "." and ".." removed lexically, trailing dots and spaces dropped from the last
// name. Nothing here touches the disk: the working directory is handed in.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <system_error>

#include "winfs/path.h"

namespace winfs {

// Whether the full path of `p` depends on the working directory: "foo", "c:foo" and "\foo" do;
// "c:\foo", "\\server\share" and "\\?\c:\foo" do not.
bool needsWorkingDirectory(const path& p) noexcept;

// "c:foo" resolves against the working directory when that lies on drive C, else against C:\;
// "\foo" lands on the working directory's drive; "c:\zor\lnk\..\x" is "c:\zor\x" whatever lnk is;
// "c:\zor\a. . " is "c:\zor\a"; \\?\ and \??\ paths are taken as they are. A path of more than
// 32,767 UTF-16 units fails with ERROR_FILENAME_EXCED_RANGE. `workingDirectory` is read only when
// needsWorkingDirectory(p).
path fullPathName(const path& p, const path& workingDirectory, std::error_code& ec);

}  // namespace winfs
