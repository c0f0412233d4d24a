// A drive of the drive map as winfs itself uses it: with the handle that lookups below it start
// from. Internal to winfs; users see DriveMap alone.
//
// Threading: immutable once its map is built; any number of threads may read it.
#pragma once

#include <string>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/drive_map.h"

namespace winfs {

struct DriveMap::Drive {
    char letter = 0;          // uppercase
    std::string folder;       // the host folder, resolved where it exists
    host::Handle handle;      // an O_PATH handle on it: lookups below it start there
    std::error_code failure;  // why the drive cannot be used, if it cannot
};

}  // namespace winfs
