// The drive map: Windows drive letters onto host folders, the way Wine maps them, so that pathprobe
// and the Windows build run under Wine see the same disk. It is the only code that turns a Windows
// path into a host path and back.
//
// The prefix is $WINEPREFIX, or ~/.wine. Drive X is the folder that <prefix>/dosdevices/x: links
// to; without a dosdevices folder, c: is <prefix>/drive_c and z: is /. Drive C's folder is created
// when it is missing, as Wine creates its prefix.
//
// Threading: a DriveMap is immutable once built, so any number of threads may use one. drives() is
// safe to call concurrently: the process's map is built once, on first use, and swapped whole when
// it is read again. A caller that holds the shared_ptr from drives() keeps that map, and the
// folder handles in it, alive and unchanged for as long as it holds it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "path.h"

namespace winfs {

namespace detail {
struct Drive;
class DriveMapAccess;
}  // namespace detail

class DriveMap {
  public:
    // Reads the map of the prefix; a failure to create drive C's folder is kept as that drive's
    // failure, reported at its first use.
    explicit DriveMap(const std::string& prefix);
    DriveMap(const DriveMap&) = delete;
    DriveMap& operator=(const DriveMap&) = delete;
    ~DriveMap();

    const std::string& prefix() const noexcept { return prefix_; }
    // The host folder of a drive letter (either case); nullptr when unmapped.
    const std::string* folderOf(char letter) const noexcept;

    // What becomes of a host path outside every drive: it fails, or it is written in the namespace
    // that Wine gives the host's whole tree, "\\?\unix\usr\bin" for "/usr/bin".
    enum class Outside { fail, unixNamespace };

    // "C:\zor" for "<drive_c>/zor": the drive whose folder is the longest leading part of the host
    // path. A name that is not UTF-8 fails with the conversion error; a host path outside every
    // drive as `outside` says, with ERROR_PATH_NOT_FOUND when it fails.
    path windowsPathFor(std::string_view host, std::error_code& ec,
                        Outside outside = Outside::fail) const;

    // The host path of an absolute Windows path on a drive ("c:\zor", "\\?\C:\zor",
    // "\\localhost\c$\zor"), its names joined with '/'. An unmapped drive fails with
    // ERROR_PATH_NOT_FOUND, another server or share or a device with ERROR_BAD_NETPATH, a drive
    // whose folder is unusable with that drive's failure; a name that no disk holds ("..", "a/b"
    // after \\?\) with ERROR_INVALID_NAME. "\\?\unix\usr\bin" is "/usr/bin", on no drive, its
    // names as a Windows path may hold them ("a:b" is ERROR_INVALID_NAME).
    std::string hostPathFor(const path& windows, std::error_code& ec) const;

  private:
    friend class detail::DriveMapAccess;  // winfs's own: each drive's host handle, the map's serial

    void openDrives();  // those the prefix names

    std::string prefix_;
    std::string hostName_;
    std::uint64_t serial_;
    bool provisional_ = false;
    std::array<std::unique_ptr<const detail::Drive>, 26> drives_;
};

// The process's drive map, read from $WINEPREFIX on first use. Whoever holds it keeps that map
// unchanged for as long as they hold it.
std::shared_ptr<const DriveMap> drives();

}  // namespace winfs
