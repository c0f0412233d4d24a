// Thin wrappers over the host's system calls, with errors as values.
#pragma once

#include <string>
#include <system_error>

#include "winfs/error.h"

namespace winfs {

// The target of a host symbolic link, as stored.
std::string readHostLink(const std::string& link, std::error_code& ec);

// The Windows code for a host errno; `lastElement` tells a missing file (2) from a missing folder
// on the way (3).
win_error windowsErrorFor(int error, bool lastElement) noexcept;

// The host working directory.
std::string hostWorkingDirectory(std::error_code& ec);

}  // namespace winfs
