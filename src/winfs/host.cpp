#include "winfs/host.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace winfs {

std::string readHostLink(const std::string& link, std::error_code& ec) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) {
            ec = make_error_code(windowsErrorFor(errno, true));
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            ec.clear();
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        buffer.resize(buffer.size() * 2);
    }
}

win_error windowsErrorFor(int error, bool lastElement) noexcept {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return lastElement ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EIO:
            return ERROR_IO_DEVICE;
        default:
            return ERROR_ACCESS_DENIED;
    }
}

std::string hostWorkingDirectory(std::error_code& ec) {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            ec.clear();
            return std::string(buffer.data());
        }
        if (errno != ERANGE) {
            ec = make_error_code(windowsErrorFor(errno, false));
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace winfs
