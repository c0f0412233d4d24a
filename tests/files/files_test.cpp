// Files opened by their Windows paths: open_file's dispositions and answers, the streams' and
// fopen's modes, and the sharing that every open, remove, rename and copy asks of the others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>

#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "tree_fixture.h"

using winfs::path;

namespace {

using fs::file_access;
using fs::file_disposition;
using fs::file_share;

struct Open {
    const char* what;
    Run run;
    std::uintmax_t result;
    int error;
    const char* afterwards;  // as in the changes' table: "+p", "-p", "p:N", "p#M" below drive C
};

void PrintTo(const Open& o, std::ostream* os) {
    *os << o.what;
}

// open_file's answer: 1 when the file was there (ERROR_ALREADY_EXISTS after the open), 0 when it
// made it, kFailed when it failed; `text` written when given.
std::uintmax_t opened(const char* p, file_access access, file_disposition disposition,
                      std::error_code& ec, const char* text = nullptr) {
    fs::file file = fs::open_file(path(p), access, disposition, ec);
    if (ec) return kFailed;
    if (text != nullptr) file.write(text, std::char_traits<char>::length(text));
    return file.existed() ? 1 : 0;
}

// The bytes that reading the file gives, or kFailed.
std::uintmax_t bytesRead(const char* p, std::error_code& ec) {
    fs::file file = fs::open_file(path(p), file_access::read, file_disposition::open_existing, ec);
    if (ec) return kFailed;
    char buffer[64];
    std::uintmax_t total = 0;
    for (std::size_t n; (n = file.read(buffer, sizeof buffer)) > 0;)
        total += n;
    return total;
}

// bytesRead() once the folders on the way have settled and a lookup of `p` has read and kept
// their listings, which an open in another case then asks.
std::uintmax_t bytesReadListed(const char* p, std::error_code& ec) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    (void)fs::exists(path(p), ec);
    return bytesRead(p, ec);
}

void hostFile(const char* name, const char* text) {
    std::FILE* file = std::fopen(name, "wx");
    ASSERT_NE(file, nullptr) << name;
    std::fputs(text, file);
    std::fclose(file);
}

constexpr auto kWrites = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
constexpr auto R = file_access::read;
constexpr auto W = file_access::write;
constexpr auto RW = file_access::read_write;
constexpr auto A = file_access::append;
constexpr auto kNew = file_disposition::create_new;
constexpr auto kAlways = file_disposition::create_always;
constexpr auto kExisting = file_disposition::open_existing;
constexpr auto kOpenAlways = file_disposition::open_always;
constexpr auto kTruncate = file_disposition::truncate_existing;

// clang-format off
const Open kOpens[] = {
    {"open a file in another case", [](auto&, auto& ec) { return opened("c:\\ZOR\\DATA.TXT", R, kExisting, ec); }, 1, 0, "zor/data.txt:5 -zor/DATA.TXT"},
    {"a new file keeps the case written", [](auto&, auto& ec) { return opened("c:\\zor\\New.Txt", W, kNew, ec, "abc"); }, 0, 0, "zor/New.Txt:3 -zor/new.txt"},
    {"create_always in another case cuts the file there and makes no twin", [](auto&, auto& ec) { return opened("c:\\zor\\Data.TXT", W, kAlways, ec); }, 1, 0, "zor/data.txt:0 -zor/Data.TXT"},
    {"create_always with read access alone still cuts", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt", R, kAlways, ec); }, 1, 0, "zor/data.txt:0"},
    {"open_always of a missing file makes it", [](auto&, auto& ec) { return opened("c:\\zor\\made.txt", RW, kOpenAlways, ec); }, 0, 0, "zor/made.txt:0"},
    {"open_always of a file there keeps it", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt", RW, kOpenAlways, ec); }, 1, 0, "zor/data.txt:5"},
    {"append writes at the end", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt", A, kOpenAlways, ec, "!!"); }, 1, 0, "zor/data.txt:7"},
    {"write writes at the start", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt", W, kExisting, ec, "J"); }, 1, 0, "zor/data.txt:5"},
    {"truncate_existing cuts", [](auto&, auto& ec) { return opened("c:\\zor\\DATA.txt", W, kTruncate, ec); }, 1, 0, "zor/data.txt:0"},
    {"truncate_existing without write access", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt", R, kTruncate, ec); }, kFailed, 87, "zor/data.txt:5"},
    {"truncate_existing of a missing file", [](auto&, auto& ec) { return opened("c:\\zor\\none.txt", W, kTruncate, ec); }, kFailed, 2, "-zor/none.txt"},
    {"open_existing of a missing file", [](auto&, auto& ec) { return opened("c:\\zor\\none.txt", R, kExisting, ec); }, kFailed, 2, "-zor/none.txt"},
    {"a missing folder on the way", [](auto&, auto& ec) { return opened("c:\\zor\\none\\x.txt", W, kAlways, ec); }, kFailed, 3, "-zor/none"},
    {"a file on the way", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt\\x.txt", W, kAlways, ec); }, kFailed, 3, "zor/data.txt:5"},
    {"a folder opened as a file", [](auto&, auto& ec) { return opened("c:\\zor\\STORE", R, kExisting, ec); }, kFailed, 5, "+zor/store/inner"},
    {"a folder made over", [](auto&, auto& ec) { return opened("c:\\zor\\store", W, kAlways, ec); }, kFailed, 5, "+zor/store/inner"},
    {"create_new on a file there, in another case", [](auto&, auto& ec) { return opened("c:\\zor\\DATA.TXT", W, kNew, ec); }, kFailed, 80, "zor/data.txt:5 -zor/DATA.TXT"},
    {"a file with the read-only attribute, for writing", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\data.txt"), kWrites, fs::perm_options::remove); return opened("c:\\zor\\data.txt", W, kExisting, ec); }, kFailed, 5, "zor/data.txt:5"},
    {"a file with the read-only attribute, made over", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\data.txt"), kWrites, fs::perm_options::remove); return opened("c:\\zor\\data.txt", W, kAlways, ec); }, kFailed, 5, "zor/data.txt:5"},
    {"a file with the read-only attribute, appended to", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\data.txt"), kWrites, fs::perm_options::remove); return opened("c:\\zor\\data.txt", A, kOpenAlways, ec); }, kFailed, 5, "zor/data.txt:5"},
    {"a file with the read-only attribute, for reading", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\data.txt"), kWrites, fs::perm_options::remove); return bytesRead("c:\\zor\\data.txt", ec); }, 5, 0, "zor/data.txt:5"},
    {"a new file in a folder with the read-only attribute", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\store"), kWrites, fs::perm_options::remove); return opened("c:\\zor\\store\\new", W, kNew, ec); }, 0, 0, "+zor/store/new"},
    {"a name Windows forbids", [](auto&, auto& ec) { return opened("c:\\zor\\a<b", W, kAlways, ec); }, kFailed, 123, "-zor/a<b"},
    {"a colon outside a stream's form", [](auto&, auto& ec) { return opened("c:\\zor\\a:b:c", W, kAlways, ec); }, kFailed, 123, "-zor/a:b:c"},
    {"a stream of a file", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt:s", R, kExisting, ec); }, kFailed, 2, ""},
    {"the file's own data stream", [](auto&, auto& ec) { return bytesRead("c:\\zor\\data.txt::$DATA", ec); }, 5, 0, ""},
    {"a name over 255 units", [](auto&, auto& ec) { return opened(("c:\\zor\\" + std::string(256, 'x')).c_str(), W, kAlways, ec); }, kFailed, 206, ""},
    {"a path past 32,767 units", [](auto&, auto& ec) { std::string p = "c:\\zor"; while (p.size() <= 32767) p += "\\" + std::string(200, 'x'); return opened(p.c_str(), W, kAlways, ec); }, kFailed, 206, ""},
    {"a path of 260 units without long paths", [](auto&, auto& ec) { LegacyPaths legacy; return opened(deepPath(260).c_str(), W, kAlways, ec); }, kFailed, 3, ""},
    {"a separator after a file's name", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt\\", R, kExisting, ec); }, kFailed, 123, ""},
    {"trailing dots and spaces dropped", [](auto&, auto& ec) { return bytesRead("c:\\zor\\data.txt. .", ec); }, 5, 0, ""},
    {"after \\\\?\\ a name as written", [](auto&, auto& ec) { hostFile("trail.", "abc"); return bytesRead("\\\\?\\C:\\zor\\trail.", ec); }, 3, 0, "zor/trail.:3"},
    {"after \\\\?\\ \"..\" is a name, not the folder above", [](auto&, auto& ec) { return opened("\\\\?\\C:\\zor\\store\\..\\data.txt", R, kExisting, ec); }, kFailed, 123, ""},
    {"after \\\\?\\ no dot dropped", [](auto&, auto& ec) { return opened("\\\\?\\C:\\zor\\data.txt.", R, kExisting, ec); }, kFailed, 2, ""},
    {"a link read by its Windows meaning", [](auto&, auto& ec) { hostFile("store/file.txt", "host"); return bytesRead("c:\\zor\\lexi", ec); }, 0, 0, ""},
    {"a file in another case, by its folders' kept listings", [](auto&, auto& ec) { return bytesReadListed("C:\\ZOR\\DATA.TXT", ec); }, 5, 0, "zor/data.txt:5 -zor/DATA.TXT"},
    {"a link in another case, by its folder's kept listing, read by its Windows meaning", [](auto&, auto& ec) { hostFile("store/file.txt", "host"); return bytesReadListed("c:\\zor\\LEXI", ec); }, 0, 0, ""},
    {"a folder link in another case, by the kept listings, read by its Windows meaning", [](auto&, auto& ec) { std::ofstream("../../outside/secret") << "host"; return bytesReadListed("C:\\UP\\secret", ec); }, 0, 0, ""},
    {"twins in neither case given, by the kept listing: the first byte by byte", [](auto&, auto& ec) { hostFile("Twin", "one"); hostFile("TWIN", "three"); return bytesReadListed("c:\\zor\\twin", ec); }, 5, 0, ""},
    {"a file made through a link that climbs past the drive's root", [](auto&, auto& ec) { return opened("c:\\up\\new.txt", W, kNew, ec, "in"); }, 0, 0, "outside/new.txt:2 -../outside/new.txt"},
    {"a file made through a dangling link", [](auto&, auto& ec) { return opened("c:\\zor\\dangling", W, kAlways, ec); }, 0, 0, "+zor/nothere"},
    {"a short name opens its long file", [](auto&, auto& ec) { hostFile("long file name.txt", "abcdef"); return bytesRead("c:\\zor\\LONG~5R1.TXT", ec); }, 6, 0, ""},
    {"twins: the one in the case given", [](auto&, auto& ec) { hostFile("Twin", "one"); hostFile("TWIN", "three"); return bytesRead("c:\\zor\\TWIN", ec); }, 5, 0, ""},
    {"a FIFO", [](auto&, auto& ec) { return opened("c:\\zor\\pipe", R, kExisting, ec); }, kFailed, 50, ""},
    {"NUL takes writes and gives nothing", [](auto&, auto& ec) { opened("c:\\zor\\nul", W, kExisting, ec, "gone"); return bytesRead("c:\\zor\\NUL", ec); }, 0, 0, "-zor/NUL -zor/nul/gone"},
    {"COM1, a port this machine lacks", [](auto&, auto& ec) { return opened("c:\\zor\\COM1", RW, kExisting, ec); }, kFailed, 2, ""},
    {"no access", [](auto&, auto& ec) { return opened("c:\\zor\\data.txt", file_access{}, kExisting, ec); }, kFailed, 87, ""},
};
// clang-format on

class Opens : public ChangeTest, public testing::WithParamInterface<Open> {};

TEST_P(Opens, AnswerAsCreateFileWAndLeaveTheDiskAsWindowsWould) {
    expectRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Drives, Opens, testing::ValuesIn(kOpens));

// What a second call gets while a first open holds the file: its access and share mode, then
// what is tried, as Windows checks each open against those already made.
struct Sharing {
    const char* what;
    file_access access;
    file_share share;
    std::function<void(std::error_code&)> second;
    int error;
};

void PrintTo(const Sharing& s, std::ostream* os) {
    *os << s.what;
}

std::function<void(std::error_code&)> openedAs(file_access access, file_share share) {
    return [=](std::error_code& ec) {
        fs::open_file(path("c:\\zor\\DATA.txt"), access, kExisting, share, ec);
    };
}

constexpr auto kRead = file_share::read;
constexpr auto kReadWrite = file_share::read | file_share::write;
constexpr auto kAll = file_share::read | file_share::write | file_share::delete_;

// clang-format off
const Sharing kSharing[] = {
    {"a reader beside a reader", R, kRead, openedAs(R, kRead), 0},
    {"a writer beside a reader that shares reading only", R, kRead, openedAs(W, kReadWrite), 32},
    {"a writer beside a reader that shares writing", R, kReadWrite, openedAs(W, kReadWrite), 0},
    {"a reader that shares reading only beside a writer", W, kReadWrite, openedAs(R, kRead), 32},
    {"Windows's example: a reader sharing reading beside a reader-writer sharing reading", RW, kRead, openedAs(R, kRead), 32},
    {"Windows's example: a reader sharing reading and writing", RW, kRead, openedAs(R, kReadWrite), 0},
    {"a reader sharing reading beside a reader-writer sharing both", RW, kReadWrite, openedAs(R, kRead), 32},
    {"an appender counts as a writer", A, kReadWrite, openedAs(R, kRead), 32},
    {"remove of a file open without delete sharing", R, kReadWrite, [](auto& ec) { fs::remove(path("c:\\zor\\data.txt"), ec); }, 32},
    {"remove of a file open with delete sharing", R, kAll, [](auto& ec) { fs::remove(path("c:\\zor\\data.txt"), ec); }, 0},
    {"remove of another name of the file", R, kReadWrite, [](auto& ec) { fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\twin")); fs::remove(path("c:\\zor\\TWIN"), ec); }, 32},
    {"remove_all of a folder that holds it", R, kReadWrite, [](auto& ec) { fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\store\\d")); fs::file held = fs::open_file(path("c:\\zor\\store\\d"), R, kExisting); fs::remove_all(path("c:\\zor\\store"), ec); }, 32},
    {"rename of a file open without delete sharing", R, kReadWrite, [](auto& ec) { fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\moved"), ec); }, 32},
    {"rename of a file open with delete sharing", R, kAll, [](auto& ec) { fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\moved"), ec); }, 0},
    {"rename onto a file open without delete sharing", R, kReadWrite, [](auto& ec) { fs::rename(path("c:\\zor\\file.txt"), path("c:\\zor\\data.txt"), ec); }, 5},
    {"copy onto a file open without write sharing", R, kRead, [](auto& ec) { fs::copy_file(path("c:\\zor\\file.txt"), path("c:\\zor\\data.txt"), fs::copy_options::overwrite_existing, ec); }, 32},
    {"copy onto a file open with write sharing", R, kReadWrite, [](auto& ec) { fs::copy_file(path("c:\\zor\\file.txt"), path("c:\\zor\\data.txt"), fs::copy_options::overwrite_existing, ec); }, 0},
    {"copy from a file open without read sharing", W, file_share::write, [](auto& ec) { fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\copy"), ec); }, 32},
    {"resize of a file open without write sharing", R, kRead, [](auto& ec) { fs::resize_file(path("c:\\zor\\data.txt"), 1, ec); }, 32},
    {"a time set on a file open without any sharing", RW, file_share::none, [](auto& ec) { fs::last_write_time(path("c:\\zor\\data.txt"), fs::last_write_time(path("c:\\zor\\file.txt")), ec); }, 0},
    {"a stream's open, as Microsoft's streams share", R, kRead, [](auto& ec) { fs::ofstream out(path("c:\\zor\\data.txt"), std::ios_base::app); if (!out.is_open()) ec = out.rdbuf()->last_error(); }, 32},
    {"fopen, as Microsoft's fopen shares", R, kRead, [](auto& ec) { std::FILE* f = fs::fopen(path("c:\\zor\\data.txt"), "r+"); if (f != nullptr) std::fclose(f); else fs::open_file(path("c:\\zor\\data.txt"), RW, kExisting, ec); }, 32},
    {"nothing is asked with the table off", R, kRead, [](auto& ec) { fs::set_sharing(false); fs::remove(path("c:\\zor\\data.txt"), ec); fs::set_sharing(true); }, 0},
};
// clang-format on

class Shares : public ChangeTest, public testing::WithParamInterface<Sharing> {};

TEST_P(Shares, AsWindowsChecksEachOpenAgainstTheOthers) {
    const Sharing& row = GetParam();
    fs::file first = fs::open_file(path("c:\\zor\\data.txt"), row.access, kExisting, row.share);
    std::error_code ec;
    row.second(ec);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
    }
    first.close();
    // Once closed, the file is free to every call.
    EXPECT_TRUE(
        fs::open_file(path("c:\\zor\\file.txt"), RW, kExisting, file_share::none).is_open());
}

INSTANTIATE_TEST_SUITE_P(Drives, Shares, testing::ValuesIn(kSharing));

// The streams' modes, as Microsoft's library maps them onto fopen's, on data.txt ("hello") or on
// a name that is not there: whether the open succeeds, and the bytes the file holds after "ab" is
// written (where writing is allowed) and the stream closed.
TEST_F(ChangeTest, StreamModesAreMicrosoftsTable) {
    using std::ios_base;
    struct Row {
        ios_base::openmode mode;
        bool there;
        bool opens;
        const char* after;  // the file's text; nullptr when it is not there
    };
    const ios_base::openmode in = ios_base::in, out = ios_base::out, trunc = ios_base::trunc,
                             app = ios_base::app, bin = ios_base::binary, ate = ios_base::ate;
    const ios_base::openmode none{};
    const Row rows[] = {
        {in, true, true, "hello"},
        {in, false, false, nullptr},
        {out, true, true, "ab"},
        {out | trunc | bin, true, true, "ab"},
        {out, false, true, "ab"},
        {app, true, true, "helloab"},
        {out | app | bin, false, true, "ab"},
        {in | out, true, true, "abllo"},
        {in | out, false, false, nullptr},
        {in | out | trunc, true, true, "ab"},
        {in | app, true, true, "helloab"},
        {in | out | app | bin, false, true, "ab"},
        {out | ate, true, true, "ab"},
        {in | out | ate, true, true, "helloab"},
        {out | fs::noreplace, false, true, "ab"},
        {out | fs::noreplace, true, false, "hello"},
        {in | out | trunc | fs::noreplace, true, false, "hello"},
        {in | out | fs::noreplace, false, false, nullptr},
        {trunc, true, false, "hello"},
        {in | trunc, true, false, "hello"},
        {out | trunc | app, true, false, "hello"},
        {none, true, false, "hello"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.mode));
        const char* name = row.there ? "c:\\zor\\DATA.TXT" : "c:\\zor\\fresh.txt";
        {
            fs::fstream stream;
            stream.open(path(name), row.mode);
            EXPECT_EQ(stream.is_open(), row.opens) << stream.rdbuf()->last_error().message();
            stream << "ab";
        }
        const std::string host = driveC(row.there ? "zor/data.txt" : "zor/fresh.txt");
        std::ifstream back(host, std::ios_base::binary);
        EXPECT_EQ(back.is_open(), row.after != nullptr);
        if (row.after != nullptr) {
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(back), {}), row.after);
        }
        std::filesystem::remove(driveC("zor/fresh.txt"));
        hostFile("data.txt.new", "hello");
        std::filesystem::rename(driveC("zor/data.txt.new"), driveC("zor/data.txt"));
    }
}

TEST_F(ChangeTest, StreamsReadWriteAndMoveAsTheStandardsDo) {
    {
        fs::ofstream out(path("c:\\zor\\Lines.txt"));
        out << "one\n" << 2 << "\n";
        fs::ofstream moved = std::move(out);
        moved << "three\n";
        EXPECT_TRUE(moved.is_open());
        EXPECT_FALSE(out.is_open());
    }
    fs::ifstream in("C:\\ZOR\\LINES.TXT");
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "2", "three"}));
    fs::ifstream other;
    other.swap(in);
    EXPECT_TRUE(other.is_open());
    EXPECT_FALSE(in.is_open());
    other.close();
    EXPECT_FALSE(other.is_open());
    EXPECT_TRUE(fs::remove(path("c:\\zor\\lines.txt")));  // nothing holds it now

    fs::wofstream wide(L"c:\\zor\\wide.txt");
    wide << L"wide";
    wide.close();
    EXPECT_EQ(fs::file_size(path("c:\\zor\\wide.txt")), 4U);
    fs::ifstream missing("c:\\zor\\none.txt");
    EXPECT_TRUE(missing.fail());
    EXPECT_EQ(missing.rdbuf()->last_error(), winfs::make_error_code(winfs::ERROR_FILE_NOT_FOUND));
}

// fopen's modes: what it opens and what errno says when it cannot, as the host's fopen says it;
// then the text of `back` (below c:\zor) after "ab" was written.
TEST_F(ChangeTest, FopenTakesCsModes) {
    struct Row {
        const char* mode;
        const char* name;  // below c:\zor
        int error;         // errno, 0 for success
        const char* back;  // the file read back, below c:\zor on the host
        const char* after;
    };
    const Row rows[] = {
        {"r", "DATA.TXT", 0, "data.txt", "hello"},
        {"rb", "data.txt", 0, "data.txt", "hello"},
        {"rt", "data.txt", 0, "data.txt", "hello"},
        {"w", "Data.txt", 0, "data.txt", "ab"},
        {"wx", "data.txt", EEXIST, "data.txt", "hello"},
        {"wbx", "new.txt", 0, "new.txt", "ab"},
        {"a", "data.txt", 0, "data.txt", "helloab"},
        {"ab+", "data.txt", 0, "data.txt", "helloab"},
        {"r+", "data.txt", 0, "data.txt", "abllo"},
        {"w+", "new.txt", 0, "new.txt", "ab"},
        {"r", "none.txt", ENOENT, "none.txt", nullptr},
        {"r", "none\\x", ENOENT, "none", nullptr},
        {"w", "store", EACCES, "store/x", nullptr},
        {"rw", "data.txt", EINVAL, "data.txt", "hello"},
        {"rx", "data.txt", EINVAL, "data.txt", "hello"},
        {"q", "data.txt", EINVAL, "data.txt", "hello"},
        {"r++", "data.txt", EINVAL, "data.txt", "hello"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + row.name);
        errno = 0;
        std::FILE* file = fs::fopen(path("c:\\zor") / row.name, row.mode);
        EXPECT_EQ(file == nullptr ? errno : 0, row.error);
        if (file != nullptr) {
            std::fputs("ab", file);
            EXPECT_EQ(std::fclose(file), 0);
        }
        std::ifstream back(driveC("zor/") + row.back, std::ios_base::binary);
        EXPECT_EQ(back.is_open(), row.after != nullptr);
        if (row.after != nullptr) {
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(back), {}), row.after);
        }
        std::filesystem::remove(driveC("zor/new.txt"));
        hostFile("data.txt.new", "hello");
        std::filesystem::rename(driveC("zor/data.txt.new"), driveC("zor/data.txt"));
    }
    std::FILE* wide = fs::_wfopen(path("c:\\zor\\data.txt"), L"r");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::fclose(wide), 0);
}

}  // namespace
