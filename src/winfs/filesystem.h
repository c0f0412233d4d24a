// winfs: Windows path syntax and Windows file-system behaviour for hosts that are not Windows,
// under the names of std::filesystem.
#pragma once

#include "winfs/error.h"
#include "winfs/path.h"
