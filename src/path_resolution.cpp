#include "pathprobe/path_resolution.h"

#include <iostream>
#include <utility>

namespace fs = pathprobe::fs;

// By value, as absPath hands it over: the caller's path is never touched.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
fs::path canonPath(fs::path path, bool resolveSymlinks, std::ostream& diagnostics) {
    if (!path.is_absolute()) diagnostics << "not an absolute path" << std::endl;

    // A link is only resolved on request; the empty path is the one failure result callers know.
    if (fs::is_symlink(path) && !resolveSymlinks) {
        diagnostics << "bailing out because path is a symlink while symlink resolving is disabled"
                    << std::endl;
        return fs::path();
    }

    fs::path result;
    try {
        result = fs::weakly_canonical(path);
    } catch (const fs::filesystem_error&) {
        diagnostics << "weakly_canonical path problem" << std::endl;
    }
    result.make_preferred();
    return result.lexically_normal();
}

fs::path canonPath(fs::path path, bool resolveSymlinks) {
    return canonPath(std::move(path), resolveSymlinks, std::cout);
}

fs::path absPath(fs::path path, std::optional<fs::path> baseDir, bool resolveSymlinks,
                 std::ostream& diagnostics) {
    if (path.is_absolute()) return canonPath(std::move(path), resolveSymlinks, diagnostics);

    // The working directory is read only when there is no base to resolve against.
    const fs::path base = baseDir ? std::move(*baseDir) : fs::current_path();
    if (!base.is_absolute()) diagnostics << "dir is not an absolute path" << std::endl;
    return canonPath(base / path, resolveSymlinks, diagnostics);
}

fs::path absPath(fs::path path, std::optional<fs::path> baseDir, bool resolveSymlinks) {
    return absPath(std::move(path), std::move(baseDir), resolveSymlinks, std::cout);
}
