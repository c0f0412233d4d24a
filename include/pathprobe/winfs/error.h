// Windows error codes as std::error_code values, in winfs's own system category.
//
// Threading: the category is a constant object; safe to use from any number of threads.
#pragma once

#include <system_error>

namespace winfs {

// The Windows codes that this layer produces, with their Windows names.
enum win_error : int {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,
    ERROR_TOO_MANY_OPEN_FILES = 4,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_INVALID_DRIVE = 15,
    ERROR_NOT_SAME_DEVICE = 17,
    ERROR_WRITE_PROTECT = 19,
    ERROR_NOT_READY = 21,
    ERROR_SHARING_VIOLATION = 32,
    ERROR_NOT_SUPPORTED = 50,
    ERROR_BAD_NETPATH = 53,
    ERROR_FILE_EXISTS = 80,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_DISK_FULL = 112,
    ERROR_INVALID_NAME = 123,
    ERROR_DIR_NOT_EMPTY = 145,
    ERROR_BAD_PATHNAME = 161,
    ERROR_BUSY = 170,
    ERROR_ALREADY_EXISTS = 183,
    ERROR_FILENAME_EXCED_RANGE = 206,
    ERROR_FILE_TOO_LARGE = 223,
    ERROR_DIRECTORY = 267,
    ERROR_IO_DEVICE = 1117,
    ERROR_PRIVILEGE_NOT_HELD = 1314,
    ERROR_TIMEOUT = 1460,
    ERROR_CANT_ACCESS_FILE = 1920,
    ERROR_CANT_RESOLVE_FILENAME = 1921,
    ERROR_NOT_A_REPARSE_POINT = 4390,
};

// message() gives Windows's English text for each code above and "unknown error" for any other;
// default_error_condition() maps the codes onto std::errc as Microsoft's library does (267 is
// invalid_argument; 1314 none but itself), and 0 onto the generic "no error".
const std::error_category& system_category() noexcept;

inline std::error_code make_error_code(win_error code) noexcept {
    return {static_cast<int>(code), system_category()};
}

// Whether an error means that nothing is there: a missing file or folder, a server that is not
// found, or a name that nothing on the disk can have. The one test of "missing" in winfs.
bool isNotFound(const std::error_code& ec) noexcept;

}  // namespace winfs

template <>
struct std::is_error_code_enum<winfs::win_error> : std::true_type {};
