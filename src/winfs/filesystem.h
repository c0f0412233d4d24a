// winfs: Windows path syntax and Windows file-system behaviour for hosts that are not Windows,
// under the names of std::filesystem.
#pragma once

#include "winfs/drive_map.h"
#include "winfs/error.h"
#include "winfs/host_paths.h"
#include "winfs/operations.h"
#include "winfs/path.h"
