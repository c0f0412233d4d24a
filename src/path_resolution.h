// Path resolution: makes a path absolute and canonical, and reports on standard output, one fixed
// line each, the conditions it meets on the way.
#pragma once

#include <optional>

#include "platform.h"

// The canonical form of `path`: the part that exists resolved on disk, the rest appended, '\'
// separators, lexically normal. An empty path when it cannot be canonicalised.
fs::path canonPath(fs::path path, bool resolveSymlinks);

// `path` made absolute against `baseDir`, or the working directory without one, then canonPath().
fs::path absPath(fs::path path, std::optional<fs::path> baseDir, bool resolveSymlinks);
