// Windows's error codes: their texts and conditions, and the codes that real failures on the host
// come back as, each the one Windows gives for the same failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <string>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "tree_fixture.h"

using winfs::path;

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
        // The conditions Microsoft's library gives, where a near errno would be another.
        {19, "The media is write protected.", std::errc::permission_denied},
        {267, "The directory name is invalid.", std::errc::invalid_argument},
        {161, "The specified path is invalid.", std::errc{}},
        {223, "The file size exceeds the limit allowed and cannot be saved.", std::errc{}},
        {1117, "The request could not be performed because of an I/O device error.", std::errc{}},
        {1314, "A required privilege is not held by the client.", std::errc{}},
        {1920, "The file cannot be accessed by the system.", std::errc{}},
        {1921, "The name of the file cannot be resolved by the system.", std::errc{}},
        {4390, "The file or directory is not a reparse point.", std::errc{}},
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
    // No error is the generic "no error", as the standard asks of a system category.
    EXPECT_EQ(std::error_code(0, winfs::system_category()), std::error_condition());
}

// A host folder to write in on another file system than `temp`, or "" when there is none.
std::string otherFileSystem(const std::string& temp) {
    struct stat here {};
    struct stat there {};
    if (::stat(temp.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0) return "";
    if (here.st_dev == there.st_dev || ::access("/dev/shm", W_OK) != 0) return "";
    return "/dev/shm";
}

// The Windows code of the host's stat of `host`, links followed.
std::error_code statError(const std::string& host, winfs::host::At where) {
    return winfs::host::statAt({-1, host.c_str()}, true).error().windows(where);
}

class HostErrors : public ChangeTest {};

// Real failures on the tree, through the public operations and the host's own calls: each comes
// back as the code that Windows documents for the same failure.
TEST_F(HostErrors, ComeBackAsTheWindowsCodeForTheSameFailure) {
    using winfs::host::At;
    const std::string elsewhere = otherFileSystem(temp());
    const std::string shared =
        elsewhere.empty() ? "" : elsewhere + "/pathprobe-" + std::to_string(::getpid());
    struct Row {
        const char* what;
        std::function<void(std::error_code&)> fail;
        winfs::win_error expected;
        bool possible = true;
    };
    std::string tooLong;
    for (int i = 0; i < 128; ++i)
        tooLong += "\xc3\xa9";  // 128 characters Windows takes, 256 bytes the host does not
    const Row rows[] = {
        {"a missing last name", [](auto& ec) { fs::file_size(path("c:\\zor\\none"), ec); },
         winfs::ERROR_FILE_NOT_FOUND},
        {"a missing folder on the way",
         [](auto& ec) { fs::file_size(path("c:\\zor\\none\\x"), ec); },
         winfs::ERROR_PATH_NOT_FOUND},
        {"a file used as a folder",
         [](auto& ec) { fs::file_size(path("c:\\zor\\data.txt\\x"), ec); },
         winfs::ERROR_PATH_NOT_FOUND},
        {"a folder made where a file is",
         [](auto& ec) { fs::create_directory(path("c:\\zor\\data.txt"), ec); },
         winfs::ERROR_ALREADY_EXISTS},
        {"a hard link made where a file is",
         [](auto& ec) {
             fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\old.txt"), ec);
         },
         winfs::ERROR_ALREADY_EXISTS},
        {"a folder removed with a name in it",
         [](auto& ec) { fs::remove(path("c:\\zor\\store"), ec); }, winfs::ERROR_DIR_NOT_EMPTY},
        {"a folder written as a file",
         [](auto& ec) { fs::resize_file(path("c:\\zor\\store"), 3, ec); },
         winfs::ERROR_ACCESS_DENIED},
        {"a name over 255 bytes",
         [&](auto& ec) { fs::create_directory(path("c:\\zor\\" + tooLong), ec); },
         winfs::ERROR_FILENAME_EXCED_RANGE},
        {"a loop of links", [](auto& ec) { fs::file_size(path("c:\\zor\\loop1"), ec); },
         winfs::ERROR_CANT_RESOLVE_FILENAME},
        {"a name removed from a folder that denies writing",
         [&](auto& ec) {
             ASSERT_EQ(::chmod(driveC("zor/store").c_str(), 0555), 0);
             const PermissionsApply apply;
             fs::remove(path("c:\\zor\\store\\inner"), ec);
         },
         winfs::ERROR_ACCESS_DENIED},
        // The host's own calls on the same tree, each met where winfs's callers say.
        {"the host's stat of a missing last name",
         [&](auto& ec) { ec = statError(driveC("zor/none"), At::lastName); },
         winfs::ERROR_FILE_NOT_FOUND},
        {"the host's stat below a missing folder",
         [&](auto& ec) { ec = statError(driveC("zor/none/x"), At::folderOnTheWay); },
         winfs::ERROR_PATH_NOT_FOUND},
        {"the host's stat below a file",
         [&](auto& ec) { ec = statError(driveC("zor/data.txt/x"), At::lastName); },
         winfs::ERROR_PATH_NOT_FOUND},
        {"the host's stat of a loop of links",
         [&](auto& ec) { ec = statError(driveC("zor/loop1"), At::lastName); },
         winfs::ERROR_CANT_RESOLVE_FILENAME},
        {"the host's mkdir where a file is",
         [&](auto& ec) {
             ec = winfs::host::makeFolder({-1, driveC("zor/data.txt").c_str()})
                      .windows(At::lastName);
         },
         winfs::ERROR_ALREADY_EXISTS},
        {"a hard link to another file system of the same drive",
         [&](auto& ec) {
             fs::create_hard_link(path(throughZ(driveC("zor/data.txt"))), path(throughZ(shared)),
                                  ec);
         },
         winfs::ERROR_NOT_SAME_DEVICE, !elsewhere.empty()},
        {"a file moved to another file system of the same drive",
         [&](auto& ec) {
             fs::rename(path(throughZ(driveC("zor/data.txt"))), path(throughZ(shared)), ec);
         },
         winfs::ERROR_NOT_SAME_DEVICE, !elsewhere.empty()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.possible) {
            std::cout << "not made here: " << row.what << '\n';
            continue;
        }
        std::error_code ec;
        row.fail(ec);
        EXPECT_EQ(ec, winfs::make_error_code(row.expected)) << ec.message();
    }
    if (!shared.empty()) ::unlink(shared.c_str());
}

}  // namespace
