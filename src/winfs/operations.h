// File-system operations with Windows behaviour on a host that is not Windows, under the names and
// contracts of std::filesystem: a throwing form and an std::error_code& form of each. Errors hold
// Windows codes in winfs::system_category().
#pragma once

#include <system_error>

#include "winfs/path.h"

namespace winfs {

enum class file_type : signed char {
    none = 0,
    not_found = -1,
    regular = 1,
    directory = 2,
    symlink = 3,
    block = 4,
    character = 5,
    fifo = 6,
    socket = 7,
    unknown = 8,
};

class file_status {
  public:
    file_status() noexcept = default;
    explicit file_status(file_type type) noexcept : type_(type) {}
    file_type type() const noexcept { return type_; }
    void type(file_type type) noexcept { type_ = type; }

  private:
    file_type type_ = file_type::none;
};

inline bool status_known(file_status s) noexcept {
    return s.type() != file_type::none;
}
inline bool exists(file_status s) noexcept {
    return status_known(s) && s.type() != file_type::not_found;
}
inline bool is_directory(file_status s) noexcept {
    return s.type() == file_type::directory;
}
inline bool is_regular_file(file_status s) noexcept {
    return s.type() == file_type::regular;
}
inline bool is_symlink(file_status s) noexcept {
    return s.type() == file_type::symlink;
}

// The host working directory, as a Windows path.
path current_path();
path current_path(std::error_code& ec);

// Makes `p` the host working directory.
void current_path(const path& p);
void current_path(const path& p, std::error_code& ec) noexcept;

// As Windows has it: the first of TMP, TEMP and USERPROFILE that holds an absolute Windows path,
// else the host's temporary folder ($TMPDIR, else /tmp); it ends in a backslash. A value that is
// not an existing folder fails.
path temp_directory_path();
path temp_directory_path(std::error_code& ec);

// Creates `p` and any missing folders above it: true when it created the last one, false when that
// was already a folder. A file in the way fails with ERROR_ALREADY_EXISTS; a name longer than 255
// UTF-16 units with ERROR_FILENAME_EXCED_RANGE, as on NTFS; a name with a character that Windows
// forbids (< > : " | ? * or a control character) with ERROR_INVALID_NAME.
bool create_directories(const path& p);
bool create_directories(const path& p, std::error_code& ec);

// As GetFullPathName: "c:foo" resolves against the working directory when that lies on drive C,
// else against C:\; "\foo" lands on the working directory's drive. Then "." and ".." go, lexically:
// "c:\zor\lnk\..\x" is "c:\zor\x" whatever lnk is.
path absolute(const path& p);
path absolute(const path& p, std::error_code& ec);

// A missing path is no error for these: its type is not_found.
file_status status(const path& p);
file_status status(const path& p, std::error_code& ec) noexcept;
file_status symlink_status(const path& p);
file_status symlink_status(const path& p, std::error_code& ec) noexcept;
bool exists(const path& p);
bool exists(const path& p, std::error_code& ec) noexcept;
bool is_directory(const path& p);
bool is_directory(const path& p, std::error_code& ec) noexcept;
bool is_regular_file(const path& p);
bool is_regular_file(const path& p, std::error_code& ec) noexcept;
bool is_symlink(const path& p);
bool is_symlink(const path& p, std::error_code& ec) noexcept;

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

// A host symbolic link: an absolute Windows target is stored as its host path, a relative one with
// '/'. The target need not exist.
void create_symlink(const path& target, const path& link);
void create_symlink(const path& target, const path& link, std::error_code& ec) noexcept;
void create_directory_symlink(const path& target, const path& link);
void create_directory_symlink(const path& target, const path& link, std::error_code& ec) noexcept;

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
