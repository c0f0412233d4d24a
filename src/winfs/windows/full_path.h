// Internal to winfs, not installed.
// How Windows makes a path full (GetFullPathNameW, as Windows 11 does it): the path joined to the
// working directory as Windows joins it, separators made '\', "." and ".." removed lexically, a
// single trailing dot dropped from every name and trailing dots and spaces from the last one, and
// a DOS device name made a device path. Nothing here touches the disk: the working directory is
// handed in.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <cstddef>
#include <string_view>
#include <system_error>

#include "pathprobe/winfs/path.h"

namespace winfs {

// How paths that start exactly with "\\?\" or "\??\" are taken. GetFullPathNameW rewrites them
// like any other ("\\?\c:\a\..\b." is "\\?\c:\b", "\??\x" is "C:\??\x"); the file calls
// (CreateFileW and the rest) take them as given and hand them to the system unchanged.
enum class Verbatim { rewrite, keep };

// Whether the full path of `p` depends on the working directory: "foo", "c:foo", "?:foo", "\foo"
// and "\??\foo" (rewritten) do; "c:\foo", "\\server\share", "\\?\c:\foo", "CON" and "\??\CON"
// do not.
bool needsWorkingDirectory(const path& p, Verbatim verbatim = Verbatim::rewrite) noexcept;

// "c:foo" resolves against the working directory when that lies on drive C, else against C:\;
// "\foo" lands on the working directory's drive; "c:\zor\lnk\..\x" is "c:\zor\x" whatever lnk is;
// "c:\zor\a.\b. . " is "c:\zor\a\b"; ".." never climbs above "c:\", "\\server\share" or "\\.\"
// ("\\server\share\.." is "\\server\share"); the server and the share are names whatever they hold
// ("\\..\x" and "\\server\..\x" stay), but lose trailing dots and spaces where nothing follows
// ("\\server\.." is "\\server\");
// "CON", "\??\CON" and "c:\x\nul" are "\\.\CON", "\\.\CON" and "\\.\nul". The empty path fails
// with ERROR_INVALID_NAME; a path of more than 32,767 UTF-16 units, given or made, with
// ERROR_FILENAME_EXCED_RANGE.
// `workingDirectory`, a full path on a drive or a server, is read only when needsWorkingDirectory.
path fullPathName(const path& p, const path& workingDirectory, std::error_code& ec,
                  Verbatim verbatim = Verbatim::rewrite);

// Whether a name, exactly as it stands and in any case, is one of the DOS devices that a full path
// makes "\\.\NAME": "NUL", "con", "CONIN$", "COM1" are; "nul.txt", "nul." and "COM0" are not.
bool isDeviceName(std::string_view name) noexcept;

// Whether Windows 10 and older, and Wine, read a last name in a folder as a DOS device: the name
// up to its first dot, trailing spaces dropped, is one ("con", "nul.txt", "COM1 .log"); "nulx",
// "x.nul" and "COM0" are not. Only after \\?\ does such a name stay a file's on every Windows.
bool isLegacyDeviceName(std::string_view name) noexcept;

// MAX_PATH: the UTF-16 units, the terminating NUL among them, that a Windows without long paths
// takes in a path.
inline constexpr std::size_t kMaxPath = 260;

// Whether `text`, with its terminating NUL, takes more than `limit` UTF-16 units: "C:\" and 256
// more characters fit MAX_PATH, 257 do not; "é" is one unit, "𝄞" two.
bool exceedsLimit(std::string_view text, std::size_t limit) noexcept;

}  // namespace winfs
