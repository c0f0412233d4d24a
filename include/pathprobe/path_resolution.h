// Path resolution: makes a path absolute and canonical, and reports the conditions it meets on the
// way, one fixed line each, on standard output or on the stream given.
//
// The path is the platform's: std::filesystem::path on Windows, winfs::path elsewhere. Nothing but
// canonPath and absPath is declared outside those namespaces, so a user's own `fs` alias or Win32
// names stay free.
//
// Threading: safe to call from any number of threads, as the file-system calls beneath are; the
// diagnostic lines of concurrent calls on one stream may interleave, so give each its own.
#pragma once

#include <iosfwd>
#include <optional>

#ifdef _WIN32
#include <filesystem>

// The canonical form of `path`: the part that exists resolved on disk, the rest appended, '\'
// separators, lexically normal. An empty path when it cannot be canonicalised.
std::filesystem::path canonPath(std::filesystem::path path, bool resolveSymlinks);
std::filesystem::path canonPath(std::filesystem::path path, bool resolveSymlinks,
                                std::ostream& diagnostics);

// `path` made absolute against `baseDir`, or the working directory without one, then canonPath().
std::filesystem::path absPath(std::filesystem::path path,
                              std::optional<std::filesystem::path> baseDir, bool resolveSymlinks);
std::filesystem::path absPath(std::filesystem::path path,
                              std::optional<std::filesystem::path> baseDir, bool resolveSymlinks,
                              std::ostream& diagnostics);
#else
#include "winfs/path.h"

// As above, on winfs's Windows paths.
winfs::path canonPath(winfs::path path, bool resolveSymlinks);
winfs::path canonPath(winfs::path path, bool resolveSymlinks, std::ostream& diagnostics);

winfs::path absPath(winfs::path path, std::optional<winfs::path> baseDir, bool resolveSymlinks);
winfs::path absPath(winfs::path path, std::optional<winfs::path> baseDir, bool resolveSymlinks,
                    std::ostream& diagnostics);
#endif
