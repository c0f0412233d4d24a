// The winfs operations on a real prefix: drive mapping, absolute, canonical, weakly_canonical, the
// status queries, links, the working directory and listings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/magic.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <thread>

#include "drive_fixture.h"
#include "drives/drive.h"
#include "host/host.h"
#include "pathprobe/winfs/filesystem.h"
#include "resolve/name_cache.h"

using winfs::file_type;
using winfs::path;

namespace {

// A row's error: a Windows code, or the conversion error of a name that is not UTF-8.
constexpr int kNoError = 0;
constexpr int kNotUtf8 = -1;

void expectError(const std::error_code& ec, int expected) {
    if (expected == kNotUtf8) {
        EXPECT_EQ(ec, std::errc::illegal_byte_sequence) << ec.message();
    } else {
        EXPECT_EQ(ec, std::error_code(expected, winfs::system_category())) << ec.message();
    }
}

// The throwing form fails with the same code, naming the input.
template <class Operation>
void expectThrows(Operation operation, const std::string& input, int expected) {
    try {
        operation(path(input));
        ADD_FAILURE() << "no exception for " << input;
    } catch (const winfs::filesystem_error& e) {
        expectError(e.code(), expected);
        EXPECT_EQ(e.path1().string(), input);
        if (expected == kNotUtf8) {
            EXPECT_NE(std::string(e.what()).find(": Cannot convert character sequence ["),
                      std::string::npos)
                << e.what();
        }
    }
}

struct Mapping {
    const char* input;
    const char* expected;  // '@' stands for the temporary folder through z:
    int error;
};

void PrintTo(const Mapping& m, std::ostream* os) {
    *os << '"' << m.input << '"';
}

// The tree of buildTree(), with C:\zor as the working directory.
class OperationsTest : public DriveFixture {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        buildTree();
        changeDirectory(driveC("zor"));
    }
};

template <class Row>
class TreeTest : public OperationsTest, public testing::WithParamInterface<Row> {};

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

// clang-format off
const Mapping kCanonical[] = {
    {"c:\\ZOR\\Store",              "C:\\zor\\store",         kNoError},
    {"c:\\zor\\été",                "C:\\zor\\Été",           kNoError},
    {"c:\\zor\\mixed\\",            "C:\\zor\\Mixed",         kNoError},  // first byte by byte
    {"c:\\zor\\mIXED",              "C:\\zor\\mIXED",         kNoError},  // the case given first
    {"c:/zor//store/.",             "C:\\zor\\store",         kNoError},
    {"c:\\",                        "C:\\",                   kNoError},
    {"C:",                          "C:\\zor",                kNoError},
    {"store\\inner",                "C:\\zor\\store\\inner",  kNoError},
    {"\\zor",                       "C:\\zor",                kNoError},
    {"\\\\?\\c:\\zor\\store",       "C:\\zor\\store",         kNoError},
    {"\\??\\c:\\zor",               "C:\\zor",                kNoError},
    // After \\?\ names are taken as they stand: "..", a trailing dot and '/' are names.
    {"\\\\?\\C:\\..",                "",                       123},
    {"\\\\?\\C:\\zor\\..\\zor",        "",                       123},
    {"\\\\?\\C:\\zor/store",          "",                       123},
    {"\\\\?\\C:\\zor\\store.",        "",                       2},
    {"\\\\.\\C:\\zor\\..\\zor",        "C:\\zor",                kNoError},
    // Streams: the file's data and the folder's index are the file and the folder.
    {"c:\\zor\\file.txt::$DATA",     "C:\\zor\\file.txt",      kNoError},
    {"c:\\zor\\store::$INDEX_ALLOCATION", "C:\\zor\\store",  kNoError},
    {"c:\\zor\\store:$I30:$Index_Allocation", "C:\\zor\\store", kNoError},
    {"c:\\zor\\file.txt:s",          "",                       2},
    {"c:\\zor\\file.txt:s:$DATA\\x",  "",                       3},
    // This machine's administrative shares, kept in the form given.
    {"\\\\localhost\\c$\\zor\\rel",     "\\\\localhost\\c$\\zor\\store", kNoError},
    {"\\\\127.0.0.1\\C$\\ZOR",         "\\\\127.0.0.1\\C$\\zor",     kNoError},
    {"\\\\?\\UNC\\localhost\\c$\\zor",  "\\\\?\\UNC\\localhost\\c$\\zor", kNoError},
    {"\\\\.\\UNC\\LOCALHOST\\c$\\zor",  "\\\\.\\UNC\\LOCALHOST\\c$\\zor", kNoError},
    {"\\\\localhost\\c$\\up\\secret",   "\\\\localhost\\c$\\outside\\secret", kNoError},  // ".." stops at the share
    {"\\\\localhost\\q$\\zor",        "",                       3},
    {"\\\\localhost\\share\\zor",     "",                       53},
    {"\\\\server\\c$\\zor",           "",                       53},
    // Devices: NUL in any folder, and the console.
    {"c:\\zor\\NUL",                 "\\\\.\\NUL",             kNoError},
    {"con",                         "\\\\.\\con",             kNoError},
    {"\\\\.\\COM1",                  "",                       2},
    {"c:\\zor\\rel.\\ ",            "C:\\zor\\store",         kNoError},  // as "c:\zor\rel\"
    {"\\\\.\\C:\\zor",              "C:\\zor",                kNoError},
    {"c:\\zor\\rel",                "C:\\zor\\store",         kNoError},
    {"c:\\zor\\REL\\inner",         "C:\\zor\\store\\inner",  kNoError},
    {"c:\\zor\\sub\\up",            "C:\\zor\\store",         kNoError},  // against the link's folder
    {"c:\\zor\\abs",                "C:\\zor\\store",         kNoError},
    {"c:\\zor\\sub\\up\\..\\up",    "C:\\zor\\store",         kNoError},  // ".." before the link
    {"c:\\zor\\lexi",               "C:\\zor\\file.txt",      kNoError},  // hop/.. taken lexically
    {"c:\\zor\\out",                "@\\outside",             kNoError},
    {"c:\\zor\\absdots\\secret",     "@\\prefix\\outside\\secret", kNoError},  // ".." as the host takes it
    {"c:\\up\\secret",              "C:\\outside\\secret",    kNoError},  // ".." stops at the root
    {"c:\\zor\\upper",              "C:\\zor\\store",         kNoError},  // a target in another case
    {"c:\\zor\\a\\b\\f",             "C:\\zor\\a\\b\\f",         kNoError},
    {"c:\\zor\\bsl\\f",             "",                       123},  // never the decoy a\b\f
    {"c:\\zor\\rel\\a<b",           "",                       123},
    {"c:\\zor\\tonul",               "C:\\zor\\nul",              kNoError},
    {"c:\\chain\\l1",               "C:\\chain\\end",         kNoError},  // 63 links
    {"c:\\chain\\l0",               "",                       1921},      // 64 links
    {"c:\\zor\\loop1",              "",                       1921},
    {"c:\\zor\\loop2\\x",           "",                       1921},
    {"c:\\zor\\nothere",            "",                       2},
    {"c:\\zor\\dangling",           "",                       2},
    {"c:\\zor\\nothere\\x",         "",                       3},
    {"c:\\zor\\file.txt\\x",        "",                       3},
    {"q:\\zor",                     "",                       3},
    {"\\\\server\\share",           "",                       53},
    {"\\\\?\\UNC\\server\\share",   "",                       53},
    {"c:\\zor\\badrel",             "",                       kNotUtf8},
    {"c:\\zor\\badabs\\x",          "",                       kNotUtf8},
};
// clang-format on

class Canonical : public TreeTest<Mapping> {};

TEST_P(Canonical, ResolvesOnDisk) {
    const Mapping& row = GetParam();
    std::error_code ec;
    const path result = winfs::canonical(path(row.input), ec);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
        EXPECT_EQ(result.string(), expand(row.expected));
        EXPECT_EQ(winfs::canonical(path(row.input)).string(), expand(row.expected));
    } else {
        expectError(ec, row.error);
        EXPECT_TRUE(result.empty()) << result.string();
        expectThrows([](const path& p) { return winfs::canonical(p); }, row.input, row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Canonical, testing::ValuesIn(kCanonical));

// clang-format off
const Mapping kWeaklyCanonical[] = {
    {"c:\\zor\\store\\missing\\more",  "C:\\zor\\store\\missing\\more", kNoError},
    {"c:\\ZOR\\nothere\\..\\store",    "C:\\zor\\store",                kNoError},
    {"c:\\zor\\rel\\nothere",          "C:\\zor\\store\\nothere",       kNoError},
    {"c:\\zor\\dangling",              "C:\\zor\\dangling",             kNoError},  // counts as missing
    {"c:\\zor\\dangling\\x",           "C:\\zor\\dangling\\x",          kNoError},
    {"c:\\zor\\..\\zor\\asdf\\",       "C:\\zor\\asdf\\",               kNoError},
    {"store\\x",                       "C:\\zor\\store\\x",             kNoError},
    {"nothing\\here",                  "nothing\\here",                 kNoError},  // stays relative
    {"..\\nothere",                    "C:\\nothere",                   kNoError},
    {"q:\\x\\..\\y",                   "q:\\y",                         kNoError},
    {"c:\\zor\\rel\\a<b",               "C:\\zor\\store\\a<b",              kNoError},
    {"c:\\zor\\bsl\\f",                 "C:\\zor\\bsl\\f",                  kNoError},
    {"c:\\zor\\absdots\\secret",         "@\\prefix\\outside\\secret",       kNoError},
    {"\\\\?\\C:\\..",                    "C:\\",                          kNoError},  // as canonical
    {"c:\\zor\\loop1\\x",              "",                              1921},
    {"c:\\zor\\badrel\\x",             "",                              kNotUtf8},
};
// clang-format on

class WeaklyCanonical : public TreeTest<Mapping> {};

TEST_P(WeaklyCanonical, ResolvesTheHeadThatExists) {
    const Mapping& row = GetParam();
    std::error_code ec;
    const path result = winfs::weakly_canonical(path(row.input), ec);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
        EXPECT_EQ(result.string(), expand(row.expected));
    } else {
        expectError(ec, row.error);
        expectThrows([](const path& p) { return winfs::weakly_canonical(p); }, row.input,
                     row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, WeaklyCanonical, testing::ValuesIn(kWeaklyCanonical));

// Every path of the two tables above, resolved in a child process on a host that lacks openat2
// (a seccomp filter makes it fail with ENOSYS), as in the parent, which has it.
TEST_F(OperationsTest, WithoutOpenat2TheWalkGivesTheSameAnswers) {
    const auto answers = [] {
        std::string text;
        for (const std::span<const Mapping> table :
             {std::span<const Mapping>(kCanonical), std::span<const Mapping>(kWeaklyCanonical)}) {
            for (const Mapping& row : table) {
                std::error_code ec;
                const path canonical = winfs::canonical(path(row.input), ec);
                text += canonical.string() + " " + std::to_string(ec.value()) + "; ";
                const path weakly = winfs::weakly_canonical(path(row.input), ec);
                text += weakly.string() + " " + std::to_string(ec.value()) + "; ";
                text += std::to_string(winfs::is_symlink(path(row.input), ec)) + "\n";
            }
        }
        return text;
    };
    const std::string withOpenat2 = answers();

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
            ::_exit(3);
        }
        if (!winfs::host::openLinkFree({-1, "/"}, winfs::host::LastLink::refuse)
                 .error()
                 .unsupported()) {
            ::_exit(4);
        }
        const std::string text = answers();
        const bool written =
            ::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 5);
    }
    ::close(out[1]);
    std::string withoutOpenat2;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        withoutOpenat2.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "3: no seccomp filter, 4: openat2 still there";
    EXPECT_EQ(withoutOpenat2, withOpenat2);
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
};
// clang-format on

class StatusQueries : public TreeTest<Status> {};

TEST_P(StatusQueries, TellTheTypeAndTakeMissingAsNoError) {
    const Status& row = GetParam();
    const path p(row.input);
    std::error_code ec;
    EXPECT_EQ(winfs::symlink_status(p, ec).type(), row.own);
    EXPECT_EQ(winfs::is_symlink(p, ec), row.own == file_type::symlink);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(winfs::is_symlink(p), row.own == file_type::symlink);

    EXPECT_EQ(winfs::status(p, ec).type(), row.followed);
    if (row.followed == file_type::none) {
        expectError(ec, 1921);
        EXPECT_THROW(winfs::status(p), winfs::filesystem_error);
        EXPECT_THROW(winfs::exists(p), winfs::filesystem_error);
        return;
    }
    EXPECT_EQ(winfs::exists(p, ec), row.followed != file_type::not_found);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(winfs::is_directory(p, ec), row.followed == file_type::directory);
    EXPECT_FALSE(ec) << ec.message();
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

std::string hostTarget(const std::string& link) {
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string("(no link)") : std::string(buffer, static_cast<std::size_t>(n));
}

TEST_F(OperationsTest, CreatedLinksAreHostLinksThatReadBack) {
    struct Row {
        const char* target;
        const char* link;
        const char* host;    // the link on the host, below drive C
        std::string stored;  // its target on the host
        const char* readBack;
        const char* resolved;  // empty: does not resolve
    };
    const Row rows[] = {
        {"c:\\zor\\store", "c:\\zor\\wabs", "zor/wabs", driveC("zor/store"), "C:\\zor\\store",
         "C:\\zor\\store"},
        {"\\zor\\store\\", "c:\\zor\\wroot", "zor/wroot", driveC("zor/store"), "C:\\zor\\store",
         "C:\\zor\\store"},
        {"..\\file.txt", "c:\\zor\\sub\\wrel", "zor/sub/wrel", "../file.txt", "..\\file.txt",
         "C:\\zor\\file.txt"},
        {"nowhere", "wdangling", "zor/wdangling", "nowhere", "nowhere", ""},
        // Stored as given; followed as Windows follows it, its ".." stopping at the drive's root.
        {"..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\outside", "c:\\zor\\esc", "zor/esc",
         "../../../../../../../../../../outside", "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\outside",
         "C:\\outside"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link);
        winfs::create_directory_symlink(path(row.target), path(row.link));
        EXPECT_EQ(hostTarget(driveC(row.host)), row.stored);
        EXPECT_EQ(winfs::read_symlink(path(row.link)).string(), row.readBack);
        EXPECT_TRUE(winfs::is_symlink(path(row.link)));
        std::error_code ec;
        EXPECT_EQ(winfs::canonical(path(row.link), ec).string(), row.resolved);
    }

    std::error_code ec;
    winfs::create_symlink(path("x"), path("c:\\zor\\FILE.TXT"), ec);  // taken in another case
    EXPECT_EQ(ec, std::error_code(183, winfs::system_category()));
    winfs::create_symlink(path("x"), path("c:\\zor\\nothere\\lnk"), ec);
    EXPECT_EQ(ec, std::error_code(3, winfs::system_category()));
}

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

// Names asked for in another case than the one on disk are looked up in a cache of the folder's
// names; each row changes c:\cache (holding file.txt and Mixed) between two lookups, which must see
// the change: through the process's cache, and through one that keeps every listing at once.
TEST_F(DriveFixture, CaseInsensitiveLookupsSeeEveryChangeToTheFolder) {
    const std::string folder = driveC("cache");
    const auto rename = [](const std::string& from, const std::string& to) {
        ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0) << from;
    };
    struct Row {
        const char* change;
        std::function<void()> apply;
        const char* input;
        const char* found;  // empty: not there
        // The cache alone, which the walk asks only when the name is not there as given.
        const char* cacheAlone = nullptr;
    };
    const Row rows[] = {
        {"none", [] {}, "MIXED", "Mixed"},
        {"a name added", [&] { makeFile(folder + "/Added"); }, "ADDED", "Added"},
        {"a name removed", [&] { std::filesystem::remove(folder + "/file.txt"); }, "FILE.TXT", ""},
        {"a name renamed in case", [&] { rename(folder + "/Mixed", folder + "/mIxed"); }, "MIXED",
         "mIxed"},
        // As tar and rsync leave it: only the change time tells.
        {"a name renamed, then the folder's times set back",
         [&] {
             struct stat before {};
             ASSERT_EQ(::stat(folder.c_str(), &before), 0);
             rename(folder + "/Mixed", folder + "/mIxed");
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
         },
         "MIXED", "mIxed"},
        // Among names that differ only in case: the one given, else the first byte by byte.
        {"a twin that sorts first", [&] { makeFolder(folder + "/MIXED"); }, "mixed", "MIXED"},
        {"a twin, asked for as it is", [&] { makeFolder(folder + "/MIXED"); }, "Mixed", "Mixed",
         "MIXED"},
        {"the folder replaced under its name",
         [&] {
             rename(folder, temp("old"));
             makeFolder(folder);
             makeFile(folder + "/Other");
         },
         "OTHER", "Other"},
        // Case as NTFS's uppercase table has it, unit by unit, not as the host's Unicode tables.
        {"y with diaeresis", [&] { makeFolder(folder + "/ÿ"); }, "Ÿ", "ÿ"},
        {"long s", [&] { makeFolder(folder + "/ſ"); }, "S", ""},
        {"dotless i", [&] { makeFolder(folder + "/ı"); }, "I", ""},
        {"Greek", [&] { makeFolder(folder + "/σίσυφος"); }, "ΣΊΣΥΦΟς", "σίσυφος"},
        {"final sigma", [&] { makeFolder(folder + "/σίσυφος"); }, "ΣΊΣΥΦΟΣ", ""},
        {"Georgian", [&] { makeFolder(folder + "/ა"); }, "Ა", ""},
        {"above U+FFFF", [&] { makeFolder(folder + "/𐐨"); }, "𐐀", ""},
        {"the folder replaced, asked for a name of the old one",
         [&] {
             std::filesystem::remove_all(folder);
             makeFolder(folder);
         },
         "file.TXT", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        for (const bool processCache : {true, false}) {
            SCOPED_TRACE(processCache ? "the process's cache" : "a cache that keeps every listing");
            std::filesystem::remove_all(folder);
            std::filesystem::remove_all(temp("old"));
            makeFolder(folder + "/Mixed");
            makeFile(folder + "/file.txt");
            winfs::NameCache keeping({.settle = std::chrono::nanoseconds(0)});
            std::error_code ec;
            std::string found;
            if (processCache) {
                EXPECT_EQ(winfs::canonical(path("c:\\cache\\FILE.TXT"), ec).string(),
                          "C:\\cache\\file.txt");
            } else {
                EXPECT_FALSE(keeping.find({-1, folder.c_str()}, "FILE.TXT", found));
                EXPECT_EQ(keeping.usage().folders, 1u);
                // Past the coarsest tick of a local clock, so that the change dates differently.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            row.apply();
            if (processCache) {
                const path result =
                    winfs::canonical(path("c:\\cache\\" + std::string(row.input)), ec);
                if (*row.found != '\0') {
                    EXPECT_EQ(result.string(), "C:\\cache\\" + std::string(row.found))
                        << ec.message();
                } else {
                    expectError(ec, 2);
                }
            } else {
                // Then again from the listing kept, which finds names by their folded key.
                for (const bool again : {false, true}) {
                    const std::uint64_t before = keeping.usage().foldersRead;
                    ec = keeping.find({-1, folder.c_str()}, row.input, found);
                    if (again) {
                        EXPECT_EQ(keeping.usage().foldersRead, before);
                    }
                    if (*row.found != '\0') {
                        EXPECT_FALSE(ec) << ec.message();
                        EXPECT_EQ(found, row.cacheAlone != nullptr ? row.cacheAlone : row.found);
                    } else {
                        expectError(ec, 2);
                    }
                }
            }
        }
    }
}

// A folder is read once while it stays as it is, but read on every lookup while its last change is
// too recent to tell from a later one in the same tick; the least recently used folders make room.
TEST_F(DriveFixture, TheNameCacheReadsAFolderOnlyWhenItMust) {
    for (const char* name : {"a", "b", "c"}) {
        makeFolder(temp(name));
        makeFile(temp(std::string(name) + "/one"));
        makeFile(temp(std::string(name) + "/two"));
    }
    const auto reads = [](winfs::NameCache& cache, const std::string& folder) {
        const std::uint64_t before = cache.usage().foldersRead;
        std::string found;
        EXPECT_FALSE(cache.find({-1, folder.c_str()}, "ONE", found));
        EXPECT_EQ(found, "one");
        return cache.usage().foldersRead - before;
    };
    winfs::NameCache recent({.settle = std::chrono::seconds(3)});
    EXPECT_EQ(reads(recent, temp("a")), 1u);
    EXPECT_EQ(reads(recent, temp("a")), 1u) << "changed within the settling time";
    EXPECT_EQ(recent.usage().folders, 0u);
    // By default the settling time is the file system's: a tenth of a second is past it on one
    // stamped in nanoseconds, as the temporary folder's file systems mostly are.
    struct statfs fs {};
    ASSERT_EQ(::statfs(temp().c_str(), &fs), 0);
    if (fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC || fs.f_type == XFS_SUPER_MAGIC ||
        fs.f_type == BTRFS_SUPER_MAGIC) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        winfs::NameCache byFileSystem;
        EXPECT_EQ(reads(byFileSystem, temp("a")), 1u);
        EXPECT_EQ(reads(byFileSystem, temp("a")), 0u) << "settled a tenth of a second after";
    }

    winfs::NameCache small({.maxNames = 5, .settle = std::chrono::nanoseconds(0)});
    EXPECT_EQ(reads(small, temp("a")), 1u);
    EXPECT_EQ(reads(small, temp("b")), 1u);
    EXPECT_EQ(reads(small, temp("a")), 0u);
    EXPECT_EQ(reads(small, temp("c")), 1u);  // drops b, used last before a
    EXPECT_EQ(reads(small, temp("a")), 0u);
    EXPECT_EQ(reads(small, temp("b")), 1u);
    EXPECT_EQ(small.usage().names, 4u);

    // A folder with no names still takes room: each weighs one name at least.
    for (int i = 0; i < 8; ++i) {
        const std::string empty = temp("empty" + std::to_string(i));
        makeFolder(empty);
        std::string found;
        EXPECT_EQ(small.find({-1, empty.c_str()}, "X", found),
                  winfs::make_error_code(winfs::ERROR_FILE_NOT_FOUND));
    }
    EXPECT_LE(small.usage().folders, 5u);

    // Among twins in case, a kept listing gives the one that sorts first, as its first reading.
    makeFolder(temp("twins"));
    for (const char* twin : {"twin", "Twin", "tWin", "twIn", "twiN", "TWIN", "tWIN", "TwIN"})
        makeFile(temp("twins/") + twin);
    winfs::NameCache keeping({.settle = std::chrono::nanoseconds(0)});
    for (int round = 0; round < 2; ++round) {
        std::string found;
        EXPECT_FALSE(keeping.find({-1, temp("twins").c_str()}, "TWIn", found));
        EXPECT_EQ(found, "TWIN") << "round " << round;
    }
    EXPECT_EQ(keeping.usage().foldersRead, 1u);
}

TEST(SystemCategory, GivesTheWindowsTextsAndConditions) {
    struct Row {
        int code;
        const char* text;
        std::errc condition;
    };
    const Row rows[] = {
        {2, "The system cannot find the file specified.", std::errc::no_such_file_or_directory},
        {3, "The system cannot find the path specified.", std::errc::no_such_file_or_directory},
        {4, "The system cannot open the file.", std::errc::too_many_files_open},
        {5, "Access is denied.", std::errc::permission_denied},
        {53, "The network path was not found.", std::errc::no_such_file_or_directory},
        {170, "The requested resource is in use.", std::errc::device_or_resource_busy},
        {183, "Cannot create a file when that file already exists.", std::errc::file_exists},
        {206, "The filename or extension is too long.", std::errc::filename_too_long},
        {123, "The filename, directory name, or volume label syntax is incorrect.",
         std::errc::no_such_file_or_directory},
        {267, "The directory name is invalid.", std::errc::not_a_directory},
        {1921, "The name of the file cannot be resolved by the system.",
         std::errc::too_many_symbolic_link_levels},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(winfs::system_category().message(row.code), row.text) << row.code;
        EXPECT_EQ(std::error_code(row.code, winfs::system_category()), row.condition) << row.code;
    }
    // A code without a condition of its own matches none.
    EXPECT_EQ(winfs::system_category().message(9999), "unknown error");
    EXPECT_NE(std::error_code(9999, winfs::system_category()), std::errc::permission_denied);
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

// The operations that change the disk and those that read sizes, times and identity, on the tree
// of buildTree() with three more files: data.txt ("hello"), old.txt (last written at 1e9 s after
// 1970) and the fifo pipe. Written as `fs::NAME`, as Windows code would call them.
namespace fs = winfs;

using Run = std::uintmax_t (*)(const std::string& tempOnZ, std::error_code& ec);

struct Change {
    const char* what;
    Run run;
    std::uintmax_t result;
    int error;
    // Below drive C, space separated: "+p" is there in that case, "-p" is not, "p:N" holds N
    // bytes, "p#M" has the host mode M (octal).
    const char* afterwards;
};

void PrintTo(const Change& c, std::ostream* os) {
    *os << c.what;
}

constexpr std::uintmax_t kFailed = static_cast<std::uintmax_t>(-1);
constexpr std::uintmax_t kReadOnly = 0555;

std::uintmax_t permsOf(const char* p) {
    return static_cast<std::uintmax_t>(fs::status(path(p)).permissions());
}

// clang-format off
const Change kChanges[] = {
    {"remove a file in another case", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\FILE.TXT"), ec); }, 1, 0, "-zor/file.txt"},
    {"remove what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\nothere"), ec); }, 0, 0, ""},
    {"remove below a missing folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\none\\x"), ec); }, 0, 0, ""},
    {"remove a folder that holds a name", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\store"), ec); }, 0, 145, "+zor/store/inner"},
    {"remove an empty folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\store\\inner\\"), ec); }, 1, 0, "-zor/store/inner +zor/store"},
    {"remove a link to a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\rel"), ec); }, 1, 0, "-zor/rel +zor/store/inner"},
    {"remove a dangling link", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\dangling"), ec); }, 1, 0, "-zor/dangling"},
    {"remove a device", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\nul"), ec); }, 0, 50, "+zor/nul"},
    {"remove a drive's root", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\"), ec); }, 0, 5, "+zor"},
    {"remove_all counts and keeps a link's target", [](auto&, auto& ec) { return fs::remove_all(path("c:\\zor\\SUB"), ec); }, 2, 0, "-zor/sub +zor/store/inner"},
    {"remove_all a tree", [](auto&, auto& ec) { return fs::remove_all(path("c:\\zor\\a"), ec); }, 3, 0, "-zor/a +zor/a\\b/f"},
    {"remove_all a link", [](auto&, auto& ec) { return fs::remove_all(path("c:\\zor\\rel"), ec); }, 1, 0, "-zor/rel +zor/store/inner"},
    {"remove_all what is not there", [](auto&, auto& ec) { return fs::remove_all(path("c:\\zor\\none"), ec); }, 0, 0, ""},
    {"remove_all a drive's root", [](auto&, auto& ec) { return fs::remove_all(path("c:\\"), ec); }, kFailed, 5, "+zor/file.txt"},
    {"rename replaces a file", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), ec); return 0; }, 0, 0, "-zor/data.txt zor/file.txt:5"},
    {"rename onto another case replaces that name", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\File.TXT"), ec); return 0; }, 0, 0, "-zor/data.txt -zor/file.txt zor/File.TXT:5"},
    {"rename of the case alone", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\file.txt"), path("c:\\zor\\FILE.txt"), ec); return 0; }, 0, 0, "-zor/file.txt +zor/FILE.txt"},
    {"rename onto a hard link of itself", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\twin"), ec); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\twin"), ec); return 0; }, 0, 0, "-zor/data.txt zor/twin:5"},
    {"rename a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\sub2"), ec); return 0; }, 0, 0, "-zor/sub +zor/sub2/up"},
    {"rename a folder onto a file", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\file.txt"), ec); return 0; }, 0, 5, "+zor/sub +zor/file.txt"},
    {"rename a file onto an empty folder", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\file.txt"), path("c:\\zor\\store\\INNER"), ec); return 0; }, 0, 5, "+zor/file.txt +zor/store/inner"},
    {"rename to another drive", [](auto& z, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\file.txt"), path(z + "\\moved"), ec); return 0; }, 0, 17, "+zor/file.txt"},
    {"rename to a name Windows forbids", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\file.txt"), path("c:\\zor\\a|b"), ec); return 0; }, 0, 123, "+zor/file.txt"},
    {"rename to a name too long for the host", [](auto&, auto& ec) -> std::uintmax_t {
        std::string name;
        for (int i = 0; i < 90; ++i) name += "\xe6\x97\xa5";  // 90 UTF-16 units, 270 bytes
        fs::rename(path("c:\\zor\\file.txt"), path("c:\\zor\\" + name), ec); return 0; }, 0, 206, "+zor/file.txt"},
    {"rename what is not there", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\none"), path("c:\\zor\\x"), ec); return 0; }, 0, 2, "-zor/x"},
    {"create_directory of a folder in another case", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\STORE"), ec); }, 0, 0, "-zor/STORE"},
    {"create_directory of a link to a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\rel"), ec); }, 0, 0, ""},
    {"create_directory with a file in the way", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\File.txt"), ec); }, 0, 183, "-zor/File.txt"},
    {"create_directory", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\new\\"), ec); }, 1, 0, "+zor/new"},
    {"create_directory below a missing folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\no\\new"), ec); }, 0, 3, "-zor/no"},
    {"create_directory of a name Windows forbids", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\a?b"), ec); }, 0, 123, "-zor/a?b"},
    {"create_directory of a name over 255 units", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\" + std::string(256, 'x')), ec); }, 0, 206, ""},
    {"create_directory after a missing model", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\new"), path("c:\\zor\\none"), ec); }, 0, 2, "-zor/new"},
    {"create_directory after a model", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\new"), path("c:\\zor\\store"), ec); }, 1, 0, "+zor/new"},
    {"create_hard_link", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\DATA.txt"), path("c:\\zor\\twin"), ec); return fs::hard_link_count(path("c:\\zor\\data.txt")); }, 2, 0, "zor/twin:5"},
    {"create_hard_link onto a name in another case", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\STORE"), ec); return 0; }, 0, 183, "-zor/STORE"},
    {"create_hard_link of a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\store"), path("c:\\zor\\twin"), ec); return 0; }, 0, 5, "-zor/twin"},
    {"create_hard_link to another drive", [](auto& z, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\data.txt"), path(z + "\\twin"), ec); return 0; }, 0, 17, ""},
    {"copy_file onto a file", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), ec); }, 0, 80, "zor/file.txt:0"},
    {"copy_file skipping a file", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), fs::copy_options::skip_existing, ec); }, 0, 0, "zor/file.txt:0"},
    {"copy_file over a file in another case", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\FILE.TXT"), fs::copy_options::overwrite_existing, ec); }, 1, 0, "zor/file.txt:5 -zor/FILE.TXT"},
    {"copy_file of a newer file", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\old.txt"), fs::copy_options::update_existing, ec); }, 1, 0, "zor/old.txt:5"},
    {"copy_file of an older file", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\old.txt"), path("c:\\zor\\data.txt"), fs::copy_options::update_existing, ec); }, 0, 0, "zor/data.txt:5"},
    {"copy_file onto itself", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\DATA.TXT"), fs::copy_options::overwrite_existing, ec); }, 0, 32, "zor/data.txt:5"},
    {"copy_file of a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\store"), path("c:\\zor\\x"), ec); }, 0, 5, "-zor/x"},
    {"copy_file with two options of a group", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\x"), fs::copy_options::skip_existing | fs::copy_options::overwrite_existing, ec); }, 0, 87, "-zor/x"},
    {"copy_file keeps the read-only attribute", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\data.txt"), fs::perms::owner_write, fs::perm_options::remove); fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\x"), ec); return permsOf("c:\\zor\\x"); }, kReadOnly, 0, "zor/x:5 zor/x#444"},
    {"copy a tree", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive, ec); return 0; }, 0, 0, "+zor/acopy/b/f"},
    {"copy a folder without options", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\store"), path("c:\\zor\\scopy"), ec); return 0; }, 0, 0, "+zor/scopy -zor/scopy/inner"},
    {"copy a folder onto a file", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\store"), path("c:\\zor\\file.txt"), ec); return 0; }, 0, 183, ""},
    {"copy a file into a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\data.txt"), path("c:\\zor\\store"), ec); return 0; }, 0, 0, "zor/store/data.txt:5"},
    {"copy a file onto itself", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\data.txt"), path("c:\\zor\\Data.txt"), ec); return 0; }, 0, 80, ""},
    {"copy a link as a link", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\rel"), path("c:\\zor\\rel2"), fs::copy_options::copy_symlinks, ec); return fs::is_symlink(path("c:\\zor\\rel2")); }, 1, 0, "+zor/rel2"},
    {"copy skipping a link", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\rel"), path("c:\\zor\\rel2"), fs::copy_options::skip_symlinks, ec); return 0; }, 0, 0, "-zor/rel2"},
    {"copy a file as a hard link", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\data.txt"), path("c:\\zor\\twin"), fs::copy_options::create_hard_links, ec); return fs::hard_link_count(path("c:\\zor\\twin")); }, 2, 0, "zor/twin:5"},
    {"copy a fifo", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\pipe"), path("c:\\zor\\x"), ec); return 0; }, 0, 50, "-zor/x"},
    {"copy onto a device", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\data.txt"), path("c:\\zor\\NUL"), ec); return 0; }, 0, 50, "zor/data.txt:5"},
    {"copy_symlink", [](auto&, auto& ec) -> std::uintmax_t { fs::copy_symlink(path("c:\\zor\\sub\\up"), path("c:\\zor\\store\\up2"), ec); return fs::equivalent(path("c:\\zor\\store\\up2"), path("c:\\zor\\store")); }, 1, 0, "+zor/store/up2"},
    {"copy_symlink of a file", [](auto&, auto& ec) -> std::uintmax_t { fs::copy_symlink(path("c:\\zor\\file.txt"), path("c:\\zor\\x"), ec); return 0; }, 0, 4390, "-zor/x"},
    {"resize_file", [](auto&, auto& ec) -> std::uintmax_t { fs::resize_file(path("c:\\zor\\lexi"), 3, ec); return 0; }, 0, 0, "zor/file.txt:3"},
    {"resize_file of a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::resize_file(path("c:\\zor\\store"), 3, ec); return 0; }, 0, 5, ""},
    {"permissions: remove a write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::others_write, fs::perm_options::remove, ec); return permsOf("c:\\zor\\file.txt"); }, kReadOnly, 0, "zor/file.txt#444"},
    {"permissions: replace with no write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::all & ~fs::perms::owner_write & ~fs::perms::group_write & ~fs::perms::others_write, ec); return permsOf("c:\\zor\\file.txt"); }, kReadOnly, 0, "zor/file.txt#444"},
    {"permissions: add a write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, ec); fs::permissions(path("c:\\zor\\file.txt"), fs::perms::group_write, fs::perm_options::add, ec); return permsOf("c:\\zor\\file.txt"); }, 0777, 0, "zor/file.txt#644"},
    {"permissions: add no write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::owner_exec, fs::perm_options::add, ec); return permsOf("c:\\zor\\file.txt"); }, 0777, 0, "zor/file.txt#644"},
    {"permissions of a folder", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); return permsOf("c:\\zor\\store"); }, 0777, 0, "zor/store#755"},
    {"permissions of a link itself", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, fs::perm_options::replace | fs::perm_options::nofollow, ec); return 0; }, 0, 50, "zor/file.txt#644"},
    {"permissions through a link", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, ec); return permsOf("c:\\zor\\file.txt"); }, kReadOnly, 0, "zor/file.txt#444"},
    {"permissions with two options", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, fs::perm_options::add | fs::perm_options::remove, ec); return 0; }, 0, 87, "zor/file.txt#644"},
    {"permissions of what is not there", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\none"), fs::perms::none, ec); return 0; }, 0, 2, ""},
    {"last_write_time set", [](auto&, auto& ec) -> std::uintmax_t { const auto t = fs::file_time_type(fs::file_time_type::duration(123'456'789'012'345'678)); fs::last_write_time(path("c:\\zor\\rel"), t, ec); return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\store")).time_since_epoch().count()); }, 123'456'789'012'345'678, 0, ""},
    {"last_write_time set of what is not there", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\none"), fs::file_time_type(), ec); return 0; }, 0, 2, "-zor/none"},
};
// clang-format on

class ChangeTest : public OperationsTest {
  protected:
    void SetUp() override {
        OperationsTest::SetUp();
        const std::string data = driveC("zor/data.txt");
        std::FILE* file = std::fopen(data.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("hello", file);
        std::fclose(file);
        makeFile(driveC("zor/old.txt"));
        const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, driveC("zor/old.txt").c_str(), times, 0), 0);
        ASSERT_EQ(::mkfifo(driveC("zor/pipe").c_str(), 0644), 0);
        ::chmod(driveC("zor/file.txt").c_str(), 0644);
        ::chmod(driveC("zor/store").c_str(), 0755);
    }

    // Each "+p", "-p", "p:N" and "p#M" of `afterwards`.
    void expectState(const std::string& afterwards) const {
        std::istringstream words(afterwards);
        for (std::string word; words >> word;) {
            struct stat st {};
            const std::size_t mark = word.find_first_of(":#");
            const char kind = word[0] == '+' || word[0] == '-' ? word[0] : word[mark];
            const std::string below =
                kind == '+' || kind == '-' ? word.substr(1) : word.substr(0, mark);
            const bool there = ::lstat(driveC(below).c_str(), &st) == 0;
            EXPECT_EQ(there, kind != '-') << word;
            if (kind == ':') {
                EXPECT_EQ(std::to_string(st.st_size), word.substr(mark + 1)) << word;
            }
            if (kind == '#') {
                EXPECT_EQ(std::to_string(st.st_mode & 0777),
                          std::to_string(std::stoi(word.substr(mark + 1), nullptr, 8)))
                    << word;
            }
        }
    }
};

class Changes : public ChangeTest, public testing::WithParamInterface<Change> {};

TEST_P(Changes, GiveWindowsResultsAndLeaveTheDiskAsWindowsWould) {
    const Change& row = GetParam();
    std::error_code ec;
    const std::uintmax_t result = row.run(throughZ(temp()), ec);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
    }
    EXPECT_EQ(result, row.result);
    expectState(row.afterwards);
}

INSTANTIATE_TEST_SUITE_P(Drives, Changes, testing::ValuesIn(kChanges));

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

// clang-format off
const Query kQueries[] = {
    {"file_size", [](auto&, auto& ec) { return fs::file_size(path("c:\\ZOR\\data.txt"), ec); }, 5, 0},
    {"file_size through a link", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\lexi"), ec); }, 0, 0},
    {"file_size of a folder", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\store"), ec); }, kFailed, 50},
    {"file_size of a device", [](auto&, auto& ec) { return fs::file_size(path("nul"), ec); }, kFailed, 50},
    {"file_size of what is not there", [](auto&, auto& ec) { return fs::file_size(path("c:\\zor\\none"), ec); }, kFailed, 2},
    {"hard_link_count", [](auto&, auto& ec) { return fs::hard_link_count(path("c:\\zor\\file.txt"), ec); }, 1, 0},
    {"hard_link_count of what is not there", [](auto&, auto& ec) { return fs::hard_link_count(path("c:\\none\\x"), ec); }, kFailed, 3},
    {"equivalent through a link and another case", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\rel\\inner"), path("C:\\ZOR\\STORE\\INNER"), ec); }, 1, 0},
    {"equivalent of two files", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\file.txt"), path("c:\\zor\\old.txt"), ec); }, 0, 0},
    {"equivalent of a file and a missing path", [](auto&, auto& ec) -> std::uintmax_t { return fs::equivalent(path("c:\\zor\\file.txt"), path("c:\\zor\\none"), ec); }, 0, 2},
    {"is_empty of an empty folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\store\\inner"), ec); }, 1, 0},
    {"is_empty of a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\rel"), ec); }, 0, 0},
    {"is_empty of an empty file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\file.txt"), ec); }, 1, 0},
    {"is_empty of a file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\data.txt"), ec); }, 0, 0},
    {"is_empty of what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_empty(path("c:\\zor\\none"), ec); }, 0, 2},
    {"is_fifo", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_fifo(path("c:\\zor\\PIPE"), ec); }, 1, 0},
    {"is_other", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_other(path("c:\\zor\\pipe"), ec); }, 1, 0},
    {"is_other of a file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_other(path("c:\\zor\\file.txt"), ec); }, 0, 0},
    {"is_character_file", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_character_file(path("z:\\dev\\null"), ec); }, 1, 0},
    {"is_socket of what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_socket(path("c:\\zor\\none"), ec); }, 0, 0},
    {"is_block_file of a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::is_block_file(path("c:\\zor"), ec); }, 0, 0},
    {"last_write_time in FILETIME ticks", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\old.txt"), ec).time_since_epoch().count()); }, kOldTicks, 0},
    {"last_write_time to system_clock", [](auto&, auto& ec) { const auto sys = fs::file_time_type::clock::to_sys(fs::last_write_time(path("c:\\zor\\old.txt"), ec)); return static_cast<std::uintmax_t>(std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count()); }, 1'000'000'000, 0},
    {"last_write_time of what is not there", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\none"), ec) == fs::file_time_type::min()); }, 1, 2},
    {"space", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::space(path("z:\\"), ec).capacity == rootCapacity()); }, 1, 0},
    {"space of what is not there", [](auto&, auto& ec) { return fs::space(path("c:\\zor\\none"), ec).available; }, kFailed, 2},
    {"status of a read-only file", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, ec); return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\FILE.TXT"), ec).permissions()); }, kReadOnly, 0},
    {"symlink_status of a link to a read-only file", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, ec); return static_cast<std::uintmax_t>(fs::symlink_status(path("c:\\zor\\lexi"), ec).permissions()); }, 0777, 0},
    {"directory_entry of what is not there", [](auto&, auto& ec) -> std::uintmax_t { return fs::directory_entry(path("c:\\zor\\none"), ec).exists(); }, 0, 0},
    {"directory_entry of a link to a folder", [](auto&, auto& ec) -> std::uintmax_t { const fs::directory_entry e(path("c:\\zor\\REL"), ec); return e.is_directory() + 2 * e.is_symlink(); }, 3, 0},
    {"directory_entry of a dangling link", [](auto&, auto& ec) -> std::uintmax_t { const fs::directory_entry e(path("c:\\zor\\dangling")); return e.exists(ec) + 2 * e.is_symlink(); }, 2, 0},
    {"directory_entry::replace_filename", [](auto&, auto& ec) -> std::uintmax_t { fs::directory_entry e(path("c:\\zor\\file.txt")); e.replace_filename(path("store"), ec); return e.is_directory() + 2 * e.is_regular_file(); }, 1, 0},
    {"directory_entry::file_size", [](auto&, auto& ec) { return fs::directory_entry(path("c:\\zor\\DATA.txt")).file_size(ec); }, 5, 0},
    {"directory_entry::hard_link_count of what is not there", [](auto&, auto& ec) { return fs::directory_entry(path("c:\\zor\\none")).hard_link_count(ec); }, kFailed, 2},
    {"directory_entry::status of what is not there", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::directory_entry(path("c:\\zor\\none")).status(ec).type() == fs::file_type::not_found); }, 1, 2},
    // What the listing told holds until refresh(): the folder is gone meanwhile.
    {"directory_entry keeps the listing's type", [](auto&, auto& ec) -> std::uintmax_t { fs::directory_entry e = *fs::directory_iterator(path("c:\\zor\\store")); fs::remove(path("c:\\zor\\store\\inner")); const bool before = e.is_directory(); e.refresh(ec); return before + 2 * e.exists(); }, 1, 0},
    {"directory_entry of a fifo from a listing", [](auto&, auto& ec) -> std::uintmax_t { for (const fs::directory_entry& e : fs::directory_iterator(path("c:\\zor"))) { if (e.path().filename() == path("pipe")) return e.is_other(ec) + 2 * e.is_fifo(); } return 0; }, 3, 0},
    {"status of what is not there", [](auto&, auto& ec) { return static_cast<std::uintmax_t>(fs::status(path("c:\\zor\\none"), ec).permissions()); }, 0xFFFF, 2},
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

// Listings, on the tree of buildTree() with two more folders:
//   order\ holding names that show NTFS's index order, and "q?", which Windows cannot write;
//   rec\{a.txt, B\c\{f, up -> ../..}, B\d\, lnk -> B/c, x\y}, for descents.
// An entry is written as its name, then '/' for a folder and '@' for a link, as the entry tells.
// Where a row names a folder to deny, the folder loses every permission bit and the thread the
// capabilities that pass them by, so that a listing as root is refused as another user's is.
class PermissionsApply {
  public:
    PermissionsApply() {
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
        held_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~PermissionsApply() {
        if (held_) ::syscall(SYS_capset, &header_, saved_);
    }
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool held_ = false;
};

template <class Row>
class ListingTest : public TreeTest<Row> {
  protected:
    void SetUp() override {
        TreeTest<Row>::SetUp();
        this->makeFolder(this->driveC("order"));
        for (const char* name :
             {"~t", "_x", "Z", "z", "b", "a1", "A", "\xc3\xa9", "\xc4\x80", "\xc3\xbf", "\xc5\xbf",
              "\xf0\x90\x90\xa8", "\xee\x80\x80", "\xef\xbd\x81", "q?"}) {
            this->makeFile(this->driveC("order/") + name);
        }
        this->makeFolder(this->driveC("rec/B/c"));
        this->makeFolder(this->driveC("rec/B/d"));
        this->makeFolder(this->driveC("rec/x"));
        for (const char* file : {"rec/a.txt", "rec/B/c/f", "rec/x/y"})
            this->makeFile(this->driveC(file));
        this->hostLink("../..", this->driveC("rec/B/c/up"));
        this->hostLink("B/c", this->driveC("rec/lnk"));
    }
    void TearDown() override {
        ::chmod(this->driveC("rec/x").c_str(), 0755);
        TreeTest<Row>::TearDown();
    }
    // Takes every permission from `folder` (below drive C) for as long as `apply` lives.
    std::optional<PermissionsApply> deny(const char* folder) {
        if (folder == nullptr) return std::nullopt;
        EXPECT_EQ(::chmod(this->driveC(folder).c_str(), 0), 0);
        return std::make_optional<PermissionsApply>();
    }
};

std::string shown(const fs::directory_entry& entry) {
    return entry.path().filename().string() + (entry.is_symlink()     ? "@"
                                               : entry.is_directory() ? "/"
                                                                      : "");
}

struct Listed {
    const char* folder;
    fs::directory_options options;
    const char* deny;      // a folder below drive C that may not be read, or none
    const char* expected;  // the entries, space separated
    const char* first;     // the first entry's path, when there is one to check
    int error;
};

void PrintTo(const Listed& l, std::ostream* os) {
    *os << '"' << l.folder << '"';
}

constexpr auto kNoOptions = fs::directory_options::none;
constexpr auto kSkip = fs::directory_options::skip_permission_denied;
constexpr auto kFollow = fs::directory_options::follow_directory_symlink;

// clang-format off
const Listed kListings[] = {
    {"c:\\zor", kNoOptions, nullptr, "a/ abs@ absdots@ badabs@ badrel@ bsl@ dangling@ file.txt hop@ lexi@ loop1@ loop2@ Mixed/ mIXED/ nul/ out@ rel@ store/ sub/ tonul@ upper@ \xc3\x89t\xc3\xa9/", "c:\\zor\\a", 0},
    // Each unit through the table ("ÿ" is U+0178, after "Ā"; "ſ" stays), then unit by unit: U+10428
    // is two surrogates, before U+E000 and "ａ" (U+FF21). "Z" and "z" side by side in byte order.
    {"c:\\order\\", kNoOptions, nullptr, "A a1 b Z z _x ~t \xc3\xa9 \xc4\x80 \xc3\xbf \xc5\xbf \xf0\x90\x90\xa8 \xee\x80\x80 \xef\xbd\x81", "c:\\order\\A", 0},
    {"C:\\ZOR\\STORE", kNoOptions, nullptr, "inner/", "C:\\ZOR\\STORE\\inner", 0},
    {"c:\\zor\\store\\..\\rel", kNoOptions, nullptr, "inner/", "c:\\zor\\store\\..\\rel\\inner", 0},
    {"store", kNoOptions, nullptr, "inner/", "store\\inner", 0},
    {"c:\\", kNoOptions, nullptr, "chain/ order/ outside/ rec/ up@ zor/", "c:\\chain", 0},
    {"c:\\zor\\store\\inner", kNoOptions, nullptr, "", nullptr, 0},
    {"c:\\zor\\none", kNoOptions, nullptr, "", nullptr, 3},
    {"c:\\none\\x", kNoOptions, nullptr, "", nullptr, 3},
    {"c:\\zor\\dangling", kNoOptions, nullptr, "", nullptr, 3},
    {"c:\\zor\\file.txt", kNoOptions, nullptr, "", nullptr, 267},
    {"c:\\zor\\loop1", kNoOptions, nullptr, "", nullptr, 1921},
    {"c:\\zor\\nul", kNoOptions, nullptr, "", nullptr, 50},
    {"", kNoOptions, nullptr, "", nullptr, 2},
    {"c:\\rec\\x", kNoOptions, "rec/x", "", nullptr, 5},
    {"c:\\rec\\x", kSkip, "rec/x", "", nullptr, 0},
};
// clang-format on

class Listings : public ListingTest<Listed> {};

TEST_P(Listings, ComeInIndexOrderWithTheirTypes) {
    const Listed& row = GetParam();
    const auto denied = deny(row.deny);
    std::error_code ec;
    std::string got;
    fs::directory_iterator it(path(row.folder), row.options, ec);
    if (it != fs::directory_iterator() && row.first != nullptr) {
        EXPECT_EQ(it->path().string(), row.first);
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        got += (got.empty() ? "" : " ") + shown(*it);
    EXPECT_EQ(got, row.expected);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
        expectThrows(
            [&](const path& p) {
                const fs::directory_iterator opened{p, row.options};
            },
            row.folder, row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Listings, testing::ValuesIn(kListings));

struct Descended {
    const char* folder;
    fs::directory_options options;
    const char* deny;
    const char* at;        // the entry where `act` is done
    char act;              // 'p': pop(); 'd': disable_recursion_pending()
    const char* expected;  // "depth:entry", space separated
    int error;
};

void PrintTo(const Descended& d, std::ostream* os) {
    *os << '"' << d.folder << "\" " << static_cast<unsigned>(d.options) << ' '
        << (d.at != nullptr ? d.at : "") << d.act;
}

// clang-format off
const Descended kDescents[] = {
    {"c:\\rec", kNoOptions, nullptr, nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    // Links entered; up leads back to c:\rec, which the descent is inside: given, not entered.
    {"c:\\rec", kFollow, nullptr, nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 1:f 1:up@ 0:x/ 1:y", 0},
    {"c:\\REC\\lnk", kNoOptions, nullptr, nullptr, 0, "0:f 0:up@", 0},
    {"c:\\rec", kNoOptions, nullptr, "c", 'p', "0:a.txt 0:B/ 1:c/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, nullptr, "f", 'p', "0:a.txt 0:B/ 1:c/ 2:f 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, nullptr, "a.txt", 'p', "0:a.txt", 0},
    {"c:\\rec", kNoOptions, nullptr, "B", 'd', "0:a.txt 0:B/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kFollow, nullptr, "lnk", 'd', "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, "rec/x", nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/", 5},
    {"c:\\rec", kSkip, "rec/x", nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/", 0},
    {"c:\\rec\\x", kSkip, "rec/x", nullptr, 0, "", 0},
    {"c:\\rec\\none\\x", kNoOptions, nullptr, nullptr, 0, "", 3},
    {"c:\\rec\\a.txt", kNoOptions, nullptr, nullptr, 0, "", 267},
};
// clang-format on

class Descents : public ListingTest<Descended> {};

TEST_P(Descents, EnterFoldersDepthFirst) {
    const Descended& row = GetParam();
    const auto denied = deny(row.deny);
    std::error_code ec;
    std::string got;
    fs::recursive_directory_iterator it(path(row.folder), row.options, ec);
    while (!ec && it != fs::recursive_directory_iterator()) {
        EXPECT_EQ(it.options(), row.options);
        got += (got.empty() ? "" : " ") + std::to_string(it.depth()) + ":" + shown(*it);
        if (row.at != nullptr && it->path().filename() == path(row.at)) {
            if (row.act == 'p') {
                it.pop(ec);
                continue;
            }
            it.disable_recursion_pending();
            EXPECT_FALSE(it.recursion_pending());
        }
        it.increment(ec);
    }
    EXPECT_EQ(got, row.expected);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Descents, testing::ValuesIn(kDescents));

// The throwing forms, and the types, under the names Windows code uses with std::filesystem.
TEST_F(ChangeTest, TheWholeSurfaceCompilesAsFsNames) {
    const path zor("c:\\zor");
    EXPECT_TRUE(fs::create_directory(zor / "d"));
    EXPECT_TRUE(fs::create_directory(zor / "e", zor / "d"));
    fs::copy(zor / "data.txt", zor / "d");
    fs::copy(zor / "d", zor / "f", fs::copy_options::recursive);
    EXPECT_TRUE(fs::copy_file(zor / "data.txt", zor / "c1"));
    EXPECT_FALSE(fs::copy_file(zor / "data.txt", zor / "c1", fs::copy_options::skip_existing));
    fs::copy_symlink(zor / "rel", zor / "rel2");
    fs::create_hard_link(zor / "c1", zor / "c2");
    EXPECT_TRUE(fs::equivalent(zor / "c1", zor / "C2"));
    EXPECT_EQ(fs::hard_link_count(zor / "c1"), 2U);
    fs::resize_file(zor / "c1", 7);
    EXPECT_EQ(fs::file_size(zor / "f" / "data.txt"), 5U);
    EXPECT_FALSE(fs::is_empty(zor / "c2"));
    EXPECT_FALSE(fs::is_block_file(zor) || fs::is_character_file(zor) || fs::is_socket(zor));
    EXPECT_TRUE(fs::is_fifo(zor / "pipe") && fs::is_other(zor / "pipe"));
    const fs::file_time_type now = fs::file_time_type::clock::now();
    fs::last_write_time(zor / "c1", now);
    EXPECT_EQ(fs::last_write_time(zor / "c2"), now);
    fs::permissions(zor / "c1", fs::perms::owner_write, fs::perm_options::remove);
    fs::permissions(zor / "c1", fs::perms::owner_write | fs::perms::owner_read);
    const fs::file_status s = fs::status(zor / "c1");
    EXPECT_EQ(s, fs::file_status(fs::file_type::regular, fs::perms::all));
    EXPECT_TRUE(fs::status_known(s));
    fs::rename(zor / "c2", zor / "c3");
    EXPECT_TRUE(fs::remove(zor / "c3"));
    EXPECT_EQ(fs::remove_all(zor / "f"), 2U);
    const fs::space_info room = fs::space(zor);
    EXPECT_LE(room.available, room.capacity);
    EXPECT_EQ(fs::hash_value(zor), std::hash<path>()(zor));
    const fs::perm_options nofollow = fs::perm_options::replace | fs::perm_options::nofollow;
    EXPECT_NE(nofollow & fs::perm_options::nofollow, fs::perm_options{});

    // Copies share one position; range-for takes the iterators through begin() and end().
    fs::directory_iterator listing(zor / "store", fs::directory_options::none);
    const fs::directory_iterator copy = listing;
    EXPECT_EQ((*copy).path(), zor / "store" / "inner");
    EXPECT_EQ(++listing, fs::directory_iterator());
    std::size_t names = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(zor)) {
        EXPECT_EQ(entry, fs::directory_entry(entry.path()));
        EXPECT_LT(fs::directory_entry(zor / "a"), fs::directory_entry(zor / "b"));
        ++names;
    }
    EXPECT_GT(names, 20U);
    for (fs::recursive_directory_iterator it(zor / "sub",
                                             fs::directory_options::follow_directory_symlink |
                                                 fs::directory_options::skip_permission_denied);
         it != fs::end(it); ++it) {
        EXPECT_EQ(it.depth(), it->path().filename() == path("inner") ? 1 : 0);
        EXPECT_TRUE(it.recursion_pending());
    }
    EXPECT_EQ(std::ranges::distance(fs::recursive_directory_iterator(zor / "a")), 2);
    fs::recursive_directory_iterator tree(zor / "a");
    tree.pop();
    EXPECT_EQ(tree, fs::recursive_directory_iterator());
    try {
        const fs::recursive_directory_iterator none(zor / "none");
        ADD_FAILURE() << "no exception";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(e.path1(), zor / "none");
        EXPECT_NE(std::string(e.what()).find(": The system cannot find the path specified."),
                  std::string::npos)
            << e.what();
    }

    try {
        fs::rename(zor / "c1", path("z:\\x"));
        ADD_FAILURE() << "no exception";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::errc::cross_device_link);
        EXPECT_EQ(e.path2().string(), "z:\\x");
        EXPECT_NE(std::string(e.what()).find(
                      "rename: The system cannot move the file to a different disk drive."),
                  std::string::npos)
            << e.what();
    }
    try {
        fs::copy_file(zor / "data.txt", zor / "C1");
        ADD_FAILURE() << "no exception";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::errc::file_exists);
        EXPECT_EQ(e.code().message(), "The file exists.");
    }
}

}  // namespace
