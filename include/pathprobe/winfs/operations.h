// File-system operations with Windows behaviour on a host that is not Windows, under the names and
// contracts of std::filesystem: a throwing form and an std::error_code& form of each. Errors hold
// Windows codes in winfs::system_category(). This header has what makes paths absolute, canonical
// and relative, and the status queries; changes.h what changes the disk; queries.h sizes, times,
// links, identity and room.
//
// Threading: every operation is safe to call from any number of threads at once, while other
// threads or processes change the disk; each answer is one state that the path really had. Like
// the standard's, they share the process's working directory: current_path(p) moves it for all.
// The error_code forms report every failure through `ec`, an exhausted memory among them
// (ERROR_NOT_ENOUGH_MEMORY); they are not noexcept, since they allocate.
#pragma once

#include <system_error>

#include "file_status.h"
#include "path.h"

// The rest of the operations: what changes the disk, and sizes, times and identity.
#include "changes.h"
#include "queries.h"

namespace winfs {

// The host working directory, as a Windows path.
path current_path();
path current_path(std::error_code& ec);

// Makes `p` the host working directory.
void current_path(const path& p);
void current_path(const path& p, std::error_code& ec);

// As Windows has it: the first of TMP, TEMP and USERPROFILE that holds an absolute Windows path,
// else the host's temporary folder ($TMPDIR, else /tmp); it ends in a backslash. A value that is
// not an existing folder fails (ERROR_DIRECTORY when it names something else), with an empty path.
path temp_directory_path();
path temp_directory_path(std::error_code& ec);

// As GetFullPathNameW (see fullPathName): "c:foo" resolves against the working directory when that
// lies on drive C, else against C:\; "\foo" lands on the working directory's drive. Then "." and
// ".." go, lexically: "c:\zor\lnk\..\x" is "c:\zor\x" whatever lnk is. "nul" is "\\.\nul"; the
// empty path fails with ERROR_INVALID_NAME.
path absolute(const path& p);
path absolute(const path& p, std::error_code& ec);

// A missing path is no error for these: its type is not_found.
file_status status(const path& p);
file_status status(const path& p, std::error_code& ec);
file_status symlink_status(const path& p);
file_status symlink_status(const path& p, std::error_code& ec);
bool exists(const path& p);
bool exists(const path& p, std::error_code& ec);
bool is_directory(const path& p);
bool is_directory(const path& p, std::error_code& ec);
bool is_regular_file(const path& p);
bool is_regular_file(const path& p, std::error_code& ec);
bool is_symlink(const path& p);
bool is_symlink(const path& p, std::error_code& ec);

// The types that NTFS never has, as the host reports them. A missing path is false, no error.
bool is_block_file(const path& p);
bool is_block_file(const path& p, std::error_code& ec);
bool is_character_file(const path& p);
bool is_character_file(const path& p, std::error_code& ec);
bool is_fifo(const path& p);
bool is_fifo(const path& p, std::error_code& ec);
bool is_socket(const path& p);
bool is_socket(const path& p, std::error_code& ec);
bool is_other(const path& p);
bool is_other(const path& p, std::error_code& ec);

// Every element resolved on disk: links followed (at most 63 in one resolution), the case found on
// disk, an uppercase drive letter, '\' separators, no trailing separator except at a root.
path canonical(const path& p);
path canonical(const path& p, std::error_code& ec);

// canonical() of the longest leading part that exists, the rest appended, all lexically normal.
path weakly_canonical(const path& p);
path weakly_canonical(const path& p, std::error_code& ec);

// The target of a link, as a Windows path: an absolute host target maps back through the drives.
path read_symlink(const path& p);
path read_symlink(const path& p, std::error_code& ec);

// weakly_canonical(p).lexically_relative(weakly_canonical(base)): links are followed first, so with
// c:\zor\rel -> store, relative("c:\zor\rel\inner", "c:\zor\store") is "inner". Paths on
// different drives give an empty path; proximate gives weakly_canonical(p) instead. The forms
// without a base take the working directory. An error gives an empty path.
path relative(const path& p, std::error_code& ec);
path relative(const path& p, const path& base = current_path());
path relative(const path& p, const path& base, std::error_code& ec);
path proximate(const path& p, std::error_code& ec);
path proximate(const path& p, const path& base = current_path());
path proximate(const path& p, const path& base, std::error_code& ec);

}  // namespace winfs
