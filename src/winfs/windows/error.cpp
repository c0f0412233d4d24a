#include "pathprobe/winfs/error.h"

#include <string>

namespace winfs {
namespace {

struct Entry {
    int code;
    const char* text;
    std::errc condition;  // kNone: the code is its own condition
};

// The conditions are those of Microsoft's library (its table of Windows codes to std::errc), so
// that `ec == std::errc::...` answers alike on both: ERROR_DIRECTORY is invalid_argument, not
// not_a_directory; ERROR_WRITE_PROTECT permission_denied; a code it does not list (1314, 1921,
// 161) matches no generic condition.
constexpr std::errc kNone{};

constexpr Entry kEntries[] = {
    {ERROR_SUCCESS, "The operation completed successfully.", kNone},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.",
     std::errc::no_such_file_or_directory},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.",
     std::errc::no_such_file_or_directory},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file.", std::errc::too_many_files_open},
    {ERROR_ACCESS_DENIED, "Access is denied.", std::errc::permission_denied},
    {ERROR_INVALID_HANDLE, "The handle is invalid.", std::errc::invalid_argument},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.",
     std::errc::not_enough_memory},
    {ERROR_INVALID_DRIVE, "The system cannot find the drive specified.", std::errc::no_such_device},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive.",
     std::errc::cross_device_link},
    {ERROR_WRITE_PROTECT, "The media is write protected.", std::errc::permission_denied},
    {ERROR_NOT_READY, "The device is not ready.", std::errc::resource_unavailable_try_again},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.",
     std::errc::permission_denied},
    {ERROR_NOT_SUPPORTED, "The request is not supported.", std::errc::not_supported},
    {ERROR_BAD_NETPATH, "The network path was not found.", std::errc::no_such_file_or_directory},
    {ERROR_FILE_EXISTS, "The file exists.", std::errc::file_exists},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.", std::errc::invalid_argument},
    {ERROR_DISK_FULL, "There is not enough space on the disk.", std::errc::no_space_on_device},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.",
     std::errc::no_such_file_or_directory},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty.", std::errc::directory_not_empty},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.", kNone},
    {ERROR_BUSY, "The requested resource is in use.", std::errc::device_or_resource_busy},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.",
     std::errc::file_exists},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.",
     std::errc::filename_too_long},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved.", kNone},
    {ERROR_DIRECTORY, "The directory name is invalid.", std::errc::invalid_argument},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error.", kNone},
    {ERROR_PRIVILEGE_NOT_HELD, "A required privilege is not held by the client.", kNone},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.",
     std::errc::timed_out},
    {ERROR_CANT_ACCESS_FILE, "The file cannot be accessed by the system.", kNone},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system.", kNone},
    {ERROR_NOT_A_REPARSE_POINT, "The file or directory is not a reparse point.", kNone},
};

const Entry* find(int code) noexcept {
    for (const Entry& entry : kEntries) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

class WindowsCategory final : public std::error_category {
  public:
    const char* name() const noexcept override { return "system"; }
    std::string message(int code) const override {
        const Entry* entry = find(code);
        return entry != nullptr ? entry->text : "unknown error";
    }
    std::error_condition default_error_condition(int code) const noexcept override {
        const Entry* entry = find(code);
        // 0 is the generic "no error", as the standard asks of system_category.
        if (code == ERROR_SUCCESS) return {0, std::generic_category()};
        if (entry == nullptr || entry->condition == kNone) return {code, *this};
        return std::make_error_condition(entry->condition);
    }
};

}  // namespace

bool isNotFound(const std::error_code& ec) noexcept {
    if (ec.category() != system_category()) return false;
    switch (ec.value()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return true;
        default:
            return false;
    }
}

const std::error_category& system_category() noexcept {
    static const WindowsCategory category;
    return category;
}

}  // namespace winfs
