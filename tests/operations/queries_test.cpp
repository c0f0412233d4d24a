// The winfs operations that read: absolute, relative and proximate, the status queries,
// read_symlink, sizes, times and identity, the working directory and the temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "tree_fixture.h"

using winfs::file_type;
using winfs::path;

namespace {

// clang-format off
// Working directory C:\zor.
const Mapping kAbsoluteOnC[] = {
    {"foo",                       "C:\\zor\\foo",        kNoError},
    {"c:foo",                     "C:\\zor\\foo",        kNoError},  // same drive: its working directory
    {"C:",                        "C:\\zor",             kNoError},
    {"c:..\\x",                   "C:\\x",               kNoError},
    {"d:foo",                     "D:\\foo",             kNoError},  // other drive: its root
    {"\\foo",                     "C:\\foo",             kNoError},
    {"/foo/./bar/..",             "C:\\foo",             kNoError},
    {"c:\\zor\\lnk\\..\\x",       "c:\\zor\\x",          kNoError},
    {"c:\\zor\\rel\\..\\x",       "c:\\zor\\x",          kNoError},  // rel is a link: ".." goes first
    {"c:/a/b/../../..",           "c:\\",                kNoError},
    {".",                         "C:\\zor",             kNoError},
    {"..\\..\\..",                "C:\\",                kNoError},
    {"store\\",                   "C:\\zor\\store\\",    kNoError},
    {"c:\\zor\\a. . ",              "c:\\zor\\a",          kNoError},  // trailing dots and spaces go
    {"tail.",                     "C:\\zor\\tail",       kNoError},
    {"c:\\zor\\a.\\",              "c:\\zor\\a\\",         kNoError},
    {"\\\\?\\c:\\a\\..\\b.",        "\\\\?\\c:\\b",        kNoError},  // made tidy too
    {"\\??\\c:\\a\\.",             "C:\\??\\c:\\a",      kNoError},  // a folder "??"
    {"\\\\.\\c:\\a\\..\\b.",        "\\\\.\\c:\\b",        kNoError},  // made tidy
    {"c:\\zor\\a.\\ ",              "c:\\zor\\a\\",         kNoError},  // not "c:\\zor\\a.\\"
    {"store\\nul",                "\\\\.\\nul",          kNoError},
    {"\\\\srv\\share\\..\\x",       "\\\\srv\\share\\x",   kNoError},
    {"",                          "",                    123},
};
// clang-format on

class AbsoluteOnC : public TreeTest<Mapping> {};

TEST_P(AbsoluteOnC, JoinsAndNormalisesLexically) {
    const Mapping& row = GetParam();
    std::error_code ec;
    const path full = winfs::absolute(path(row.input), ec);
    EXPECT_EQ(full.string(), row.expected);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
        expectThrows([](const path& p) { return winfs::absolute(p); }, row.input, row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, AbsoluteOnC, testing::ValuesIn(kAbsoluteOnC));

TEST_F(DriveFixture, AbsoluteFromOutsideDriveC) {
    changeDirectory(temp());
    // clang-format off
    const Mapping rows[] = {
        {"foo",    "@\\foo", kNoError},
        {"c:foo",  "C:\\foo", kNoError},
        {"c:",     "C:\\",    kNoError},
        {"z:foo",  "@\\foo", kNoError},
        {"\\foo",  "Z:\\foo", kNoError},
        {".",      "@",       kNoError},
    };
    // clang-format on
    for (const Mapping& row : rows) {
        EXPECT_EQ(winfs::absolute(path(row.input)).string(), expand(row.expected)) << row.input;
    }
}

struct Relation {
    const char* input;
    const char* base;  // nullptr: the working directory
    const char* relative;
    const char* proximate;
    int error;
};

void PrintTo(const Relation& r, std::ostream* os) {
    *os << '"' << r.input << "\" from \"" << (r.base ? r.base : "(working directory)") << '"';
}

// clang-format off
const Relation kRelations[] = {
    {"c:\\zor\\rel\\inner",         "c:\\zor\\store",           "inner",           "inner",        kNoError},
    {"c:\\zor\\store",              "c:\\zor\\rel\\inner",      "..",              "..",           kNoError},
    {"c:\\zor\\file.txt",           "c:\\zor\\sub\\up",         "..\\file.txt",    "..\\file.txt", kNoError},
    {"C:\\ZOR\\Store\\missing\\x",  "c:\\zor\\store",           "missing\\x",      "missing\\x",   kNoError},
    {"c:\\zor\\store\\inner",       nullptr,                    "store\\inner",    "store\\inner", kNoError},
    {"store\\..\\rel",              nullptr,                    "store",           "store",        kNoError},
    {"c:\\",                        nullptr,                    "..",              "..",           kNoError},
    {"q:\\x",                       "c:\\zor",                  "",                "q:\\x",        kNoError},
    {"c:\\zor\\loop1\\x",           "c:\\zor",                  "",                "",             1921},
    {"c:\\zor",                     "c:\\zor\\loop1\\x",        "",                "",             1921},
    {"c:\\zor\\badrel\\x",          nullptr,                    "",                "",             kNotUtf8},
};
// clang-format on

class Relations : public TreeTest<Relation> {};

TEST_P(Relations, FollowLinksThenCompareLexically) {
    const Relation& row = GetParam();
    const path input(row.input);
    std::error_code relativeError, proximateError;
    path relative, proximate;
    if (row.base == nullptr) {
        relative = winfs::relative(input, relativeError);
        proximate = winfs::proximate(input, proximateError);
    } else {
        relative = winfs::relative(input, path(row.base), relativeError);
        proximate = winfs::proximate(input, path(row.base), proximateError);
    }
    const path base = row.base == nullptr ? winfs::current_path() : path(row.base);
    if (row.error == kNoError) {
        EXPECT_FALSE(relativeError) << relativeError.message();
        EXPECT_FALSE(proximateError) << proximateError.message();
        EXPECT_EQ(relative.string(), row.relative);
        EXPECT_EQ(proximate.string(), row.proximate);
        EXPECT_EQ(winfs::relative(input, base).string(), row.relative);
        EXPECT_EQ(winfs::proximate(input, base).string(), row.proximate);
        if (row.base == nullptr) {
            EXPECT_EQ(winfs::relative(input).string(), row.relative);
            EXPECT_EQ(winfs::proximate(input).string(), row.proximate);
        }
    } else {
        expectError(relativeError, row.error);
        expectError(proximateError, row.error);
        EXPECT_TRUE(relative.empty()) << relative.string();
        EXPECT_TRUE(proximate.empty()) << proximate.string();
        expectThrows([&](const path& p) { return winfs::relative(p, base); }, row.input, row.error);
        expectThrows([&](const path& p) { return winfs::proximate(p, base); }, row.input,
                     row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Relations, testing::ValuesIn(kRelations));

struct Status {
    const char* input;
    file_type followed;  // none: status fails
    file_type own;       // what symlink_status sees
};

void PrintTo(const Status& s, std::ostream* os) {
    *os << '"' << s.input << '"';
}

// clang-format off
const Status kStatuses[] = {
    {"c:\\zor",               file_type::directory, file_type::directory},
    {"C:\\ZOR\\FILE.TXT",     file_type::regular,   file_type::regular},
    {"store",                 file_type::directory, file_type::directory},
    {"c:\\zor\\rel",          file_type::directory, file_type::symlink},
    {"c:\\zor\\dangling",     file_type::not_found, file_type::symlink},
    {"c:\\zor\\nothere",      file_type::not_found, file_type::not_found},
    {"c:\\zor\\nothere\\x",   file_type::not_found, file_type::not_found},
    {"c:\\zor\\file.txt\\x",  file_type::not_found, file_type::not_found},
    {"q:\\x",                 file_type::not_found, file_type::not_found},
    {"\\\\server\\share",     file_type::not_found, file_type::not_found},
    {"c:\\zor\\loop1",        file_type::none,      file_type::symlink},
    {"\\\\?\\C:\\zor",          file_type::directory, file_type::directory},
    {"\\\\?\\C:\\zor\\..\\zor",   file_type::not_found, file_type::not_found},
    {"\\\\?\\C:\\zor\\store.",    file_type::not_found, file_type::not_found},
    {"c:\\zor\\nul",          file_type::character, file_type::character},
    {"c:\\zor\\file.txt:s",   file_type::not_found, file_type::not_found},
    {"\\\\localhost\\c$\\zor",  file_type::directory, file_type::directory},
    {"c:\\zor\\file.txt\\",   file_type::not_found, file_type::not_found},
    {"c:\\zor\\lexi/",        file_type::not_found, file_type::not_found},
    {"c:\\zor\\rel\\",        file_type::directory, file_type::symlink},
    {"c:\\zor\\store/",       file_type::directory, file_type::directory},
    {"c:\\zor\\pipe\\",       file_type::not_found, file_type::not_found},
};
// clang-format on

class StatusQueries : public TreeTest<Status> {};

// A missing path is no error to exists() and to the throwing forms; the type predicates' error_code
// forms report it as status() does, as Microsoft's library does.
TEST_P(StatusQueries, TellTheTypeAndReportMissingAsStatusDoes) {
    const Status& row = GetParam();
    const path p(row.input);
    std::error_code ec;
    std::error_code own;
    EXPECT_EQ(winfs::symlink_status(p, own).type(), row.own);
    EXPECT_EQ(winfs::is_symlink(p, ec), row.own == file_type::symlink);
    EXPECT_EQ(ec, own);
    EXPECT_EQ(!!ec, row.own == file_type::not_found) << ec.message();
    EXPECT_EQ(winfs::is_symlink(p), row.own == file_type::symlink);

    std::error_code followed;
    EXPECT_EQ(winfs::status(p, followed).type(), row.followed);
    if (row.followed == file_type::none) {
        expectError(followed, 1921);
        EXPECT_THROW(winfs::status(p), winfs::filesystem_error);
        EXPECT_THROW(winfs::exists(p), winfs::filesystem_error);
        return;
    }
    EXPECT_EQ(winfs::exists(p, ec), row.followed != file_type::not_found);
    EXPECT_FALSE(ec) << ec.message();
    using Predicate = bool (*)(const path&, std::error_code&);
    for (const Predicate predicate :
         {Predicate(winfs::is_directory), Predicate(winfs::is_regular_file),
          Predicate(winfs::is_block_file), Predicate(winfs::is_character_file),
          Predicate(winfs::is_fifo), Predicate(winfs::is_socket), Predicate(winfs::is_other)}) {
        predicate(p, ec);
        EXPECT_EQ(ec, followed);
    }
    if (row.followed == file_type::not_found) {
        EXPECT_EQ(followed, std::errc::no_such_file_or_directory) << followed.message();
    }
    EXPECT_EQ(winfs::is_directory(p, ec), row.followed == file_type::directory);
    EXPECT_EQ(winfs::status(p).type(), row.followed);
    EXPECT_EQ(winfs::exists(p), row.followed != file_type::not_found);
    EXPECT_EQ(winfs::is_directory(p), row.followed == file_type::directory);
}

INSTANTIATE_TEST_SUITE_P(Drives, StatusQueries, testing::ValuesIn(kStatuses));

// clang-format off
const Mapping kReadSymlink[] = {
    {"c:\\zor\\rel",      "store",            kNoError},
    {"c:\\zor\\sub\\up",  "..\\store",        kNoError},
    {"c:\\zor\\abs",      "C:\\zor\\store",   kNoError},
    {"c:\\zor\\out",      "@\\outside",       kNoError},  // outside every drive but z:
    {"c:\\zor\\absdots",  "@\\prefix\\outside", kNoError},
    {"c:\\zor\\bsl",      "",                 123},
    {"c:\\zor\\store",    "",                 4390},
    {"c:\\zor\\nothere",  "",                 2},
    {"c:\\zor\\badrel",   "",                 kNotUtf8},
};
// clang-format on

class ReadSymlink : public TreeTest<Mapping> {};

TEST_P(ReadSymlink, MapsTheTargetBack) {
    const Mapping& row = GetParam();
    std::error_code ec;
    const path target = winfs::read_symlink(path(row.input), ec);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
        EXPECT_EQ(target.string(), expand(row.expected));
    } else {
        expectError(ec, row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, ReadSymlink, testing::ValuesIn(kReadSymlink));

TEST_F(OperationsTest, CurrentPathIsTheWorkingDirectoryAsAWindowsPath) {
    EXPECT_EQ(winfs::current_path().string(), "C:\\zor");
    changeDirectory(driveC("zor/store/inner"));
    EXPECT_EQ(winfs::current_path().string(), "C:\\zor\\store\\inner");
    changeDirectory(driveC());
    EXPECT_EQ(winfs::current_path().string(), "C:\\");
    changeDirectory(temp("outside"));
    EXPECT_EQ(winfs::current_path().string(), expand("@\\outside"));

    // Nor can one whose name holds a backslash: never the decoy C:\zor\a\b.
    changeDirectory(driveC("zor/a\\b"));
    std::error_code bad;
    EXPECT_TRUE(winfs::current_path(bad).empty());
    expectError(bad, 123);
    EXPECT_TRUE(winfs::canonical(path("f"), bad).empty());
    expectError(bad, 123);

    // A working directory whose name is not UTF-8 cannot be written as a Windows path.
    changeDirectory(driveC("zor/\xff\xfe"));
    std::error_code ec;
    EXPECT_TRUE(winfs::current_path(ec).empty());
    expectError(ec, kNotUtf8);
    winfs::canonical(path("x"), ec);
    expectError(ec, kNotUtf8);
}

struct Query {
    const char* what;
    Run run;
    std::uintmax_t result;
    int error;
};

void PrintTo(const Query& q, std::ostream* os) {
    *os << q.what;
}

// 1e9 s after 1970, in 100 ns ticks since 1601.
constexpr std::uintmax_t kOldTicks = (1'000'000'000ULL + 11'644'473'600ULL) * 10'000'000ULL;

std::uintmax_t rootCapacity() {
    struct statvfs fs {};
    return ::statvfs("/", &fs) == 0 ? fs.f_blocks * fs.f_frsize : 0;
}

// What the host keeps back from others than root on it: free, but not available.
std::uintmax_t rootReserved() {
    struct statvfs fs {};
    return ::statvfs("/", &fs) == 0 ? (fs.f_bfree - fs.f_bavail) * fs.f_frsize : 0;
}

// Dates `p` as another program would, and gives the time the host holds for it then.
timespec datedByHost(const char* p, timespec t) {
    const std::string host = fs::host_path(path(p)).string();
    const timespec times[2] = {{0, UTIME_OMIT}, t};
    EXPECT_EQ(::utimensat(AT_FDCWD, host.c_str(), times, 0), 0) << host;
    struct stat st {};
    EXPECT_EQ(::stat(host.c_str(), &st), 0) << host;
    return st.st_mtim;
}

// A time the host holds past the largest FILETIME (tmpfs holds it; ext4 stores 2446 instead) is
// 87, never another time; any other is read exactly. `ec` is left clear, as it differs.
std::uintmax_t readsHeldOrRefused(timespec t, std::error_code& ec) {
    const timespec held = datedByHost("c:\\zor\\old.txt", t);
    const fs::file_time_type read = fs::last_write_time(path("c:\\zor\\old.txt"), ec);
    const bool fits = held.tv_sec < 900'000'000'000;  // the largest FILETIME is 910'692'730'085 s
    const long long ticks =
        fits ? (held.tv_sec + 11'644'473'600LL) * 10'000'000 + held.tv_nsec / 100 : 0;
    const bool right = fits ? !ec && read.time_since_epoch().count() == ticks : ec.value() == 87;
    EXPECT_TRUE(right) << "held " << held.tv_sec << " s, read " << read.time_since_epoch().count()
                       << ": " << ec.message();
    ec.clear();
    return right;
}

// 1 when `got` is `want`, each path's text shown where not.
std::uintmax_t textIs(const path& got, std::string_view want) {
    EXPECT_EQ(got.string(), want);
    return got.string() == want;
}

// Folders and files with long names, below C:\zor: "Program Files\long file name.txt", and a
// link to store, "long link name".
void makeLongNames() {
    fs::create_directory(path("c:\\zor\\Program Files"));
    fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\Program Files\\long file name.txt"));
    fs::create_directory_symlink(path("store"), path("c:\\zor\\long link name"));
}

// Empty files of these names in C:\zor, made by the host: a short name would name another.
void makeFiles(std::initializer_list<const char*> names) {
    const std::string zor = fs::host_path(path("c:\\zor")).string();
    for (const char* name : names)
        std::ofstream(zor + "/" + name);
}

// How many of C:\zor's files named "Program Files ..." short_path names by a path that leads to
// that file, not to another.
std::uintmax_t shortPathsToTheirOwnFile(std::error_code& ec) {
    std::uintmax_t own = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(path("c:\\zor"))) {
        if (!entry.path().filename().native().starts_with("Program Files ")) continue;
        const path shortened = fs::short_path(entry.path(), ec);
        own += !ec && fs::equivalent(shortened, entry.path(), ec) && !ec;
    }
    return own;
}

// How many of these long names, made in C:\zor by the host, short_path gives as Wine's short
// name, or, for a name that is its own, as listed.
std::uintmax_t shortNamesAsWine(std::initializer_list<std::pair<const char*, const char*>> names,
                                std::error_code& ec) {
    std::uintmax_t right = 0;
    for (const auto& [name, wine] : names) {
        makeFiles({name});
        right += textIs(fs::short_path(path(std::string("c:\\zor\\") + name), ec),
                        std::string("c:\\zor\\") + wine);
    }
    return right;
}

// 2300-01-01 00:00:00.1234567 (and 89 ns, cut), in ticks since 1601.
constexpr std::uintmax_t k2300Ticks =
    (10'413'792'000ULL + 11'644'473'600ULL) * 10'000'000ULL + 1'234'567;

// clang-format off
const Query kQueries[] = {
    {"file_size", [](auto&, auto& ec) { return fs::file_size(path("c:\\ZOR\\data.txt"), ec); }, 5, 0},
    {"file_size through a link", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\lexi"), ec); }, 0, 0},
    {"file_size of a folder", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\store"), ec); }, 0, 0},
    {"file_size of a fifo", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\pipe"), ec); }, kFailed, 50},
    {"hard_link_count of a folder with folders in it", [](auto&, auto& ec) { return fs::hard_link_count(path("c:\\zor"), ec); }, 1, 0},
    {"file_size of a device", [](auto&, auto& ec) { return fs::file_size(path("nul"), ec); }, kFailed, 50},
    {"file_size of what is not there", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\none"), ec); }, kFailed, 2},
    {"hard_link_count", [](auto&, auto& ec) { return fs::hard_link_count(path("c:\\zor\\file.txt"), ec); }, 1, 0},
    {"hard_link_count of what is not there", [](auto&, auto& ec) { return fs::hard_link_count(path("c:\\none\\x"), ec); }, kFailed, 3},
    {"equivalent through a link and another case", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\rel\\inner"), path("C:\\ZOR\\STORE\\INNER"), ec); }, 1, 0},
    {"equivalent of two files", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\file.txt"), path("c:\\zor\\old.txt"), ec); }, 0, 0},
    {"equivalent of a file and a missing path", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\file.txt"), path("c:\\zor\\none"), ec); }, 0, 2},
    {"equivalent of a folder named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\store/"), path("C:\\ZOR\\STORE"), ec); }, 1, 0},
    {"equivalent of a relative folder named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("store\\"), path("rel\\"), ec); }, 1, 0},
    {"equivalent of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\file.txt\\"), path("c:\\zor\\file.txt"), ec); }, 0, 123},
    {"status of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::status(path("c:\\zor\\file.txt\\"), ec).type() == file_type::not_found; }, 1, 123},
    {"exists of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::exists(path("c:\\zor\\file.txt\\"), ec); }, 0, 0},
    {"file_size of a file named with a separator after it", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\data.txt\\"), ec); }, kFailed, 123},
    {"hard_link_count of a file named with a separator after it", [](auto&, auto& ec) { return fs::hard_link_count(path("c:\\zor\\data.txt\\"), ec); }, kFailed, 123},
    {"is_empty of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\file.txt\\"), ec); }, 0, 123},
    {"last_write_time of a file named with a separator after it", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\old.txt\\"), ec) == fs::file_time_type::min()); }, 1, 123},
    {"space of a file named with a separator after it", [](auto&, auto& ec) { return fs::space(path("c:\\zor\\old.txt\\"), ec).available; }, kFailed, 123},
    {"is_empty of an empty folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\store\\inner"), ec); }, 1, 0},
    {"is_empty of a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\rel"), ec); }, 0, 0},
    {"is_empty of an empty file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\file.txt"), ec); }, 1, 0},
    {"is_empty of a file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\data.txt"), ec); }, 0, 0},
    {"is_empty of what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\none"), ec); }, 0, 2},
    {"is_fifo", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_fifo(path("c:\\zor\\PIPE"), ec); }, 1, 0},
    {"is_other", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_other(path("c:\\zor\\pipe"), ec); }, 1, 0},
    {"is_other of a file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_other(path("c:\\zor\\file.txt"), ec); }, 0, 0},
    {"is_character_file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_character_file(path("z:\\dev\\null"), ec); }, 1, 0},
    {"is_socket of what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_socket(path("c:\\zor\\none"), ec); }, 0, 2},
    {"is_block_file of a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_block_file(path("c:\\zor"), ec); }, 0, 0},
    {"last_write_time in FILETIME ticks", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\old.txt"), ec).time_since_epoch().count()); }, kOldTicks, 0},
    {"last_write_time to system_clock", [](auto&, auto& ec) { const auto sys = fs::file_time_type::clock::to_sys(fs::last_write_time(path("c:\\zor\\old.txt"), ec)); return static_cast<std::uintmax_t>(std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count()); }, 1'000'000'000, 0},
    {"file_clock::from_sys of a time before 1970 between two ticks", [](auto&, auto&) { return static_cast<std::uintmax_t>(fs::file_time_type::clock::from_sys(std::chrono::sys_time<std::chrono::nanoseconds>(std::chrono::nanoseconds(-1))).time_since_epoch().count()); }, kOldTicks - 1'000'000'000ULL * 10'000'000ULL - 1, 0},
    {"last_write_time of a file the host dated 2300", [](auto&, auto& ec) { datedByHost("c:\\zor\\old.txt", {10'413'792'000, 123'456'789}); return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\old.txt"), ec).time_since_epoch().count()); }, k2300Ticks, 0},
    {"last_write_time of a file the host dated past the largest FILETIME", [](auto&, auto& ec) { return readsHeldOrRefused({1'000'000'000'000, 0}, ec); }, 1, 0},
    {"last_write_time of what is not there", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\none"), ec) == fs::file_time_type::min()); }, 1, 2},
    {"space", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::space(path("z:\\"), ec).capacity == rootCapacity()); }, 1, 0},
    {"space: what is free beyond what is available, as the host counts it", [](auto&, auto& ec) { const fs::space_info room = fs::space(path("z:\\"), ec); return static_cast<std::uintmax_t>(room.free - room.available == rootReserved()); }, 1, 0},
    {"space of what is not there", [](auto&, auto& ec) { return fs::space(path("c:\\zor\\none"), ec).available; }, kFailed, 2},
    {"status of a read-only file", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, ec); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\FILE.TXT"), ec).permissions()); }, kReadOnly, 0},
    {"status of a folder with Samba's record", [](auto&, auto& ec) { setDosRecord("store", bytesOf(kSamba3ReadOnly)); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\store"), ec).permissions()); }, kReadOnly, 0},
    {"status of a folder with Samba's record of 3,005 bytes", [](auto&, auto& ec) { setDosRecord("store", samba2(true)); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\store"), ec).permissions()); }, kReadOnly, 0},
    {"status of a folder with Samba's record without text", [](auto&, auto& ec) { setDosRecord("store", bytesOf(kSamba5ReadOnly)); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\store"), ec).permissions()); }, kReadOnly, 0},
    {"status of a folder with Samba's record that does not vouch for the attributes", [](auto&, auto& ec) { setDosRecord("store", bytesOf(kSamba5Unvouched)); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\store"), ec).permissions()); }, 0777, 0},
    {"status of a folder with a record of another form", [](auto&, auto& ec) { setDosRecord("store", std::string(3000, '\x01')); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\store"), ec).permissions()); }, 0777, 0},
    {"status of a folder with an empty record", [](auto&, auto& ec) { setDosRecord("store", ""); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\store"), ec).permissions()); }, 0777, 0},
    // Each record that gives read-only adds its bit: the last digit 9, f or F, all 32 bits; 33 bits are none.
    {"status of folders whose records end in 9, f and F, or pass 32 bits", [](auto&, auto& ec) -> std::uintmax_t { std::uintmax_t bits = 0, bit = 1; for (const char* record : {"0x9", "0x2f", "0x2F", "0xfffffff1", "0x100000001"}) { setDosRecord("store", record); bits += fs::status(path("c:\\zor\\store"), ec).permissions() == fs::perms(kReadOnly) ? bit : 0; bit *= 2; } return bits; }, 15, 0},
    // Linux reads a folder's user attributes only for one who may list it: the record counts as none.
    {"status of a read-only folder that may be entered but not listed", [](auto&, auto& ec) { setDosRecord("store", "0x1"); ::chmod("store", 0311); fs::perms perms; { const PermissionsApply apply; perms = fs::status(path("c:\\zor\\store"), ec).permissions(); } ::chmod("store", 0755); return static_cast<std::uintmax_t>(perms); }, 0777, 0},
    {"status of a read-only folder of mode 0", [](auto&, auto& ec) { setDosRecord("store", "0x1"); ::chmod("store", 0); fs::perms perms; { const PermissionsApply apply; perms = fs::status(path("c:\\zor\\store"), ec).permissions(); } ::chmod("store", 0755); return static_cast<std::uintmax_t>(perms); }, 0777, 0},
    {"symlink_status of a link to a read-only file", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, ec); return static_cast<std::uintmax_t>(fs::symlink_status(path("c:\\zor\\lexi"), ec).permissions()); }, 0777, 0},
    {"directory_entry of what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::directory_entry(path("c:\\zor\\none"), ec).exists(); }, 0, 0},
    {"directory_entry of a link to a folder", [](auto&, auto& ec) -> std::uintmax_t { const fs::directory_entry e(path("c:\\zor\\REL"), ec); return e.is_directory() + 2 * e.is_symlink(); }, 3, 0},
    {"directory_entry of a dangling link", [](auto&, auto& ec) -> std::uintmax_t { const fs::directory_entry e(path("c:\\zor\\dangling")); return e.exists(ec) + 2 * e.is_symlink(); }, 2, 0},
    {"directory_entry::replace_filename", [](auto&, auto& ec) -> std::uintmax_t { fs::directory_entry e(path("c:\\zor\\file.txt")); e.replace_filename(path("store"), ec); return e.is_directory() + 2 * e.is_regular_file(); }, 1, 0},
    {"host_path of a link reaches what it leads to; asked to, it names the link", [](auto&, auto& ec) -> std::uintmax_t { const auto followed = fs::host_path(path("c:\\zor\\rel"), ec); const auto named = fs::host_path(path("c:\\zor\\rel"), fs::last_link::name, ec); return (followed.filename() == "store") + 2 * (named.filename() == "rel"); }, 3, 0},
    {"directory_entry::file_size", [](auto&, auto& ec) { return fs::directory_entry(path("c:\\zor\\DATA.txt")).file_size(ec); }, 5, 0},
    {"directory_entry::file_size of a folder from a listing", [](auto&, auto& ec) -> std::uintmax_t { for (const fs::directory_entry& e : fs::directory_iterator(path("c:\\zor"))) { if (e.path().filename() == path("store")) return e.file_size(ec); } return 7; }, 0, 0},
    {"directory_entry::hard_link_count of what is not there", [](auto&, auto& ec) { return fs::directory_entry(path("c:\\zor\\none")).hard_link_count(ec); }, kFailed, 2},
    {"directory_entry::status of what is not there", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::directory_entry(path("c:\\zor\\none")).status(ec).type() == fs::file_type::not_found); }, 1, 2},
    // What the listing told holds until refresh(): the folder is gone meanwhile.
    {"directory_entry keeps the listing's type", [](auto&, auto& ec) -> std::uintmax_t { fs::directory_entry e = *fs::directory_iterator(path("c:\\zor\\store")); fs::remove(path("c:\\zor\\store\\inner")); const bool before = e.is_directory(); e.refresh(ec); return before + 2 * e.exists(); }, 1, 0},
    // As FindNextFileW hands them: the size, time and attribute read once stay until refresh().
    {"directory_entry keeps the size and time it read", [](auto&, auto& ec) -> std::uintmax_t { for (const fs::directory_entry& e : fs::directory_iterator(path("c:\\zor"))) { if (e.path().filename() != path("data.txt")) continue; const fs::file_time_type time = fs::last_write_time(e.path()); const std::uintmax_t size = e.file_size(); fs::remove(e.path()); fs::directory_entry kept = e; const std::uintmax_t held = kept.file_size(ec) + 10 * (kept.last_write_time(ec) == time) + 100 * kept.is_regular_file(ec) + 1000 * (kept.status(ec).type() == file_type::regular); kept.refresh(ec); return size * 100'000 + held + 10'000 * kept.exists(ec); } return 0; }, 501'115, 0},
    {"directory_entry of a descent keeps the attribute it read", [](auto&, auto& ec) -> std::uintmax_t { for (fs::recursive_directory_iterator it(path("c:\\zor")); it != fs::recursive_directory_iterator(); ++it) { if (it->path().filename() != path("file.txt")) continue; const bool before = it->status().permissions() == fs::perms::all; fs::permissions(it->path(), fs::perms::none, ec); fs::directory_entry e = *it; const bool kept = e.symlink_status(ec).permissions() == fs::perms::all && e.status(ec).permissions() == fs::perms::all; e.refresh(ec); return before + 2 * kept + 4 * (e.status(ec).permissions() == fs::perms(kReadOnly)); } return 0; }, 7, 0},
    {"directory_entry reads its name in the folder the listing holds", [](auto&, auto& ec) -> std::uintmax_t { fs::directory_iterator it(path("c:\\zor")); while (it->path().filename() != path("data.txt")) ++it; fs::rename(path("c:\\zor"), path("c:\\moved"), ec); return it->file_size(ec); }, 5, 0},
    {"directory_entry of a listing gone reads its name by path", [](auto&, auto& ec) -> std::uintmax_t { fs::directory_entry e; for (const fs::directory_entry& listed : fs::directory_iterator(path("c:\\zor"))) { if (listed.path().filename() == path("data.txt")) e = listed; } return e.file_size(ec); }, 5, 0},
    {"directory_entry of a read-only file from a listing", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, ec); for (const fs::directory_entry& e : fs::directory_iterator(path("c:\\zor"))) { if (e.path().filename() == path("file.txt")) return static_cast<std::uintmax_t>(e.symlink_status(ec).permissions()); } return 0; }, kReadOnly, 0},
    {"directory_entry::file_size of no path", [](auto&, auto& ec) -> std::uintmax_t { try { (void)fs::directory_entry().file_size(); } catch (const fs::filesystem_error& e) { ec = e.code(); return std::string_view(e.what()).starts_with("directory_entry::file_size: "); } return 0; }, 1, 123},
    {"directory_entry::last_write_time of no path", [](auto&, auto& ec) -> std::uintmax_t { try { (void)fs::directory_entry().last_write_time(); } catch (const fs::filesystem_error& e) { ec = e.code(); return std::string_view(e.what()).starts_with("directory_entry::last_write_time: "); } return 0; }, 1, 123},
    // A missing path, or a link to nothing, is not_found without throwing, as status(p) answers.
    {"directory_entry::status of no path", [](auto&, auto& ec) -> std::uintmax_t { const fs::directory_entry e; return (e.status().type() == file_type::not_found) + 2 * (e.symlink_status().type() == file_type::not_found) + 4 * (e.status(ec).type() == file_type::not_found); }, 7, 123},
    {"directory_entry::status of a dangling link", [](auto&, auto& ec) -> std::uintmax_t { const fs::directory_entry e(path("c:\\zor\\dangling")); return (e.status().type() == file_type::not_found) + 2 * (e.symlink_status().type() == file_type::symlink) + 4 * (e.status(ec).type() == file_type::not_found); }, 7, 2},
    {"directory_entry::status of a dangling link from a listing", [](auto&, auto& ec) -> std::uintmax_t { for (const fs::directory_entry& e : fs::directory_iterator(path("c:\\zor"))) { if (e.path().filename() == path("dangling")) return (e.status().type() == file_type::not_found) + 2 * e.is_symlink() + 4 * (e.status(ec).type() == file_type::not_found); } return 0; }, 7, 2},
    // Made from a path, an entry keeps what it read as Microsoft's constructor does; the links count is read each time.
    {"directory_entry from a path keeps the size, time and attribute it read", [](auto&, auto& ec) -> std::uintmax_t { const path p("c:\\zor\\data.txt"); fs::permissions(p, fs::perms::none); const fs::directory_entry e(path("c:\\zor\\DATA.TXT")); const fs::file_time_type time = fs::last_write_time(p); fs::permissions(p, fs::perms::all); fs::remove(p); const std::uintmax_t held = e.file_size() + 10 * (e.last_write_time() == time) + 100 * (e.status().permissions() == fs::perms(kReadOnly)) + 1000 * (e.symlink_status(ec).type() == file_type::regular); fs::directory_entry fresh = e; fresh.refresh(); return held + 10'000 * !fresh.exists(); }, 11'115, 0},
    {"directory_entry from a path keeps a folder's attribute", [](auto&, auto& ec) { const path p("c:\\zor\\store"); fs::permissions(p, fs::perms::none); const fs::directory_entry e(p); fs::permissions(p, fs::perms::all); return static_cast<std::uintmax_t>(e.status(ec).permissions()); }, kReadOnly, 0},
    {"directory_entry::hard_link_count from a path reads the disk each time", [](auto&, auto& ec) { const fs::directory_entry e(path("c:\\zor\\data.txt")); fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\twin")); return e.hard_link_count(ec); }, 2, 0},
    {"directory_entry of a link from a path reads what it leads to", [](auto&, auto& ec) { const fs::directory_entry e(path("c:\\zor\\lexi")); fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), fs::copy_options::overwrite_existing); return e.file_size(ec) * 10 + e.is_symlink(); }, 51, 0},
    {"directory_entry of a fifo from a listing", [](auto&, auto& ec) -> std::uintmax_t { for (const fs::directory_entry& e : fs::directory_iterator(path("c:\\zor"))) { if (e.path().filename() == path("pipe")) return e.is_other(ec) + 2 * e.is_fifo(); } return 0; }, 3, 0},
    {"short_path of long names", [](auto&, auto& ec) { makeLongNames(); return textIs(fs::short_path(path("c:\\zor\\program files\\long file name.txt"), ec), "c:\\zor\\PROG~FBU\\LONG~5R1.TXT"); }, 1, 0},
    {"short_path of a link, not what it leads to", [](auto&, auto& ec) { makeLongNames(); return textIs(fs::short_path(path("c:/zor/long link name/inner/"), ec), "c:/zor/LONG~NDL/inner/"); }, 1, 0},
    {"short_path of short names, as listed, separators as written", [](auto&, auto& ec) { return textIs(fs::short_path(path("C:\\ZOR\\.\\/FILE.TXT"), ec), "C:\\zor\\.\\/file.txt"); }, 1, 0},
    {"short_path of a relative path", [](auto&, auto& ec) { return textIs(fs::short_path(path("store\\..\\\xc3\xa9t\xc3\xa9"), ec), "store\\..\\_T_~~3NC"); }, 1, 0},
    {"short_path of what is not there", [](auto&, auto& ec) { return textIs(fs::short_path(path("c:\\zor\\none"), ec), ""); }, 1, 2},
    {"short_path of a missing folder on the way", [](auto&, auto& ec) { return textIs(fs::short_path(path("c:\\zor\\none\\x"), ec), ""); }, 1, 2},
    {"short_path of a missing \"..\"", [](auto&, auto& ec) { return textIs(fs::short_path(path("c:\\zor\\store\\inner\\..\\none\\.."), ec), ""); }, 1, 2},
    {"short_path of the empty path", [](auto&, auto& ec) { return textIs(fs::short_path(path(), ec), ""); }, 1, 3},
    {"long_path in another case", [](auto&, auto& ec) { return textIs(fs::long_path(path("C:\\ZOR\\.\\STORE\\INNER"), ec), "C:\\zor\\.\\store\\inner"); }, 1, 0},
    {"long_path of a drive", [](auto&, auto& ec) { return textIs(fs::long_path(path("c:"), ec), "c:"); }, 1, 0},
    {"long_path of an unmapped drive's root", [](auto&, auto& ec) { return textIs(fs::long_path(path("q:\\"), ec), ""); }, 1, 2},
    {"long_path of what is not there", [](auto&, auto& ec) { return textIs(fs::long_path(path("c:\\zor\\none\\x"), ec), ""); }, 1, 2},
    {"long_path of short names", [](auto&, auto& ec) { makeLongNames(); return textIs(fs::long_path(path("c:\\zor\\prog~fbu\\LONG~5R1.TXT"), ec), "c:\\zor\\Program Files\\long file name.txt"); }, 1, 0},
    {"long_path keeps long names and separators as written", [](auto&, auto& ec) { makeLongNames(); return textIs(fs::long_path(path("C:/ZOR//program files\\LONG~5R1.TXT"), ec), "C:/zor//program files\\long file name.txt"); }, 1, 0},
    {"long_path of a short name in a missing tail", [](auto&, auto& ec) { makeLongNames(); return textIs(fs::long_path(path("c:\\zor\\none\\PROG~FBU"), ec), ""); }, 1, 2},
    {"canonical of a legal 8.3 name that is also another's short name", [](auto&, auto& ec) { makeLongNames(); std::filesystem::create_directory(fs::host_path(path("c:\\zor")).string() + "/prog~fbu"); return textIs(fs::canonical(path("c:\\zor\\PROG~FBU"), ec), "C:\\zor\\prog~fbu"); }, 1, 0},
    // A short name that several names share is the first's in NTFS's order, whatever order the host lists them in.
    {"canonical of a short name three names share", [](auto&, auto& ec) { makeFiles({"Program Files 1128", "Program Files 0992", "Program Files 0032"}); return textIs(fs::canonical(path("c:\\zor\\prog~zky"), ec), "C:\\zor\\Program Files 0032"); }, 1, 0},
    {"long_path of a short name two names share", [](auto&, auto& ec) { makeFiles({"Program Files 1209", "Program Files 0313"}); return textIs(fs::long_path(path("c:\\zor\\PROG~02B"), ec), "c:\\zor\\Program Files 0313"); }, 1, 0},
    {"short_path of the name that owns a short name it shares", [](auto&, auto& ec) { makeFiles({"Program Files 1209", "Program Files 0313"}); return textIs(fs::short_path(path("c:\\zor\\program files 0313"), ec), "c:\\zor\\PROG~02B"); }, 1, 0},
    {"short_path of a name whose short name another owns: the long name", [](auto&, auto& ec) { makeFiles({"Program Files 1209", "Program Files 0313"}); return textIs(fs::short_path(path("c:\\zor\\program files 1209"), ec), "c:\\zor\\Program Files 1209"); }, 1, 0},
    {"short_path beside a name that is its short name: the long name", [](auto&, auto& ec) { makeLongNames(); makeFiles({"prog~fbu"}); return textIs(fs::short_path(path("c:\\zor\\Program Files\\long file name.txt"), ec), "c:\\zor\\Program Files\\LONG~5R1.TXT"); }, 1, 0},
    // Every ASCII letter in both cases, 'Z' and 'z' last; units no short name holds; a leading dot; the limits of 8.3.
    {"short_path of names as Wine hashes them", [](auto&, auto& ec) { return shortNamesAsWine({{"Upper ABCDEFGHIJKLMNOPQRSTUVWXYZ", "UPPE~0SN"}, {"lower abcdefghijklmnopqrstuvwxyz", "LOWE~FJY"}, {"A,b", "A_B~~GNH"}, {"a;b=c+d[e]", "A_B_~SPC"}, {"[x] y.t,t", "_X__~FOR.T_T"}, {"a~bcdefghij", "A_BC~LC3"}, {".bashrc", "_BAS~0WR"}, {"ab.c.txt", "AB_C~1VX.TXT"}, {"abcdefghi.txt", "ABCD~0SH.TXT"}, {"a.txtx", "A~~~~ZRD.TXT"}, {"abcdefgh.txt", "abcdefgh.txt"}, {"a~b", "a~b"}}, ec); }, 12, 0},
    {"short_path of three names that share one: each names its own file", [](auto&, auto& ec) { makeFiles({"Program Files 0992", "Program Files 1128", "Program Files 0032"}); return shortPathsToTheirOwnFile(ec); }, 3, 0},
    // A copy onto the short form of each of two names that share one reaches each.
    {"copy_file onto the short_path of two names that share one", [](auto&, auto& ec) -> std::uintmax_t { makeFiles({"Program Files 1209", "Program Files 0313"}); for (const char* name : {"c:\\zor\\Program Files 1209", "c:\\zor\\Program Files 0313"}) { if (!fs::copy_file(path("c:\\zor\\data.txt"), fs::short_path(path(name)), fs::copy_options::overwrite_existing, ec)) return 0; } return fs::file_size(path("c:\\zor\\Program Files 0313")) * 10 + fs::file_size(path("c:\\zor\\Program Files 1209")); }, 55, 0},
    {"create_directory of another's short name", [](auto&, auto& ec) -> std::uintmax_t { makeLongNames(); return fs::create_directory(path("c:\\zor\\prog~fbu"), ec); }, 0, 0},
    {"long_path that throws", [](auto&, auto& ec) -> std::uintmax_t { try { (void)fs::long_path(path("c:\\zor\\none")); } catch (const fs::filesystem_error& e) { ec = e.code(); return std::string_view(e.what()).starts_with("long_path: "); } return 0; }, 1, 2},
    {"status of what is not there", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\none"), ec).permissions()); }, 0xFFFF, 2},
    // Without long paths: "C:\" and 256 more characters, 260 units with the NUL, is the longest path a file call takes.
    {"exists at MAX_PATH without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(259))); LegacyPaths legacy; return fs::exists(path(deepPath(259)), ec); }, 1, 0},
    {"status past MAX_PATH without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(260))); LegacyPaths legacy; return fs::status(path(deepPath(260)), ec).type() == file_type::not_found; }, 1, 3},
    {"canonical of a relative path whose full form passes MAX_PATH", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(260))); LegacyPaths legacy; return fs::canonical(path(deepPath(260).substr(7)), ec).empty(); }, 1, 3},
    {"exists past MAX_PATH with \\\\?\\ without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(300))); LegacyPaths legacy; return fs::exists(path("\\\\?\\" + deepPath(300)), ec); }, 1, 0},
    {"weakly_canonical past MAX_PATH without long paths: the part that fits, the rest as given", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(260))); LegacyPaths legacy; return textIs(fs::weakly_canonical(path(deepPath(260) + "\\x\\"), ec), "C" + deepPath(260).substr(1) + "\\x\\"); }, 1, 0},
    {"weakly_canonical of a folder at MAX_PATH and a name past it, without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(259))); LegacyPaths legacy; return textIs(fs::weakly_canonical(path(deepPath(259) + "\\x"), ec), "C" + deepPath(259).substr(1) + "\\x"); }, 1, 0},
    {"absolute past MAX_PATH without long paths", [](auto&, auto& ec) -> std::uintmax_t { LegacyPaths legacy; return fs::absolute(path(deepPath(300)), ec).native().size(); }, 300, 0},
    {"exists past MAX_PATH once long paths are back", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(260))); LegacyPaths legacy; fs::set_long_paths(true); return fs::exists(path(deepPath(260)), ec); }, 1, 0},
    // 259 UTF-16 units in 379 bytes.
    {"exists at MAX_PATH in UTF-16 units without long paths", [](auto&, auto& ec) -> std::uintmax_t { std::string p = "c:\\zor\\"; for (int i = 0; i < 120; ++i) p += "\xc3\xa9"; p += "\\" + std::string(131, 'b'); fs::create_directories(path(p)); LegacyPaths legacy; return fs::exists(path(p), ec); }, 1, 0},
};
// clang-format on

class Queries : public ChangeTest, public testing::WithParamInterface<Query> {};

TEST_P(Queries, AnswerAsWindowsDoes) {
    const Query& row = GetParam();
    std::error_code ec;
    EXPECT_EQ(row.run(throughZ(temp()), ec), row.result);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Queries, testing::ValuesIn(kQueries));

TEST_F(ScratchOperations, TempDirectoryTakesTheFirstAbsoluteWindowsPath) {
    makeFolder(driveC("tmp"));
    makeFolder(driveC("temp"));
    makeFolder(driveC("home"));
    makeFolder(temp("host"));
    struct Row {
        const char* tmp;
        const char* tempVar;
        const char* profile;
        std::string expected;
    };
    const Row rows[] = {
        {"c:\\tmp", "c:\\temp", "c:\\home", "c:\\tmp\\"},
        {nullptr, "C:\\temp\\", "c:\\home", "C:\\temp\\"},
        {"", "c:\\temp", "c:\\home", "c:\\temp\\"},  // set but empty is not set
        // Made full against the working directory, C:\\, as GetFullPathNameW makes it.
        {"tmp", "c:\\temp", nullptr, "C:\\tmp\\"},
        {"/temp", nullptr, nullptr, "C:\\temp\\"},
        {"c:home", "c:\\temp", nullptr, "C:\\home\\"},
        {"c:\\tmp\xff", "c:\\temp", nullptr, "c:\\temp\\"},  // not UTF-8: as not set
        // None set: the Windows folder, which a prefix Wine did not make lacks.
        {nullptr, nullptr, nullptr, throughZ(temp("host")) + "\\"},
    };
    ScopedEnv hostTemp("TMPDIR", temp("host").c_str());
    winfs::current_path(path("c:\\"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        ScopedEnv tmp("TMP", row.tmp), tempVar("TEMP", row.tempVar),
            profile("USERPROFILE", row.profile);
        EXPECT_EQ(winfs::temp_directory_path().string(), row.expected);
    }
    ScopedEnv tmp("TMP", nullptr), tempVar("TEMP", nullptr), profile("USERPROFILE", nullptr);
    {
        ScopedEnv relative("TMPDIR", "host");  // the host's own rule: not taken, /tmp is
        EXPECT_EQ(winfs::temp_directory_path().string(), throughZ("/tmp") + "\\");
    }
    makeFolder(driveC("windows"));
    EXPECT_EQ(winfs::temp_directory_path().string(), "C:\\windows\\");
}

TEST_F(ScratchOperations, TempDirectoryThatIsNoFolderFails) {
    makeFile(driveC("file.txt"));
    ScopedEnv temp("TEMP", nullptr), profile("USERPROFILE", nullptr);
    {
        ScopedEnv tmp("TMP", "c:\\nowhere");
        std::error_code ec;
        EXPECT_EQ(winfs::temp_directory_path(ec).string(), "") << "an empty path on error";
        EXPECT_EQ(ec, std::make_error_code(std::errc::not_a_directory)) << ec.message();
        try {
            winfs::temp_directory_path();
            ADD_FAILURE() << "no exception";
        } catch (const winfs::filesystem_error& e) {
            EXPECT_EQ(e.path1().string(), "c:\\nowhere\\") << "the failure names the folder";
        }
    }
    {
        ScopedEnv tmp("TMP", "nonexistent.dir");
        try {
            winfs::temp_directory_path();
            ADD_FAILURE() << "no exception";
        } catch (const winfs::filesystem_error& e) {
            EXPECT_EQ(e.code(), std::make_error_code(std::errc::not_a_directory))
                << e.code().message();
            EXPECT_TRUE(e.path1().native().ends_with("\\nonexistent.dir\\")) << e.path1();
            EXPECT_TRUE(e.path1().is_absolute()) << e.path1();
        }
    }
    {
        ScopedEnv tmp("TMP", "c:\\file.txt");
        std::error_code ec;
        EXPECT_EQ(winfs::temp_directory_path(ec).string(), "");
        EXPECT_EQ(ec, std::make_error_code(std::errc::not_a_directory)) << ec.message();
    }
}

TEST_F(ScratchOperations, CurrentPathMovesTheProcess) {
    makeFolder(driveC("zor/Store"));
    winfs::current_path(path("c:\\ZOR\\store"));
    EXPECT_EQ(winfs::current_path().string(), "C:\\zor\\Store");
    EXPECT_EQ(winfs::absolute(path("x")).string(), "C:\\zor\\Store\\x");
    std::error_code ec;
    winfs::current_path(path("c:\\zor\\missing"), ec);
    EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winfs::current_path().string(), "C:\\zor\\Store") << "a failed move stays put";
}

}  // namespace
