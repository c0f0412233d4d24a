// The drive map on a real prefix: drive C and z: without dosdevices, the links of dosdevices, the
// drive that a host folder belongs to, and prefixes reached through links or named in odd ways.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "drives/drive.h"
#include "pathprobe/winfs/filesystem.h"
#include "tree_fixture.h"

using winfs::file_type;
using winfs::path;

namespace {

TEST_F(DriveFixture, WithoutDosdevicesCIsDriveCAndZIsTheRoot) {
    // The fixture made only the prefix: drive C's folder was created when the map was read.
    struct stat st {};
    ASSERT_EQ(::stat(driveC().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    const winfs::DriveMap& map = *winfs::drives();
    ASSERT_NE(map.folderOf('C'), nullptr);
    EXPECT_EQ(*map.folderOf('c'), driveC());
    ASSERT_NE(map.folderOf('z'), nullptr);
    EXPECT_EQ(*map.folderOf('Z'), "/");
    EXPECT_EQ(map.folderOf('d'), nullptr);

    EXPECT_EQ(winfs::canonical(path("z:\\")).string(), "Z:\\");
    EXPECT_EQ(winfs::canonical(path("z:" + temp())).string(), throughZ(temp()));
    std::error_code ec;
    winfs::canonical(path("d:\\"), ec);
    expectError(ec, 3);
}

TEST_F(DriveFixture, DosdevicesLinksNameTheDrives) {
    makeFolder(temp("ddrive/x"));
    makeFolder(temp("edrive"));
    useDosdevices({{"c:", "../drive_c"}, {"d:", temp("ddrive")}, {"e:", "../../edrive"}});

    struct stat st {};
    EXPECT_EQ(::stat(driveC().c_str(), &st), 0) << "drive C's folder is created";
    EXPECT_EQ(winfs::canonical(path("d:\\X")).string(), "D:\\x");
    EXPECT_EQ(winfs::canonical(path("E:\\")).string(), "E:\\");
    EXPECT_EQ(winfs::canonical(path("c:\\")).string(), "C:\\");
    std::error_code ec;
    winfs::canonical(path("z:\\"), ec);  // no z: without its link
    expectError(ec, 3);

    changeDirectory(temp("ddrive/x"));
    EXPECT_EQ(winfs::current_path().string(), "D:\\x");
    EXPECT_EQ(winfs::absolute(path("c:foo")).string(), "C:\\foo");
    changeDirectory(temp());  // outside every drive
    EXPECT_TRUE(winfs::current_path(ec).empty());
    expectError(ec, 3);

    // A host link to a folder on no drive leads nowhere, a name in the way as on Windows: nothing
    // is made through it.
    makeFolder(temp("nodrive"));
    hostLink(temp("nodrive"), driveC("ad"));
    EXPECT_FALSE(winfs::create_directories(path("c:\\ad\\n1\\n2"), ec));
    expectError(ec, 183);
    EXPECT_NE(::stat(temp("nodrive/n1").c_str(), &st), 0) << "made outside every drive";
}

TEST_F(DriveFixture, TheLongestDriveFolderNamesTheDrive) {
    makeFolder(driveC("zor/store/inner"));
    useDosdevices({{"c:", "../drive_c"}, {"d:", driveC("zor/store")}, {"z:", "/"}});
    changeDirectory(driveC("zor/store/inner"));
    EXPECT_EQ(winfs::current_path().string(), "D:\\inner");
    changeDirectory(driveC("zor"));
    EXPECT_EQ(winfs::current_path().string(), "C:\\zor");
    // A whole name of the drive's folder, never a leading part of one ("D:\-old").
    makeFolder(driveC("zor/store-old"));
    changeDirectory(driveC("zor/store-old"));
    EXPECT_EQ(winfs::current_path().string(), "C:\\zor\\store-old");
    changeDirectory(temp());
    EXPECT_EQ(winfs::current_path().string(), throughZ(temp()));
}

// Wine's own layout: c: -> ../drive_c. A link made to a path on drive C must read back, and
// resolve, on drive C.
TEST_F(DriveFixture, LinksMadeOnARelativeDosdevicesDriveReadBackOnIt) {
    makeFolder(driveC("zor/store"));
    useDosdevices({{"c:", "../drive_c"}, {"z:", "/"}});
    winfs::create_directory_symlink(path("c:\\zor\\store"), path("c:\\zor\\lnk"));
    std::error_code ec;
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\lnk"), ec).string(), "C:\\zor\\store");
    EXPECT_EQ(winfs::canonical(path("c:\\zor\\lnk"), ec).string(), "C:\\zor\\store");
    EXPECT_FALSE(ec) << ec.message();
}

// The same through a prefix reached by a link, without dosdevices.
TEST_F(DriveFixture, LinksMadeThroughALinkedPrefixReadBackOnDriveC) {
    makeFolder(driveC("zor/store"));
    hostLink(prefix(), temp("linked"));
    ::setenv("WINEPREFIX", temp("linked").c_str(), 1);
    winfs::reloadDrives();
    winfs::create_directory_symlink(path("c:\\zor\\store"), path("c:\\zor\\lnk"));
    std::error_code ec;
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\lnk"), ec).string(), "C:\\zor\\store");
    EXPECT_EQ(winfs::canonical(path("c:\\zor\\lnk"), ec).string(), "C:\\zor\\store");
}

// A prefix whose host path is not UTF-8: only the Windows part of a link's target is read.
TEST_F(DriveFixture, APrefixWhosePathIsNotUtf8) {
    const std::string notUtf8 = temp(
        "pr\xe9"
        "fix");
    makeFolder(notUtf8 + "/drive_c/zor/store");
    ::setenv("WINEPREFIX", notUtf8.c_str(), 1);
    winfs::reloadDrives();
    winfs::create_directory_symlink(path("c:\\zor\\store"), path("c:\\zor\\lnk"));
    std::error_code ec;
    EXPECT_EQ(winfs::canonical(path("c:\\zor\\lnk"), ec).string(), "C:\\zor\\store")
        << ec.message();
    EXPECT_EQ(winfs::status(path("c:\\zor\\lnk"), ec).type(), file_type::directory) << ec.message();
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\lnk"), ec).string(), "C:\\zor\\store")
        << ec.message();
}

// A relative WINEPREFIX is read where the map is read: drive C stays put when the process moves.
TEST_F(DriveFixture, ARelativePrefixDoesNotMoveWithTheWorkingDirectory) {
    makeFolder(driveC("zor"));
    makeFolder(temp("elsewhere"));
    changeDirectory(temp());
    ::setenv("WINEPREFIX", "prefix", 1);
    winfs::reloadDrives();
    changeDirectory(temp("elsewhere"));
    std::error_code ec;
    EXPECT_EQ(winfs::canonical(path("c:\\zor"), ec).string(), "C:\\zor") << ec.message();
}

}  // namespace
