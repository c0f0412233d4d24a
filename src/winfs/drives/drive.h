// Internal to winfs: the drive map as winfs itself uses it. Each drive holds the host handle that
// lookups below it start from; the process's map can be read again; a relative link target is
// spelled as a Windows path. Users see drive_map.h alone.
//
// Threading: a Drive is immutable once its map is built; any number of threads may read it. The
// functions are safe to call concurrently; a DriveMapHolder serialises its own reads and swaps.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/path.h"

namespace winfs {

struct LookupForm;

namespace detail {

struct Drive {
    char letter = 0;          // uppercase
    std::string folder;       // the host folder, resolved where it exists
    host::Handle handle;      // an O_PATH handle on it: lookups below it start there
    std::error_code failure;  // why the drive cannot be used, if it cannot
};

// What winfs reads of a map beyond what users call.
class DriveMapAccess {
  public:
    // The drive of a letter (either case); nullptr when unmapped.
    static const Drive* drive(const DriveMap& map, char letter) noexcept;
    // The drive that a path starts on: its drive letter, or this machine's administrative share
    // of the drive ("\\localhost\c$", "\\127.0.0.1\c$" or the host's own name, in any case). An
    // unmapped drive fails with ERROR_PATH_NOT_FOUND, any other server or share with
    // ERROR_BAD_NETPATH, a drive whose folder is unusable with that drive's failure.
    static const Drive* driveOf(const DriveMap& map, const LookupForm& form, std::error_code& ec);
    // Different for every map the process builds, so that an answer kept for one map is never
    // taken for another's, even one built where the first one stood.
    static std::uint64_t serial(const DriveMap& map) noexcept { return map.serial_; }
    // Whether a drive failed for want of a descriptor or of memory (ERROR_TOO_MANY_OPEN_FILES,
    // ERROR_NOT_ENOUGH_MEMORY): the calls on it fail, and a holder reads such a map again at its
    // next use rather than keep it.
    static bool provisional(const DriveMap& map) noexcept { return map.provisional_; }
};

}  // namespace detail

using detail::Drive;
using detail::DriveMapAccess;

// A relative link target as the host stores it ('/' between names) as a relative Windows path:
// "../store" is "..\\store". A name Windows cannot spell ("a\\b", "a:b") fails with
// ERROR_INVALID_NAME rather than be read as another path.
path relativeWindowsPathFor(std::string_view relativeHost, std::error_code& ec);

// A holder of one current map, for drives() and for whoever needs a map of their own: built from
// $WINEPREFIX on first use, and again at a use after one that was provisional; replaced whole by
// reload().
class DriveMapHolder {
  public:
    std::shared_ptr<const DriveMap> current();
    void reload();

  private:
    std::mutex mutex_;
    std::shared_ptr<const DriveMap> map_;
};

// Reads the process's map again from $WINEPREFIX and puts it in place of the current one; calls
// already under way finish on the map they started with. Tests use it to start on a fresh prefix.
void reloadDrives();

}  // namespace winfs
