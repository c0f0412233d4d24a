// The host's errors: the one table of errno values onto Windows codes, and what an Error is, by
// name.
#include "host/host.h"

#include <linux/openat2.h>

#include <cerrno>

#include "host/host_internal.h"
#include "pathprobe/winfs/error.h"

namespace winfs::host {

std::error_code windowsError(int error, At where) {
    switch (error) {
        case 0:
            return {};
        case ENOENT:
            return make_error_code(where == At::lastName ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_PATH_NOT_FOUND);
        case ENOTDIR:
            return make_error_code(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
            return make_error_code(ERROR_ACCESS_DENIED);
        case EEXIST:
            return make_error_code(ERROR_ALREADY_EXISTS);
        case ELOOP:
            return make_error_code(ERROR_CANT_RESOLVE_FILENAME);
        case ENAMETOOLONG:
            return make_error_code(ERROR_FILENAME_EXCED_RANGE);
        case ENOMEM:
            return make_error_code(ERROR_NOT_ENOUGH_MEMORY);
        case EROFS:
            return make_error_code(ERROR_WRITE_PROTECT);
        case ENOSPC:
        case EDQUOT:
            return make_error_code(ERROR_DISK_FULL);
        case ENOTEMPTY:
            return make_error_code(ERROR_DIR_NOT_EMPTY);
        case EISDIR:  // a folder opened for writing, or unlinked as a file
            return make_error_code(ERROR_ACCESS_DENIED);
        case EINVAL:
            return make_error_code(ERROR_INVALID_PARAMETER);
        case EIO:
            return make_error_code(ERROR_IO_DEVICE);
        case EMFILE:
        case ENFILE:
            return make_error_code(ERROR_TOO_MANY_OPEN_FILES);
        case EBUSY:
            return make_error_code(ERROR_BUSY);
        case EXDEV:
            return make_error_code(ERROR_NOT_SAME_DEVICE);
        case ETXTBSY:
            return make_error_code(ERROR_SHARING_VIOLATION);
        case EFBIG:
            return make_error_code(ERROR_FILE_TOO_LARGE);
        case EOPNOTSUPP:
            return make_error_code(ERROR_NOT_SUPPORTED);
        case ETIMEDOUT:
            return make_error_code(ERROR_TIMEOUT);
        default:
            return {error, std::generic_category()};
    }
}

Error Error::last() noexcept {
    return Error(errno);
}
Error Error::inUse() noexcept {
    return Error(ETXTBSY);
}
bool Error::missing() const noexcept {
    return value_ == ENOENT;
}
bool Error::denied() const noexcept {
    return value_ == EACCES;
}
bool Error::notAFolder() const noexcept {
    return value_ == ENOTDIR;
}
bool Error::alreadyThere() const noexcept {
    return value_ == EEXIST;
}
bool Error::loop() const noexcept {
    return value_ == ELOOP;
}
bool Error::unsupported() const noexcept {
    return value_ == ENOSYS;
}
bool Error::notALink() const noexcept {
    return value_ == EINVAL;
}
bool Error::scarce() const noexcept {
    return value_ == EMFILE || value_ == ENFILE || value_ == ENOMEM;
}
bool Error::notEmpty() const noexcept {
    return value_ == ENOTEMPTY || value_ == EEXIST;
}
bool Error::aFolder() const noexcept {
    return value_ == EISDIR;
}
bool Error::crossDevice() const noexcept {
    return value_ == EXDEV;
}

}  // namespace winfs::host
