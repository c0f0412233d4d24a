// The drive map: Windows drive letters onto host folders, the way Wine maps them, so that pathprobe
// and the Windows build run under Wine see the same disk. It is the only code that turns a Windows
// path into a host path and back.
//
// The prefix is $WINEPREFIX, or ~/.wine. Drive X is the folder that <prefix>/dosdevices/x: links
// to; without a dosdevices folder, c: is <prefix>/drive_c and z: is /. Drive C's folder is created
// when it is missing, as Wine creates its prefix.
//
// Threading: a DriveMap is immutable once built, so any number of threads may use one. drives()
// and reload_drives() are safe to call concurrently: the process's map is built once, on first use,
// and a reload swaps a new map in whole. A caller that holds the shared_ptr from drives() keeps
// that map, and the folder handles in it, alive and unchanged for as long as it holds it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "path.h"

namespace winfs {

struct LookupForm;

class DriveMap {
  public:
    // One drive of a map: its letter, its host folder and an open handle on it (winfs's own).
    struct Drive;

    // Reads the map of the prefix; a failure to create drive C's folder is kept as that drive's
    // failure, reported at its first use.
    explicit DriveMap(const std::string& prefix);
    DriveMap(const DriveMap&) = delete;
    DriveMap& operator=(const DriveMap&) = delete;
    ~DriveMap();

    const std::string& prefix() const noexcept { return prefix_; }
    // Different for every map the process builds, so that an answer kept for one map is never
    // taken for another's, even one built where the first one stood.
    std::uint64_t serial() const noexcept { return serial_; }
    // Whether a drive failed for want of a descriptor or of memory (ERROR_TOO_MANY_OPEN_FILES,
    // ERROR_NOT_ENOUGH_MEMORY): the calls on it fail, and a holder reads such a map again at its
    // next use rather than keep it.
    bool provisional() const noexcept { return provisional_; }
    // The drive of a letter (either case); nullptr when unmapped.
    const Drive* drive(char letter) const noexcept;
    // The host folder of a drive letter (either case); nullptr when unmapped.
    const std::string* folderOf(char letter) const noexcept;
    // The drive that a path starts on: its drive letter, or this machine's administrative share of
    // the drive ("\\localhost\c$", "\\127.0.0.1\c$" or the host's own name, in any case). An
    // unmapped drive fails with ERROR_PATH_NOT_FOUND, any other server or share with
    // ERROR_BAD_NETPATH, a drive whose folder is unusable with that drive's failure.
    const Drive* driveOf(const LookupForm& form, std::error_code& ec) const;

    // "C:\zor" for "<drive_c>/zor": the drive whose folder is the longest leading part of the host
    // path. A name that is not UTF-8 fails with the conversion error; a host path outside every
    // drive fails with ERROR_PATH_NOT_FOUND.
    path windowsPathFor(std::string_view host, std::error_code& ec) const;

    // The host path of an absolute Windows path on a drive ("c:\zor", "\\?\C:\zor",
    // "\\localhost\c$\zor"), its names joined with '/'. Fails as driveOf() does, or with
    // ERROR_BAD_NETPATH for a device; a name that no disk holds ("..", "a/b" after \\?\) with
    // ERROR_INVALID_NAME.
    std::string hostPathFor(const path& windows, std::error_code& ec) const;

  private:
    void openDrives();  // those the prefix names

    std::string prefix_;
    std::string hostName_;
    std::uint64_t serial_;
    bool provisional_ = false;
    std::array<std::unique_ptr<const Drive>, 26> drives_;
};

// A relative link target as the host stores it ('/' between names) as a relative Windows path:
// "../store" is "..\\store". A name Windows cannot spell ("a\\b", "a:b") fails with
// ERROR_INVALID_NAME rather than be read as another path.
path windowsPathOf(std::string_view relativeHost, std::error_code& ec);

// The process's drive map, read on first use.
std::shared_ptr<const DriveMap> drives();
// Reads the map again from $WINEPREFIX and puts it in place of the current one; calls already
// under way finish on the map they started with. Tests use it to start on a fresh prefix.
void reload_drives();

// A holder of one current map, for drives() and for whoever needs a map of their own: built from
// `prefix()` on first use, and again at a use after one that was provisional(); replaced whole by
// reload().
class DriveMapHolder {
  public:
    std::shared_ptr<const DriveMap> current();
    void reload();

  private:
    std::mutex mutex_;
    std::shared_ptr<const DriveMap> map_;
};

}  // namespace winfs
