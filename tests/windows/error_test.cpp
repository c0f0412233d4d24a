// Windows's error codes: their texts and conditions, and the Windows codes that host errors map
// onto.
#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/error.h"

namespace {

TEST(SystemCategory, GivesTheWindowsTextsAndConditions) {
    struct Row {
        int code;
        const char* text;
        std::errc condition;  // std::errc{}: none but the code itself
    };
    const Row rows[] = {
        {2, "The system cannot find the file specified.", std::errc::no_such_file_or_directory},
        {3, "The system cannot find the path specified.", std::errc::no_such_file_or_directory},
        {4, "The system cannot open the file.", std::errc::too_many_files_open},
        {5, "Access is denied.", std::errc::permission_denied},
        {53, "The network path was not found.", std::errc::no_such_file_or_directory},
        {87, "The parameter is incorrect.", std::errc::invalid_argument},
        {170, "The requested resource is in use.", std::errc::device_or_resource_busy},
        {183, "Cannot create a file when that file already exists.", std::errc::file_exists},
        {206, "The filename or extension is too long.", std::errc::filename_too_long},
        {123, "The filename, directory name, or volume label syntax is incorrect.",
         std::errc::no_such_file_or_directory},
        {267, "The directory name is invalid.", std::errc::not_a_directory},
        {1314, "A required privilege is not held by the client.",
         std::errc::operation_not_permitted},
        {1921, "The name of the file cannot be resolved by the system.",
         std::errc::too_many_symbolic_link_levels},
        {9999, "unknown error", std::errc{}},
        {99999, "unknown error", std::errc{}},
        {-1, "unknown error", std::errc{}},
    };
    for (const Row& row : rows) {
        const std::error_code ec(row.code, winfs::system_category());
        EXPECT_EQ(winfs::system_category().message(row.code), row.text) << row.code;
        if (row.condition != std::errc{}) {
            EXPECT_EQ(ec, row.condition) << row.code;
        } else {
            // A code without a condition of its own matches none.
            EXPECT_EQ(ec.default_error_condition(),
                      std::error_condition(row.code, winfs::system_category()))
                << row.code;
            EXPECT_NE(ec, std::errc::permission_denied) << row.code;
        }
    }
}

TEST(HostErrors, MapOntoTheNearestWindowsCode) {
    using winfs::host::At;
    struct Row {
        int error;
        At where;
        std::error_code expected;
    };
    const auto windows = [](winfs::win_error code) { return winfs::make_error_code(code); };
    const Row rows[] = {
        {ENOENT, At::lastName, windows(winfs::ERROR_FILE_NOT_FOUND)},
        {ENOENT, At::folderOnTheWay, windows(winfs::ERROR_PATH_NOT_FOUND)},
        {ENOTDIR, At::lastName, windows(winfs::ERROR_PATH_NOT_FOUND)},
        {EACCES, At::lastName, windows(winfs::ERROR_ACCESS_DENIED)},
        {EEXIST, At::lastName, windows(winfs::ERROR_ALREADY_EXISTS)},
        {ELOOP, At::lastName, windows(winfs::ERROR_CANT_RESOLVE_FILENAME)},
        {ENAMETOOLONG, At::lastName, windows(winfs::ERROR_FILENAME_EXCED_RANGE)},
        {EMFILE, At::lastName, windows(winfs::ERROR_TOO_MANY_OPEN_FILES)},
        {EBUSY, At::lastName, windows(winfs::ERROR_BUSY)},
        {EXDEV, At::lastName, windows(winfs::ERROR_NOT_SAME_DEVICE)},
        {EROFS, At::lastName, windows(winfs::ERROR_WRITE_PROTECT)},
        {ENOSPC, At::lastName, windows(winfs::ERROR_DISK_FULL)},
        {EIO, At::lastName, windows(winfs::ERROR_IO_DEVICE)},
        // No Windows counterpart: the host's own meaning, never "Access is denied.".
        {EPROTO, At::lastName, std::error_code(EPROTO, std::generic_category())},
    };
    for (const Row& row : rows)
        EXPECT_EQ(winfs::host::windowsError(row.error, row.where), row.expected) << row.error;
}

}  // namespace
