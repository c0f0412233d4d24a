// The drive map: Windows drive letters onto host folders, the way Wine maps them, so that pathprobe
// and the Windows build run under Wine see the same disk.
//
// The prefix is $WINEPREFIX, or ~/.wine. Drive X is the folder that <prefix>/dosdevices/x: links
// to; without a dosdevices folder, c: is <prefix>/drive_c and z: is /. Drive C's folder is created
// when it is missing, as Wine creates its prefix.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "winfs/path.h"

namespace winfs {

class DriveMap {
  public:
    // Reads the map of the prefix; a failure to create drive C's folder is kept in setupError().
    explicit DriveMap(const std::string& prefix);
    ~DriveMap();
    DriveMap(const DriveMap&) = delete;
    DriveMap& operator=(const DriveMap&) = delete;

    const std::string& prefix() const noexcept { return prefix_; }
    // The host folder of a drive letter (either case), as the map names it; nothing when unmapped.
    const std::string* folderOf(char letter) const noexcept;
    // Why drive C could not be set up, if it could not.
    const std::error_code& setupError() const noexcept { return setupError_; }

    // "C:\zor" for "<drive_c>/zor": the drive whose folder is the longest leading part of the host
    // path. A name that is not UTF-8 fails with the conversion error; a host path outside every
    // drive fails with ERROR_PATH_NOT_FOUND.
    path windowsPathFor(std::string_view host, std::error_code& ec) const;

    // The root of an absolute Windows path: "c:\", "\\?\C:\" and "\??\c:\" all name drive C.
    struct Root {
        char drive = 0;           // uppercase
        std::string host;         // the drive's folder
        int folder = -1;          // an open handle on it, or -1: lookups below it start there
        std::size_t skipped = 0;  // how many leading elements of the path the root took
    };
    // An unmapped drive fails with ERROR_PATH_NOT_FOUND; any other UNC root with ERROR_BAD_NETPATH.
    Root rootOf(const path& windows, std::error_code& ec) const;

    // The host path for an absolute Windows path, its elements joined with '/'.
    std::string hostPathFor(const path& windows, std::error_code& ec) const;

  private:
    std::string prefix_;
    std::array<std::optional<std::string>, 26> folders_;  // resolved on the host where they exist
    std::array<int, 26> handles_{};                       // O_PATH handles on them, or -1
    std::error_code setupError_;
};

// The process's drive map, read on first use.
const DriveMap& drives();
// Reads the map again from $WINEPREFIX: tests use it to start on a fresh prefix.
void reload_drives();

}  // namespace winfs
