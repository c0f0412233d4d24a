// winfs: Windows path syntax and Windows file-system behaviour for hosts that are not Windows,
// under the names of std::filesystem.
#pragma once

#include "conversions.h"
#include "directory.h"
#include "drive_map.h"
#include "error.h"
#include "files.h"
#include "fstream.h"
#include "long_paths.h"
#include "operations.h"
#include "path.h"
#include "short_names.h"
