// The programs' own, not installed.
// Stand-ins for the KERNEL32 calls that the probe makes, with Windows's types and behaviour, on a
// host that is not Windows.
#pragma once

#include <cstdint>

using BOOLEAN = unsigned char;
using DWORD = std::uint32_t;
using LPCSTR = const char*;

inline constexpr DWORD SYMBOLIC_LINK_FLAG_DIRECTORY = 0x1;
inline constexpr DWORD SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE = 0x2;

// Makes `link` a symbolic link to `target`, which need not exist; nonzero when it did. On failure
// the reason is left in the calling thread's last-error value: 183 when the name exists, 3 when its
// folder is missing, 5 when that folder denies writing, 87 for a flag other than the two above.
// With WINFS_SYMLINK_PRIVILEGE=0 (or false, no, off) in the environment every call fails with
// 1314, as it does for an account without the privilege to make links.
//
// Threading: safe to call from any number of threads; the last-error value is each thread's own.
BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags);

// The calling thread's last-error value.
DWORD GetLastError();
void SetLastError(DWORD error);
