// Path resolution: makes a path absolute and canonical, and reports the conditions it meets on the
// way, one fixed line each, on standard output or on the stream given.
//
// The path is the platform's: std::filesystem::path on Windows, winfs::path elsewhere;
// pathprobe::fs names that library. Nothing but canonPath and absPath is declared outside the
// namespaces pathprobe and winfs, so a user's own `fs` alias or Win32 names stay free.
//
// Threading: safe to call from any number of threads, as the file-system calls beneath are; the
// diagnostic lines of concurrent calls on one stream may interleave, so give each its own.
#pragma once

#include <iosfwd>
#include <optional>

#ifdef _WIN32
#include <filesystem>

namespace pathprobe {
namespace fs = std::filesystem;
}
#else
#include "winfs/filesystem.h"

namespace pathprobe {
namespace fs = winfs;
}
#endif

// The canonical form of `path`: the part that exists resolved on disk, the rest appended, '\'
// separators, lexically normal. An empty path when it cannot be canonicalised.
pathprobe::fs::path canonPath(pathprobe::fs::path path, bool resolveSymlinks);
pathprobe::fs::path canonPath(pathprobe::fs::path path, bool resolveSymlinks,
                              std::ostream& diagnostics);

// `path` made absolute against `baseDir`, or the working directory without one, then canonPath().
pathprobe::fs::path absPath(pathprobe::fs::path path, std::optional<pathprobe::fs::path> baseDir,
                            bool resolveSymlinks);
pathprobe::fs::path absPath(pathprobe::fs::path path, std::optional<pathprobe::fs::path> baseDir,
                            bool resolveSymlinks, std::ostream& diagnostics);
