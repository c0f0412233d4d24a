// The programs' own, not installed.
// The one place that picks the platform. On Windows the probe uses the standard library's
// filesystem and KERNEL32 directly; elsewhere winfs stands in for both, under the same names.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "pathprobe/path_resolution.h"

namespace fs = pathprobe::fs;
using std::system_category;

// A console program on Windows sees a closed pipe as a failed write already.
inline void ignoreBrokenPipe() {}

// On Windows the system's LongPathsEnabled and the program's manifest decide whether MAX_PATH
// holds.
inline void limitToMaxPath() {}

// The host is Windows: its paths are Windows paths, and each form of one is the path made absolute.
inline std::string windowsPathFor(const std::string& host, std::error_code& ec) {
    return fs::absolute(fs::path(host), ec).string();
}
inline std::string hostPathFor(const std::string& windows, std::error_code& ec) {
    return fs::absolute(fs::path(windows), ec).string();
}
#else
#include <csignal>
#include <filesystem>
#include <string>
#include <system_error>

#include "kernel32.h"
#include "pathprobe/path_resolution.h"

namespace fs = pathprobe::fs;
using winfs::system_category;

// A write to a closed pipe fails with EPIPE, to be reported, instead of ending the process unseen.
inline void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

// Answers as a Windows without LongPathsEnabled: a path longer than MAX_PATH allows needs "\\?\".
inline void limitToMaxPath() {
    winfs::set_long_paths(false);
}

// A host path and a Windows path, each to the other, through the drive map.
inline std::string windowsPathFor(const std::string& host, std::error_code& ec) {
    return winfs::windows_path(std::filesystem::path(host), ec).string();
}
inline std::string hostPathFor(const std::string& windows, std::error_code& ec) {
    return winfs::host_path(winfs::path(windows), ec).string();
}
#endif
