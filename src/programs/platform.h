// The programs' own, not installed.
// The one place that picks the platform. On Windows the probe uses the standard library's
// filesystem and KERNEL32 directly; elsewhere winfs stands in for both, under the same names.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "pathprobe/path_resolution.h"

namespace fs = pathprobe::fs;
using std::system_category;

// The standard library's stream, which opens a wide path through _wfopen and so CreateFileW.
using ofstream = std::ofstream;
// Why a stream did not open: the last-error value that its CreateFileW left, which _wfopen only
// reads on the way out (into errno).
inline DWORD streamOpenError(const ofstream&) {
    return GetLastError();
}

// A console program on Windows sees a closed pipe as a failed write already, and says so.
inline void ignoreBrokenPipe() {}
inline void endAsBrokenPipe() {}

// Windows has its own drives: no prefix to check, and no drive map to name.
inline std::string prefixFault() {
    return {};
}
inline std::string unmappedDriveOf(const std::string&) {
    return {};
}

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

// GetShortPathNameW or GetLongPathNameW on `p`, asked again with the room the answer needs.
template <class Call>
fs::path pathNameBy(Call call, const fs::path& p, std::error_code& ec) {
    const std::wstring wanted = p.wstring();
    std::wstring answer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = call(wanted.c_str(), answer.data(), static_cast<DWORD>(answer.size()));
        if (length == 0) {
            ec.assign(static_cast<int>(GetLastError()), std::system_category());
            return {};
        }
        const bool fits = length < answer.size();  // its length; else the room, NUL counted
        answer.resize(length);
        if (fits) break;
    }
    ec.clear();
    return fs::path(answer);
}
inline fs::path shortPathName(const fs::path& p, std::error_code& ec) {
    return pathNameBy(GetShortPathNameW, p, ec);
}
inline fs::path longPathName(const fs::path& p, std::error_code& ec) {
    return pathNameBy(GetLongPathNameW, p, ec);
}
#else
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "kernel32.h"
#include "pathprobe/path_resolution.h"
#include "pathprobe/winfs/fstream.h"

namespace fs = pathprobe::fs;
using winfs::system_category;

// winfs's stream, which opens a Windows path as Microsoft's streams do, sharing read and write.
using ofstream = winfs::ofstream;
// Why a stream did not open: the Windows code of its open; ERROR_GEN_FAILURE (31) for a failure
// that has none.
inline DWORD streamOpenError(const ofstream& stream) {
    constexpr DWORD kGenFailure = 31;
    const std::error_code& ec = stream.rdbuf()->last_error();
    return ec.category() == winfs::system_category() ? static_cast<DWORD>(ec.value()) : kGenFailure;
}

// A write to a closed pipe fails with EPIPE, to be reported, instead of ending the process unseen.
inline void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

// Answers as a Windows without LongPathsEnabled: a path longer than MAX_PATH allows needs "\\?\".
inline void limitToMaxPath() {
    winfs::set_long_paths(false);
}

// Ends the process as a write to a closed pipe ends a host program that leaves SIGPIPE alone:
// quietly, killed by the signal, as the shell and "set -o pipefail" expect.
[[noreturn]] inline void endAsBrokenPipe() {
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

// Why the prefix cannot be used, or nothing. A relative WINEPREFIX would be taken from the
// working folder, a prefix that changes with it and whose drive C the map would make there; Wine
// refuses it too. An empty one is unset.
inline std::string prefixFault() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || *prefix == '\0' || *prefix == '/') return {};
    return std::string("WINEPREFIX is not an absolute path: ") + prefix;
}

// "drive Q: is not mapped in the prefix /x/.wine" where a Windows path lies on a drive that the
// prefix lacks; else nothing.
inline std::string unmappedDriveOf(const std::string& windows) {
    std::error_code ec;
    const std::string root = winfs::absolute(winfs::path(windows), ec).root_name().string();
    if (ec || root.size() != 2 || root[1] != ':') return {};
    const auto map = winfs::drives();
    if (map->folderOf(root[0]) != nullptr) return {};
    const char letter =
        root[0] >= 'a' && root[0] <= 'z' ? static_cast<char>(root[0] - 'a' + 'A') : root[0];
    return std::string("drive ") + letter + ": is not mapped in the prefix " + map->prefix();
}

// A host path and a Windows path, each to the other, through the drive map. A path already in
// the form asked for comes back as it is, made full: "C:/zor" and "\\server\share" are Windows
// paths, since no host path starts so ("./C:/zor" names a host folder "C:"), and "/tmp/x" is a host
// path from whatever folder, where Windows would take it on the working folder's drive. A path
// after "\\?\" is full already, and made full would lose what it keeps ("\\?\C:\x\trail.").
inline std::string windowsPathFor(const std::string& host, std::error_code& ec) {
    if (host.starts_with("\\\\?\\")) {
        ec.clear();
        return host;
    }
    const bool drive = host.size() >= 3 && host[1] == ':' && (host[2] == '\\' || host[2] == '/') &&
                       ((host[0] >= 'a' && host[0] <= 'z') || (host[0] >= 'A' && host[0] <= 'Z'));
    if (drive || host.starts_with("\\\\")) return winfs::absolute(winfs::path(host), ec).string();
    return winfs::windows_path(std::filesystem::path(host), ec).string();
}
inline std::string hostPathFor(const std::string& windows, std::error_code& ec) {
    if (windows.starts_with('/')) return windows;
    return winfs::host_path(winfs::path(windows), winfs::last_link::name, ec).string();
}

// Each name of a path in its short (8.3) form, or in its long form, as GetShortPathNameW and
// GetLongPathNameW give them.
inline fs::path shortPathName(const fs::path& p, std::error_code& ec) {
    return winfs::short_path(p, ec);
}
inline fs::path longPathName(const fs::path& p, std::error_code& ec) {
    return winfs::long_path(p, ec);
}
#endif
