// Host paths and Windows paths, each to the other, through the drive map: what a user of Wine's
// prefix reads in one form and needs in the other.
//
// Threading: both are safe to call from any number of threads at once; like the other operations
// they read the process's working directory and its current drive map.
#pragma once

#include <filesystem>
#include <system_error>

#include "path.h"

namespace winfs {

// What host_path does with a link as the last name: follows it with its Windows meaning, to the
// host path of what a Windows program opening the path reaches (the default: a host program that
// opens it then reaches the same file, wherever the host's own meaning of the link leads), or
// names the link itself, as path converters do, so that removing that host path removes the link.
enum class last_link { follow, name };

// The host path that a Windows path names: made full as the file calls make it ("\\?\C:\x\trail."
// names "trail.", where "C:\x\trail." names "trail"), the part that exists in its case on disk and
// its links followed (a last one as `last` says), the rest as given, names joined with '/'. With
// last_link::name, "c:\zor\lnk" is "<drive_c>/zor/lnk". With a prefix whose drive C is
// <prefix>/drive_c, "c:\ZOR\new\" is "<prefix>/drive_c/zor/new/": a trailing separator is kept,
// and "new::$DATA" is "new". A drive that is not mapped fails with ERROR_PATH_NOT_FOUND, a path on
// no drive (a server) with ERROR_BAD_NETPATH, a device ("c:\zor\nul") or a stream ("x:s"), which
// no host file stands for, with ERROR_NOT_SUPPORTED; "." or ".." after "\\?\" with
// ERROR_INVALID_NAME. Wine's namespace of the host's tree is read too: "\\?\unix\usr\bin" is
// "/usr/bin", on any prefix.
std::filesystem::path host_path(const path& p, last_link last = last_link::follow);
std::filesystem::path host_path(const path& p, std::error_code& ec);
std::filesystem::path host_path(const path& p, last_link last, std::error_code& ec);

// The Windows path of a host path: made absolute against the host's working directory, ".."
// taken lexically ("/tmp/a/../b" is "Z:\tmp\b" whatever a is), then on the drive whose folder is
// the longest leading part of it, a link to a drive's folder counting as that folder
// ("<prefix>/dosdevices/c:/zor" is "C:\zor"). A trailing '/' is kept as '\'. A name that Windows
// would read as another file comes after "\\?\", which keeps it: "<drive_c>/x/trail." is
// "\\?\C:\x\trail.", where "C:\x\trail." is "trail"; so are "trail ", "nul", and "con.txt", a
// device to Windows 10 and Wine. A path outside every drive (a prefix without Z:) is written as
// Wine writes it, in its namespace of the host's tree: "/usr/bin" is "\\?\unix\usr\bin", which
// host_path reads back. One longer than Windows takes (32,767 UTF-16 units) fails with
// ERROR_FILENAME_EXCED_RANGE; a name Windows cannot spell ("a\b", "a:b") and the empty path with
// ERROR_INVALID_NAME; a name that is not UTF-8 with std::errc::illegal_byte_sequence.
path windows_path(const std::filesystem::path& host);
path windows_path(const std::filesystem::path& host, std::error_code& ec);

}  // namespace winfs
