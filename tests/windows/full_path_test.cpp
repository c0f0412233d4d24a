// How Windows makes a path full, without a disk: one table per kind of path, each row the input,
// the working directory and what GetFullPathNameW gives on Windows 11. Most rows are results that
// Wine's conformance tests record from Windows, run in C:\windows; the rest follow Microsoft's
// description of how Windows normalises paths.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "pathprobe/winfs/error.h"
#include "windows/full_path.h"

using winfs::path;

namespace {

struct Row {
    const char* input;
    const char* expected;  // empty when the call fails
    const char* workingDirectory = "C:\\windows";
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << '"' << row.input << "\" in \"" << row.workingDirectory << '"';
}

class FullPath : public testing::TestWithParam<Row> {};

TEST_P(FullPath, IsWhatWindowsGives) {
    const Row& row = GetParam();
    std::error_code ec;
    const path full = winfs::fullPathName(path(row.input), path(row.workingDirectory), ec);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(full.native(), row.expected);
    // Made full again, a full path stays as it is.
    EXPECT_EQ(winfs::fullPathName(full, path(row.workingDirectory), ec).native(), row.expected);
    // A path that needs no working directory comes out the same without one.
    if (!winfs::needsWorkingDirectory(path(row.input))) {
        EXPECT_EQ(winfs::fullPathName(path(row.input), path(), ec).native(), row.expected);
    }
}

// clang-format off
const Row kJoined[] = {
    {"c:/test/",                  "c:\\test\\"},
    {"c:.",                       "C:\\windows"},
    {"C:",                        "C:\\windows"},
    {"c:foo/bar",                 "C:\\windows\\foo\\bar"},
    {"d:foo",                     "D:\\foo"},  // another drive: its root
    {"\\foo",                     "C:\\foo"},
    {"..",                        "C:\\"},
    {"foo/..",                    "C:\\windows"},
    {"c:///test\\..\\file\\..\\//", "c:\\"},
    {"\\foo",                     "\\\\server\\share\\foo", "\\\\server\\share\\dir"},
    {"c:x",                       "c:\\windows\\x",          "c:\\windows"},
};
INSTANTIATE_TEST_SUITE_P(Joined, FullPath, testing::ValuesIn(kJoined));

// A name alone, or NUL last in a folder, is a device, with trailing colons, dots and spaces.
const Row kDeviceNames[] = {
    {"CON",                       "\\\\.\\CON"},
    {"AUX",                       "\\\\.\\AUX"},
    {"COM1",                      "\\\\.\\COM1"},
    {"CoM4:",                     "\\\\.\\CoM4"},
    {"lpt9:",                     "\\\\.\\lpt9"},
    {"C:NUL.",                    "\\\\.\\NUL"},
    {"c:prn     ",                "\\\\.\\prn"},
    {"c:prn... ...",              "\\\\.\\prn"},
    {"c:nul. . . :",              "\\\\.\\nul"},
    {"CONIN$",                    "\\\\.\\CONIN$"},
    {"cOnOuT$",                   "\\\\.\\cOnOuT$"},
    {"\\windows\\nul",            "\\\\.\\nul"},
    {"C:\\nonexistent\\nul",      "\\\\.\\nul"},
    {"c:\\nul::::::",             "\\\\.\\nul"},
    {"x\\nul\\.",                 "\\\\.\\nul"},  // as "C:\windows\x\nul" gives
    {"CONERR$",                   "C:\\windows\\CONERR$"},
    {"c:nul0",                    "C:\\windows\\nul0"},
    {"c:\\lpt0.txt",              "c:\\lpt0.txt"},
    {"c:\\nul\\",                 "c:\\nul\\"},
    {"c:\\nul\\foo",              "c:\\nul\\foo"},
    {"\\\\foo\\nul",              "\\\\foo\\nul"},
    // Windows 10 still made these devices: \\.\con, \\.\COM1, \\.\nul.
    {"C:\\con\\con",              "C:\\con\\con"},
    {"dir\\COM1",                 "C:\\windows\\dir\\COM1"},
    {"nul.txt",                   "C:\\windows\\nul.txt"},
};
INSTANTIATE_TEST_SUITE_P(DeviceNames, FullPath, testing::ValuesIn(kDeviceNames));

// The share is the root, without the separator after it: ".." stops below it. An empty share
// leaves "\\server\" as the root, and the names after it are tidied like any other.
const Row kUnc[] = {
    {"\\\\server\\share\\..\\foo",      "\\\\server\\share\\foo"},
    {"\\\\server\\share\\..",            "\\\\server\\share"},
    {"\\\\server\\share\\.",             "\\\\server\\share"},
    {"\\\\server\\share\\a\\..\\..\\..", "\\\\server\\share"},
    {"\\\\server\\share\\..\\",          "\\\\server\\share\\"},
    {"\\\\server\\share\\...",           "\\\\server\\share\\"},
    {"\\\\server\\\\x. . .",             "\\\\server\\x"},
    {"\\\\server\\\\x.\\y. ",            "\\\\server\\x\\y"},
    {"\\\\server\\\\",                   "\\\\server\\"},
    {"//server/share/x/./y//",          "\\\\server\\share\\x\\y\\"},
    {"\\\\server\\share\\dir.\\x. . ",   "\\\\server\\share\\dir\\x"},
};
INSTANTIATE_TEST_SUITE_P(Unc, FullPath, testing::ValuesIn(kUnc));

// A server alone, or no server at all, is kept as written. The server and the share are the root
// and names whatever they hold, so ".." there never steps back; where nothing follows them, their
// trailing dots and spaces go as any last name's do, down to "\\".
const Row kServers[] = {
    {"\\\\foo",                   "\\\\foo"},
    {"//foo",                     "\\\\foo"},
    {"\\/foo",                    "\\\\foo"},
    {"//",                        "\\\\"},
    {"//foo/",                    "\\\\foo\\"},
    {"\\\\server\\..",            "\\\\server\\"},
    {"\\\\server\\..\\",          "\\\\server\\..\\"},
    {"\\\\server\\..\\x",         "\\\\server\\..\\x"},
    {"\\\\server4\\..\\..\\foo",  "\\\\server4\\..\\foo"},
    {"\\\\server\\share. .",        "\\\\server\\share"},
    {"\\\\..",                    "\\\\"},
    {"\\\\..\\",                  "\\\\..\\"},
    {"\\\\... . .",               "\\\\"},
    {"\\\\..\\x",                 "\\\\..\\x"},
    {"\\\\..\\.\\x\\..",            "\\\\..\\"},  // as "\\..\." gives
    {"\\\\...\\x.\\y",            "\\\\...\\x.\\y"},
    {"\\\\..\\x\\...\\y",         "\\\\..\\x\\...\\y"},
    {"\\\\server\\\\...\\x",       "\\\\server\\...\\x"},  // no share: "..." is a name
    {"\\\\..\\?",                 "\\\\..\\?"},
    {"\\\\?.",                    "\\\\.\\"},  // as "\\?" gives
    {"\\\\.foo\\x",               "\\\\.foo\\x"},
};
INSTANTIATE_TEST_SUITE_P(Servers, FullPath, testing::ValuesIn(kServers));

// Normalised after the prefix like any other path; \\.\ alike.
const Row kDevicePaths[] = {
    {"//?/",                      "\\\\?\\"},
    {"//?//",                     "\\\\?\\"},
    {"//?/foo/",                  "\\\\?\\foo\\"},
    {"//?/foo/bar",               "\\\\?\\foo\\bar"},
    {"//?/foo/.",                 "\\\\?\\foo"},
    {"//?/foo/..",                "\\\\?\\"},
    {"\\\\?\\C:\\spam\\eggs. . .", "\\\\?\\C:\\spam\\eggs"},
    {"\\\\?\\c:\\a\\..\\b.",      "\\\\?\\c:\\b"},
    {"\\\\?\\C:\\..",             "\\\\?\\"},  // the drive is a name like any other here
    {"//.",                       "\\\\.\\"},
    {"//./foo/..",                "\\\\.\\"},
    {"\\\\.\\foo. . ",            "\\\\.\\foo"},
    {"\\\\.\\CON",                "\\\\.\\CON"},
};
INSTANTIATE_TEST_SUITE_P(DevicePaths, FullPath, testing::ValuesIn(kDevicePaths));

// Not a prefix: a folder "??" at the root of the working directory's drive, though a device name
// right after it is a device.
const Row kNtPrefix[] = {
    {"\\??\\foo",                 "C:\\??\\foo"},
    {"\\??\\CON",                 "\\\\.\\CON"},
    {"\\??\\CONIN$",              "\\\\.\\CONIN$"},
    {"\\??\\conout$. ",           "\\\\.\\conout$"},
    {"\\??\\CONERR$",             "C:\\??\\CONERR$"},
    {"\\??\\x\\CON",              "C:\\??\\x\\CON"},
    {"/??\\CON",                  "C:\\??\\CON"},  // only "\??\" as written
    {"\\??",                      "C:\\??"},
    {"\\??\\c:\\a\\.",            "D:\\??\\c:\\a", "D:\\x"},
};
INSTANTIATE_TEST_SUITE_P(NtPrefix, FullPath, testing::ValuesIn(kNtPrefix));

// A single trailing dot goes from every name; trailing dots and spaces from the last one.
const Row kTrailing[] = {
    {"c:/test     ",              "c:\\test"},
    {"c:/test.",                  "c:\\test"},
    {"c:/test  ....   ..   ",     "c:\\test"},
    {"c:/test/  ....   ..   ",    "c:\\test\\"},
    {"c:/test/.. ",               "c:\\test\\"},
    {"c:/test./file",             "c:\\test\\file"},
    {"c:/test.. /file",           "c:\\test.. \\file"},
    // Vista and every Windows since; XP gave c:\test.\file.
    {"c:/test../file",            "c:\\test..\\file"},
    {"c:\\a\\...\\b",             "c:\\a\\...\\b"},
    {"...",                       "C:\\windows\\"},
    {"c:\\a.\\ ",                 "c:\\a\\"},
};
INSTANTIATE_TEST_SUITE_P(Trailing, FullPath, testing::ValuesIn(kTrailing));

// Any one character before a colon makes a drive.
const Row kOtherDrives[] = {
    {"?:",                        "?:\\"},
    {"?:x\\..\\y",                "?:\\y"},
    {"1:\\a\\..\\..",             "1:\\"},
    {"?<>*\"|:",                  "C:\\windows\\?<>*\"|:"},
    {"\xC3\xA9:\\x\\..\\y",       "\xC3\xA9:\\y"},
};
INSTANTIATE_TEST_SUITE_P(OtherDrives, FullPath, testing::ValuesIn(kOtherDrives));
// clang-format on

TEST(FullPathFailures, EmptyOrTooLong) {
    std::error_code ec;
    EXPECT_TRUE(winfs::fullPathName(path(""), path("C:\\windows"), ec).empty());
    EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_INVALID_NAME));
    // Short enough as given, too long once joined.
    const std::string name(32760, 'a');
    EXPECT_TRUE(winfs::fullPathName(path(name), path("C:\\windows"), ec).empty());
    EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_FILENAME_EXCED_RANGE));

    // MAX_PATH counts UTF-16 units and the NUL: "C:\" and 256 more fit.
    const auto times = [](std::string_view text, int count) {
        std::string all;
        for (int i = 0; i < count; ++i)
            all += text;
        return all;
    };
    struct Limit {
        std::string text;
        std::size_t limit;
        bool exceeds;
    };
    const Limit limits[] = {
        {"C:\\" + std::string(256, 'a'), winfs::kMaxPath, false},
        {"C:\\" + std::string(257, 'a'), winfs::kMaxPath, true},
        {"C:\\" + times("\xc3\xa9", 256), winfs::kMaxPath, false},         // one unit each
        {"C:\\" + times("\xf0\x9d\x84\x9e", 129), winfs::kMaxPath, true},  // two units each
        {"C:\\" + std::string(244, 'a'), winfs::kMaxPath - 12, false},
    };
    for (const Limit& row : limits) {
        EXPECT_EQ(winfs::exceedsLimit(row.text, row.limit), row.exceeds) << row.text;
    }
}

TEST(FullPathVerbatim, FileCallsTakeThePrefixedPathsAsGiven) {
    std::error_code ec;
    for (const char* text : {"\\\\?\\C:\\..", "\\??\\c:\\a\\.", "\\\\?\\x\\nul"}) {
        EXPECT_EQ(winfs::fullPathName(path(text), path(), ec, winfs::Verbatim::keep).native(),
                  text);
        EXPECT_FALSE(winfs::needsWorkingDirectory(path(text), winfs::Verbatim::keep));
    }
    EXPECT_EQ(winfs::fullPathName(path("//?/C:/.."), path(), ec, winfs::Verbatim::keep).native(),
              "\\\\?\\");
}

}  // namespace
