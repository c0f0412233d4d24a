// The one place that picks the platform. On Windows the probe uses the standard library's
// filesystem and KERNEL32 directly; elsewhere winfs stands in for both, under the same names.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;
using std::system_category;

// A console program on Windows sees a closed pipe as a failed write already.
inline void ignoreBrokenPipe() {}
#else
#include <csignal>

#include "kernel32.h"
#include "winfs/filesystem.h"

namespace fs = winfs;
using winfs::system_category;

// A write to a closed pipe fails with EPIPE, to be reported, instead of ending the process unseen.
inline void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}
#endif
