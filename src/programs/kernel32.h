// The programs' own, not installed.
// Stand-ins for the KERNEL32 calls that the programs make, with Windows's types and behaviour, on
// a host that is not Windows.
#pragma once

#include <cstdint>

using BOOL = int;
using BOOLEAN = unsigned char;
using DWORD = std::uint32_t;
using LPCSTR = const char*;
using LPCWSTR = const wchar_t*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using HANDLE = void*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

inline constexpr DWORD SYMBOLIC_LINK_FLAG_DIRECTORY = 0x1;
inline constexpr DWORD SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE = 0x2;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_APPEND_DATA = 0x4;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
// Windows's own value, (HANDLE)-1, which no handle of ours can be.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Every call below leaves the reason for a failure in the calling thread's last-error value, and
// is safe to call from any number of threads; a handle belongs to one owner at a time.

// Makes `link` a symbolic link to `target`, which need not exist; nonzero when it did. It fails
// with 183 when the name exists, 3 when its folder is missing, 5 when that folder denies writing,
// 87 for a flag other than the two above. With WINFS_SYMLINK_PRIVILEGE=0 (or false, no, off) in
// the environment every call fails with 1314, as it does for an account without the privilege to
// make links.
BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags);

// Opens or makes a file through winfs::open_file: access GENERIC_READ, GENERIC_WRITE (or both) or
// FILE_APPEND_DATA, the share flags above, and a disposition from CREATE_NEW to TRUNCATE_EXISTING.
// On success the last-error value is 183 when CREATE_ALWAYS or OPEN_ALWAYS found the file there,
// else 0. Another access right, an attribute other than FILE_ATTRIBUTE_NORMAL, a flag or a
// template is not stood in for: ERROR_INVALID_PARAMETER (87), as is an access of none.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Writes all `size` bytes, with `written` set to how many when it is given; no overlapped I/O.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE object);

// Removes a file, through winfs::remove; a folder, or a file with the read-only attribute, is
// refused with ERROR_ACCESS_DENIED (5).
BOOL DeleteFileW(LPCWSTR name);
// Renames through winfs::rename, which replaces a file of the new name: only with
// MOVEFILE_REPLACE_EXISTING, any other flags being ERROR_INVALID_PARAMETER (87).
BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
// The read-only attribute, through winfs::permissions: FILE_ATTRIBUTE_READONLY sets it,
// FILE_ATTRIBUTE_NORMAL clears it; any other attribute is ERROR_INVALID_PARAMETER (87).
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);

// The calling thread's last-error value.
DWORD GetLastError();
void SetLastError(DWORD error);
