// The winfs operations that change the disk: removing, renaming, creating, copying, links, sizes,
// permissions and times, and each checked on the host afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <system_error>

#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "tree_fixture.h"

using winfs::path;

namespace {

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

std::uintmax_t permsOf(const char* p) {
    return static_cast<std::uintmax_t>(fs::status(path(p)).permissions());
}

// A file that the host makes in the working directory (C:\zor), where winfs would not: twins.
void hostFile(const char* name, const char* text) {
    std::FILE* file = std::fopen(name, "wx");
    ASSERT_NE(file, nullptr) << name;
    std::fputs(text, file);
    std::fclose(file);
}

// A FILETIME `seconds` after 1970 (before it when negative) and `ticks` of 100 ns more.
constexpr std::int64_t kTicksTo1970 = 11'644'473'600LL * 10'000'000;
constexpr fs::file_time_type after1970(std::int64_t seconds, std::int64_t ticks = 0) {
    return fs::file_time_type(
        fs::file_time_type::duration(kTicksTo1970 + seconds * 10'000'000 + ticks));
}
constexpr std::int64_t kYear2300 = 10'413'792'000;   // 2300-01-01, in seconds since 1970
constexpr std::int64_t kExt4First = -2'147'483'648;  // 1901-12-13T20:45:52Z, -2^31
constexpr std::int64_t kExt4Last = 15'032'385'535;   // 2446-05-10T22:38:55Z, 2^34 - 2^31 - 1

std::uintmax_t ticksOf(const char* p) {
    return static_cast<std::uintmax_t>(fs::last_write_time(path(p)).time_since_epoch().count());
}

// Whether the host's file system holds `t` exactly: file.txt dated by the host, and read back.
bool hostHolds(fs::file_time_type t, const char* probe = "c:\\zor\\file.txt") {
    const std::int64_t ticks = t.time_since_epoch().count();
    const std::int64_t beyond = ticks % 10'000'000;
    const std::int64_t since1601 = ticks / 10'000'000 - (beyond < 0 ? 1 : 0);
    const timespec want{since1601 - 11'644'473'600,
                        (beyond < 0 ? beyond + 10'000'000 : beyond) * 100};
    const std::string host = fs::host_path(path(probe)).string();
    const timespec times[2] = {{0, UTIME_OMIT}, want};
    struct stat st {};
    return ::utimensat(AT_FDCWD, host.c_str(), times, 0) == 0 && ::stat(host.c_str(), &st) == 0 &&
           st.st_mtim.tv_sec == want.tv_sec && st.st_mtim.tv_nsec == want.tv_nsec;
}

// Sets old.txt's time where file systems differ on holding it: 1 when it reads back exactly where
// the host holds it, and where it does not is refused with 87, the file keeping its time. Which
// one depends on the file system, so `ec` is left clear.
std::uintmax_t heldOrRefused(fs::file_time_type t, std::error_code& ec,
                             const char* at = "c:\\zor\\old.txt",
                             const char* probe = "c:\\zor\\file.txt") {
    const path p(at);
    const fs::file_time_type before = fs::last_write_time(p);
    fs::last_write_time(p, t, ec);
    const fs::file_time_type after = fs::last_write_time(p);
    const bool held = hostHolds(t, probe);
    const bool right = held ? !ec && after == t : ec.value() == 87 && after == before;
    EXPECT_TRUE(right) << "set " << t.time_since_epoch().count() << ", read "
                       << after.time_since_epoch().count() << ", the host "
                       << (held ? "holds it: " : "does not: ") << ec.message();
    ec.clear();
    return right;
}

// The soft limit of open descriptors `room` above the lowest free one, for one scope: a walk that
// keeps one for every level of a tree 130 deep runs out, one that keeps a window of them does not.
class FewDescriptors {
  public:
    explicit FewDescriptors(rlim_t room) {
        ::getrlimit(RLIMIT_NOFILE, &was_);
        const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowest);
        rlimit fewer = was_;
        fewer.rlim_cur = static_cast<rlim_t>(lowest) + room;
        ::setrlimit(RLIMIT_NOFILE, &fewer);
    }
    ~FewDescriptors() { ::setrlimit(RLIMIT_NOFILE, &was_); }
    FewDescriptors(const FewDescriptors&) = delete;
    FewDescriptors& operator=(const FewDescriptors&) = delete;

  private:
    rlimit was_{};
};

// Copies c:\zor\a\b into a folder whose path makes the copy of its file f `units` long, and
// removes it again: whether f was copied.
std::uintmax_t copiedAtLength(std::size_t units, std::error_code& ec) {
    std::string target = "c:\\zor\\t";
    while (target.size() + 2 + 256 < units)
        target += "\\" + std::string(250, 'n');
    target += "\\" + std::string(units - 3 - target.size(), 'm');
    fs::create_directories(path(target));
    fs::copy(path("c:\\zor\\a\\b"), path(target), fs::copy_options::recursive, ec);
    std::error_code asked;
    const bool copied = fs::exists(path(target + "\\f"), asked);
    std::error_code removing;
    fs::remove_all(path("c:\\zor\\t"), removing);
    return copied;
}

// How many of `times` heldOrRefused() finds right on two files in a folder of tmpfs (/dev/shm,
// reached through drive Z:), which holds 64-bit seconds: before 1601 and both ends of FILETIME
// are then set and read back exactly. Without tmpfs, on the folder of C:\zor.
std::uintmax_t rightOnTmpfs(std::initializer_list<fs::file_time_type> times, std::error_code& ec) {
    char folder[] = "/dev/shm/winfs-times-XXXXXX";
    const bool tmpfs = ::mkdtemp(folder) != nullptr;
    const std::string z = "Z:\\dev\\shm\\" + std::string(folder + 9);
    const std::string at = tmpfs ? z + "\\old.txt" : "c:\\zor\\old.txt";
    const std::string probe = tmpfs ? z + "\\file.txt" : "c:\\zor\\file.txt";
    if (tmpfs) {
        for (const char* name : {"/old.txt", "/file.txt"})
            std::fclose(std::fopen((std::string(folder) + name).c_str(), "w"));
    }
    std::uintmax_t right = 0;
    for (const fs::file_time_type t : times)
        right += heldOrRefused(t, ec, at.c_str(), probe.c_str());
    if (tmpfs) std::filesystem::remove_all(folder);
    return right;
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
    {"copy_file onto a link whose .. stops at the drive's root", [](auto&, auto& ec) -> std::uintmax_t { ::mkdir("../../../victim", 0777); hostFile("../../../victim/file", "outside"); ::mkdir("../victim", 0777); hostFile("../victim/file", "in"); fs::create_symlink(path("..\\..\\victim\\file"), path("c:\\lf")); fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\lf"), fs::copy_options::overwrite_existing, ec); return std::filesystem::file_size("../../../victim/file"); }, 7, 0, "victim/file:5"},
    {"rename by case alone beside a twin", [](auto&, auto& ec) -> std::uintmax_t { hostFile("abc", "one"); hostFile("ABC", "three"); fs::rename(path("c:\\zor\\abc"), path("c:\\zor\\Abc"), ec); return 0; }, 0, 0, "-zor/abc zor/Abc:3 zor/ABC:5"},
    {"rename by case alone onto a twin of that case", [](auto&, auto& ec) -> std::uintmax_t { hostFile("abc", "one"); hostFile("ABC", "three"); hostFile("Abc", "fourth"); fs::rename(path("c:\\zor\\abc"), path("c:\\zor\\Abc"), ec); return 0; }, 0, 183, "zor/abc:3 zor/Abc:6 zor/ABC:5"},
    {"rename by case alone of a name found in another case", [](auto&, auto& ec) -> std::uintmax_t { hostFile("abc", "one"); hostFile("ABC", "three"); fs::rename(path("c:\\zor\\Abc"), path("c:\\zor\\abc"), ec); return 0; }, 0, 183, "zor/abc:3 zor/ABC:5"},
    {"rename onto its own name in another folder", [](auto&, auto& ec) -> std::uintmax_t { fs::copy_file(path("c:\\zor\\old.txt"), path("c:\\zor\\store\\Data.txt")); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\store\\data.txt"), ec); return 0; }, 0, 0, "-zor/data.txt -zor/store/Data.txt zor/store/data.txt:5"},
    {"rename a folder by case alone beside a twin", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\mIXED"), path("c:\\zor\\MIXED"), ec); return 0; }, 0, 0, "-zor/mIXED +zor/MIXED +zor/Mixed"},
    {"rename onto a hard link of itself", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\twin"), ec); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\twin"), ec); return 0; }, 0, 0, "-zor/data.txt zor/twin:5"},
    {"rename beside a file held open sharing nothing", [](auto&, auto& ec) -> std::uintmax_t { const fs::file held = fs::open_file(path("c:\\zor\\old.txt"), fs::file_access::read, fs::file_disposition::open_existing, fs::file_share::none, ec); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\moved"), ec); return 0; }, 0, 0, "-zor/data.txt zor/moved:5"},
    {"rename a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\sub2"), ec); return 0; }, 0, 0, "-zor/sub +zor/sub2/up"},
    {"rename a folder onto a file replaces it", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\FILE.txt"), ec); return 0; }, 0, 0, "-zor/sub -zor/file.txt +zor/FILE.txt/up"},
    {"rename a folder onto a link replaces the link", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\lexi"), ec); return 0; }, 0, 0, "-zor/sub +zor/lexi/up +zor/file.txt"},
    {"rename a folder onto a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\store\\inner"), ec); return 0; }, 0, 5, "+zor/sub/up +zor/store/inner"},
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
    {"create_directory of a name with a double quote", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\a\"b"), ec); }, 0, 123, "-zor/a\"b"},
    {"create_directory of a name over 255 units", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\" + std::string(256, 'x')), ec); }, 0, 206, ""},
    {"create_directory after a missing model", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\new"), path("c:\\zor\\none"), ec); }, 1, 0, "+zor/new"},
    {"create_directory after a dangling link", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\new"), path("c:\\zor\\dangling"), ec) + 2 * fs::is_symlink(path("c:\\zor\\new")); }, 1, 0, "+zor/new"},
    {"create_directory after a read-only model takes nothing from it", [](auto&, auto& ec) -> std::uintmax_t { ::chmod("store", 0555); const bool made = fs::create_directory(path("c:\\zor\\new"), path("c:\\zor\\store"), ec); ::chmod("store", 0755); return made; }, 1, 0, "+zor/new zor/new#755"},
    {"create_directories makes each folder named on the way", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directories(path("c:\\zor\\r\\a\\..\\b\\..\\c\\"), ec); }, 1, 0, "+zor/r/a +zor/r/b +zor/r/c"},
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
    {"copy_file of a file as old as the target", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\old.txt"), fs::last_write_time(path("c:\\zor\\data.txt"))); return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\old.txt"), fs::copy_options::update_existing, ec); }, 0, 0, "zor/old.txt:0"},
    // Overwriting goes straight to CopyFile2, which cannot open the file it reads for writing.
    {"copy_file onto itself", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\DATA.TXT"), fs::copy_options::overwrite_existing, ec); }, 0, 32, "zor/data.txt:5"},
    {"copy_file onto a hard link of itself", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\data.txt"), path("c:\\zor\\twin")); return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\twin"), fs::copy_options::overwrite_existing, ec); }, 0, 32, "zor/twin:5"},
    {"copy_file onto itself, skipping what is there", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\data.txt"), fs::copy_options::skip_existing, ec); }, 0, 80, "zor/data.txt:5"},
    {"copy_file onto itself, if newer", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\data.txt"), fs::copy_options::update_existing, ec); }, 0, 80, "zor/data.txt:5"},
    {"copy_file onto a folder, skipping what is there", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\store"), fs::copy_options::skip_existing, ec); }, 0, 5, "+zor/store/inner"},
    {"copy_file of a folder, overwriting", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\store"), path("c:\\zor\\file.txt"), fs::copy_options::overwrite_existing, ec); }, 0, 5, "zor/file.txt:0"},
    {"copy_file of a folder", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\store"), path("c:\\zor\\x"), ec); }, 0, 5, "-zor/x"},
    {"copy_file with two options of a group", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\x"), fs::copy_options::skip_existing | fs::copy_options::overwrite_existing, ec); }, 0, 87, "-zor/x"},
    {"copy with two options of the group of forms", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\data.txt"), path("c:\\zor\\x"), fs::copy_options::create_symlinks | fs::copy_options::create_hard_links, ec); return 0; }, 0, 87, "-zor/x"},
    {"copy_file keeps the read-only attribute", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\data.txt"), fs::perms::all, fs::perm_options::remove); fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\x"), ec); return permsOf("c:\\zor\\x"); }, kReadOnly, 0, "zor/x:5 zor/x#444"},
    {"copy a tree", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive, ec); return 0; }, 0, 0, "+zor/acopy/b/f"},
    {"copy a tree into a folder that holds part of it in another case", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path("c:\\zor\\acopy\\B")); fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive, ec); return 0; }, 0, 0, "+zor/acopy/B/f -zor/acopy/b"},
    {"copy a tree into itself ends at the longest path", [](auto&, auto& ec) -> std::uintmax_t { const path in("c:\\zor\\a\\" + std::string(200, 'n')); fs::copy(path("c:\\zor\\a"), in, fs::copy_options::recursive, ec); std::error_code removing; return fs::remove_all(in, removing); }, 162 * 3, 206, "+zor/a/b/f"},
    {"copy a folder as links, in both forms", [](auto&, auto& ec) -> std::uintmax_t {
        const auto isADirectory = [](const std::error_code& code) { return code == std::error_code(21, std::generic_category()); };
        fs::copy(path("c:\\zor\\a"), path("c:\\zor\\x"), fs::copy_options::create_symlinks, ec);
        std::uintmax_t right = isADirectory(ec);
        ec.clear();
        try { fs::copy(path("c:\\zor\\a"), path("c:\\zor\\x"), fs::copy_options::create_symlinks); } catch (const fs::filesystem_error& e) { right += isADirectory(e.code()); }
        return right; }, 2, 0, "-zor/x"},
    {"copy a tree into a missing folder's child", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\a"), path("c:\\zor\\m1\\m2"), fs::copy_options::recursive, ec); return 0; }, 0, 3, "-zor/m1"},
    {"copy a tree written with slashes and a trailing one", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:/zor/a/"), path("c:/zor/acopy/"), fs::copy_options::recursive, ec); return 0; }, 0, 0, "+zor/acopy/b/f"},
    {"copy a tree deeper than the folders held open", [](auto&, auto& ec) -> std::uintmax_t {
        std::string chain = "deep";
        for (int i = 0; i < 130; ++i) { chain += "/d"; std::filesystem::create_directories(chain); hostFile((chain + "/f").c_str(), "x"); }
        // Under few descriptors, as a walk that closes no level would need more.
        { const FewDescriptors few(200); fs::copy(path("c:\\zor\\deep"), path("c:\\zor\\dcopy"), fs::copy_options::recursive, ec); }
        const FewDescriptors few(100);
        for (fs::recursive_directory_iterator it(path("c:\\zor\\dcopy"), ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {}
        std::error_code removing;
        const std::uintmax_t removed = fs::remove_all(path("c:\\zor\\dcopy"), removing);
        if (!ec) ec = removing;
        return removed; }, 1 + 130 * 2, 0, ""},
    {"copy a tree of folders alone", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive | fs::copy_options::directories_only, ec); return 0; }, 0, 0, "+zor/acopy/b -zor/acopy/b/f"},
    // A link inside the tree, to a file: its target copied, the link copied, or nothing. The result: there, and a link.
    {"copy a tree with a link in it", [](auto&, auto& ec) -> std::uintmax_t { ::symlink("b/f", "a/lk"); fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive, ec); return fs::exists(path("c:\\zor\\acopy\\lk")) + 2 * fs::is_symlink(path("c:\\zor\\acopy\\lk")); }, 1, 0, "+zor/acopy/b/f"},
    {"copy a tree with a link in it, links as links", [](auto&, auto& ec) -> std::uintmax_t { ::symlink("b/f", "a/lk"); fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec); return fs::exists(path("c:\\zor\\acopy\\lk")) + 2 * fs::is_symlink(path("c:\\zor\\acopy\\lk")); }, 3, 0, "+zor/acopy/b/f"},
    {"copy a tree with a link in it, links skipped", [](auto&, auto& ec) -> std::uintmax_t { ::symlink("b/f", "a/lk"); fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive | fs::copy_options::skip_symlinks, ec); return fs::exists(path("c:\\zor\\acopy\\lk")) + 2 * fs::is_symlink(path("c:\\zor\\acopy\\lk")); }, 0, 0, "+zor/acopy/b/f -zor/acopy/lk"},
    {"copy a tree with a name Windows cannot write", [](auto&, auto& ec) -> std::uintmax_t { hostFile("a/q?", "x"); fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive, ec); return 0; }, 0, 0, "+zor/acopy/b/f -zor/acopy/q?"},
    // The second twin meets the first's copy, as any name already there: copy_file's 80.
    {"copy a tree with host twins in it", [](auto&, auto& ec) -> std::uintmax_t { hostFile("a/tw", "one"); hostFile("a/TW", "three"); fs::copy(path("c:\\zor\\a"), path("c:\\zor\\acopy"), fs::copy_options::recursive, ec); return 0; }, 0, 80, "zor/acopy/TW:5 -zor/acopy/tw"},
    {"copy a tree to a path of 32,767 units", [](auto&, auto& ec) { return copiedAtLength(32767, ec); }, 1, 0, ""},
    {"copy a tree to a path of 32,768 units", [](auto&, auto& ec) { return copiedAtLength(32768, ec); }, 0, 206, ""},
    {"copy a tree as hard links", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\a"), path("c:\\zor\\x"), fs::copy_options::recursive | fs::copy_options::create_hard_links, ec); return fs::hard_link_count(path("c:\\zor\\a\\b\\f")); }, 2, 0, "+zor/x/b/f"},
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
    // The read-only attribute refuses writing the file's data to every account, root too; its
    // time (FILE_WRITE_ATTRIBUTES), its removal (IGNORE_READONLY) and moving it away are allowed.
    {"resize_file of a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove); fs::resize_file(path("c:\\zor\\file.txt"), 1024, ec); return 0; }, 0, 5, "zor/file.txt:0 zor/file.txt#444"},
    {"resize_file through a link to a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); fs::resize_file(path("c:\\zor\\lexi"), 3, ec); return 0; }, 0, 5, "zor/file.txt:0"},
    {"resize_file of a file read-only to others alone", [](auto&, auto& ec) -> std::uintmax_t { ::chmod("file.txt", 0600); fs::resize_file(path("c:\\zor\\file.txt"), 3, ec); return 0; }, 0, 0, "zor/file.txt:3"},
    {"copy_file over a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), fs::copy_options::overwrite_existing, ec); }, 0, 5, "zor/file.txt:0 zor/file.txt#444"},
    {"copy_file over an older read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\old.txt"), fs::perms::none); return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\old.txt"), fs::copy_options::update_existing, ec); }, 0, 5, "zor/old.txt:0"},
    {"copy_file skipping a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), fs::copy_options::skip_existing, ec); }, 0, 0, "zor/file.txt:0"},
    {"copy_file of a read-only file over a file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\data.txt"), fs::perms::none); return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), fs::copy_options::overwrite_existing, ec); }, 1, 0, "zor/file.txt:5"},
    {"rename onto a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\FILE.txt"), ec); return 0; }, 0, 5, "zor/data.txt:5 zor/file.txt:0 -zor/FILE.txt"},
    {"rename a folder onto a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); fs::rename(path("c:\\zor\\sub"), path("c:\\zor\\file.txt"), ec); return 0; }, 0, 5, "+zor/sub/up zor/file.txt:0"},
    {"rename onto a link to a read-only file replaces the link", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\lexi"), ec); return 0; }, 0, 0, "-zor/data.txt zor/lexi:5 zor/file.txt:0"},
    {"rename a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\data.txt"), fs::perms::none); fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt"), ec); return 0; }, 0, 0, "-zor/data.txt zor/file.txt:5 zor/file.txt#444"},
    {"remove a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none); return fs::remove(path("c:\\zor\\file.txt"), ec); }, 1, 0, "-zor/file.txt"},
    {"last_write_time set on a read-only file", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\old.txt"), fs::perms::none); fs::last_write_time(path("c:\\zor\\old.txt"), after1970(kYear2300), ec); return ticksOf("c:\\zor\\old.txt") == static_cast<std::uintmax_t>(after1970(kYear2300).time_since_epoch().count()); }, 1, 0, "zor/old.txt#444"},
    // Only a folder is named with a separator after it: a file so named is refused (123), which
    // remove() counts as nothing there, as Microsoft's library does.
    {"remove a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\file.txt\\"), ec); }, 0, 0, "+zor/file.txt"},
    {"remove_all a file named with a separator after it", [](auto&, auto& ec) { return fs::remove_all(path("c:\\zor\\data.txt/"), ec); }, 0, 0, "zor/data.txt:5"},
    {"remove a link to a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\lexi\\"), ec); }, 0, 0, "+zor/lexi"},
    {"remove a link to a folder named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::remove(path("c:\\zor\\rel\\"), ec); }, 1, 0, "-zor/rel +zor/store/inner"},
    {"rename a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\data.txt\\"), path("c:\\zor\\x"), ec); return 0; }, 0, 123, "zor/data.txt:5 -zor/x"},
    {"rename onto a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt\\"), ec); return 0; }, 0, 123, "zor/data.txt:5 zor/file.txt:0"},
    {"rename a folder named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::rename(path("c:\\zor\\sub\\"), path("c:\\zor\\sub2"), ec); return 0; }, 0, 0, "-zor/sub +zor/sub2/up"},
    {"resize_file of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::resize_file(path("c:\\zor\\file.txt\\"), 3, ec); return 0; }, 0, 123, "zor/file.txt:0"},
    {"copy_file of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt\\"), path("c:\\zor\\x"), ec); }, 0, 123, "-zor/x"},
    {"copy_file over a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::copy_file(path("c:\\zor\\data.txt"), path("c:\\zor\\file.txt\\"), fs::copy_options::overwrite_existing, ec); }, 0, 123, "zor/file.txt:0"},
    {"copy of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\data.txt\\"), path("c:\\zor\\x"), ec); return 0; }, 0, 123, "-zor/x"},
    {"create_hard_link of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::create_hard_link(path("c:\\zor\\data.txt\\"), path("c:\\zor\\twin"), ec); return 0; }, 0, 123, "-zor/twin"},
    {"permissions of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt\\"), fs::perms::none, ec); return 0; }, 0, 123, "zor/file.txt#644"},
    {"last_write_time set on a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\old.txt\\"), after1970(kYear2300), ec); return ticksOf("c:\\zor\\old.txt"); }, 1'000'000'000ULL * 10'000'000 + kTicksTo1970, 123, ""},
    {"create_directory of a file named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { return fs::create_directory(path("c:\\zor\\file.txt\\"), ec); }, 0, 183, "zor/file.txt:0"},
    // A folder named with a separator after it, as Windows takes it anywhere.
    {"copy a tree named with a separator after it", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("a/"), path("x"), fs::copy_options::recursive, ec); return 0; }, 0, 0, "+zor/x/b/f"},
    {"copy a tree named with a separator after it as hard links", [](auto&, auto& ec) -> std::uintmax_t { fs::copy(path("c:\\zor\\a\\"), path("c:\\zor\\x"), fs::copy_options::recursive | fs::copy_options::create_hard_links, ec); return fs::hard_link_count(path("c:\\zor\\x\\b\\f")); }, 2, 0, "+zor/x/b/f"},
    {"resize_file of a folder", [](auto&, auto& ec) -> std::uintmax_t { fs::resize_file(path("c:\\zor\\store"), 3, ec); return 0; }, 0, 5, ""},
    {"permissions: remove a write bit, not all", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::owner_write | fs::perms::group_write, fs::perm_options::remove, ec); return permsOf("c:\\zor\\file.txt"); }, 0777, 0, "zor/file.txt#644"},
    {"permissions: remove every write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write | fs::perms::owner_exec, fs::perm_options::remove, ec); return permsOf("c:\\zor\\file.txt"); }, kReadOnly, 0, "zor/file.txt#444"},
    {"permissions: replace with no write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::all & ~fs::perms::owner_write & ~fs::perms::group_write & ~fs::perms::others_write, ec); return permsOf("c:\\zor\\file.txt"); }, kReadOnly, 0, "zor/file.txt#444"},
    {"permissions: add a write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, ec); fs::permissions(path("c:\\zor\\file.txt"), fs::perms::group_write, fs::perm_options::add, ec); return permsOf("c:\\zor\\file.txt"); }, 0777, 0, "zor/file.txt#644"},
    {"permissions: add no write bit", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::owner_exec, fs::perm_options::add, ec); return permsOf("c:\\zor\\file.txt"); }, 0777, 0, "zor/file.txt#644"},
    {"permissions of a folder: read-only, and names are still made in it", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); fs::create_directory(path("c:\\zor\\store\\new")); return permsOf("c:\\zor\\STORE"); }, kReadOnly, 0, "zor/store#755 +zor/store/new"},
    {"permissions of a read-only folder, a write bit added", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); fs::permissions(path("c:\\zor\\store"), fs::perms::others_write, fs::perm_options::add, ec); return permsOf("c:\\zor\\store"); }, 0777, 0, "zor/store#755"},
    // Samba's record keeps its other attributes, its binary part and its length; the result's second bit is the status.
    {"permissions of a folder with Samba's record", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", bytesOf(kSamba3Folder)); fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); return (dosRecord("store") == bytesOf(kSamba3ReadOnly)) + 2 * (permsOf("c:\\zor\\store") == kReadOnly); }, 3, 0, "zor/store#755"},
    {"permissions of a folder with Samba's record of 3,005 bytes, a write bit added", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", samba2(true)); fs::permissions(path("c:\\zor\\store"), fs::perms::owner_write, fs::perm_options::add, ec); return (dosRecord("store") == samba2(false)) + 2 * (permsOf("c:\\zor\\store") == 0777); }, 3, 0, ""},
    {"permissions of a folder with Samba's record without text, a write bit added", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", bytesOf(kSamba5ReadOnly)); fs::permissions(path("c:\\zor\\store"), fs::perms::all, ec); return (dosRecord("store") == bytesOf(kSamba5Folder)) + 2 * (permsOf("c:\\zor\\store") == 0777); }, 3, 0, ""},
    {"permissions of a folder with Samba's record that does not vouch for the attributes", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", bytesOf(kSamba5Unvouched)); fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); return (dosRecord("store") == bytesOf(kSamba5ReadOnlyAlone)) + 2 * (permsOf("c:\\zor\\store") == kReadOnly); }, 3, 0, ""},
    {"permissions of a folder with a record of a version Samba never wrote: the text alone", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", bytesOf("30783131000009000900000011000000")); fs::permissions(path("c:\\zor\\store"), fs::perms::all, ec); return (dosRecord("store") == "0x10") + 2 * (permsOf("c:\\zor\\store") == 0777); }, 3, 0, ""},
    {"permissions of a folder with Wine's record, its last attribute cleared", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", "0x1"); fs::permissions(path("c:\\zor\\store"), fs::perms::all, ec); return dosRecord("store") == "(none)"; }, 1, 0, ""},
    {"permissions of a folder with a record of \"0x\" and no digit", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", "0x"); fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); return dosRecord("store") == "0x1"; }, 1, 0, ""},
    // Hidden and system stay beside read-only, which clears alone; a folder without a record is left so.
    {"permissions of a folder with Wine's record of hidden and system, read-only cleared", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", "0x17"); fs::permissions(path("c:\\zor\\store"), fs::perms::all, ec); return dosRecord("store") == "0x16"; }, 1, 0, ""},
    {"permissions of a folder without a record, read-only cleared", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\store"), fs::perms::owner_write, fs::perm_options::add, ec); return dosRecord("store") == "(none)"; }, 1, 0, "zor/store#755"},
    {"permissions of a folder with Wine's record in capitals", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", "0x2E"); fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); return dosRecord("store") == "0x2F"; }, 1, 0, ""},
    // Where the record may not be read (Linux reads it for one who may list the folder) it is not written over.
    {"permissions of a folder that may be entered but not listed", [](auto&, auto& ec) -> std::uintmax_t { ::chmod("store", 0311); { const PermissionsApply apply; fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); } ::chmod("store", 0755); return dosRecord("store") == "0x1"; }, 1, 0, ""},
    {"permissions of a folder that may be entered but not listed, with a record", [](auto&, auto& ec) -> std::uintmax_t { setDosRecord("store", "0x22"); ::chmod("store", 0311); { const PermissionsApply apply; fs::permissions(path("c:\\zor\\store"), fs::perms::none, ec); } ::chmod("store", 0755); return dosRecord("store") == "0x22"; }, 1, 5, ""},
    // A link's own attribute (nofollow): read back through any drive, its target and other links untouched.
    {"permissions of a link itself", [](auto& z, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, fs::perm_options::replace | fs::perm_options::nofollow, ec); return static_cast<std::uintmax_t>(fs::symlink_status(path(z + "\\prefix\\drive_c\\zor\\LEXI")).permissions()) + 01000 * (permsOf("c:\\zor\\lexi") == 0777) + 02000 * (fs::symlink_status(path("c:\\zor\\rel")).permissions() == fs::perms::all); }, kReadOnly + 03000, 0, "zor/file.txt#644"},
    {"permissions of a link itself, then the link renamed", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\lexi"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove | fs::perm_options::nofollow, ec); fs::rename(path("c:\\zor\\lexi"), path("c:\\zor\\store\\lexi2")); return static_cast<std::uintmax_t>(fs::symlink_status(path("c:\\zor\\store\\lexi2")).permissions()); }, kReadOnly, 0, "zor/file.txt#644"},
    {"permissions of a link itself, a write bit added back", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, fs::perm_options::replace | fs::perm_options::nofollow); fs::permissions(path("c:\\zor\\lexi"), fs::perms::others_write, fs::perm_options::add | fs::perm_options::nofollow, ec); return static_cast<std::uintmax_t>(fs::symlink_status(path("c:\\zor\\lexi")).permissions()); }, 0777, 0, "zor/file.txt#644"},
    {"permissions through a link", [](auto&, auto& ec) { fs::permissions(path("c:\\zor\\lexi"), fs::perms::none, ec); return permsOf("c:\\zor\\file.txt"); }, kReadOnly, 0, "zor/file.txt#444"},
    {"permissions with two options", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\file.txt"), fs::perms::none, fs::perm_options::add | fs::perm_options::remove, ec); return 0; }, 0, 87, "zor/file.txt#644"},
    {"permissions of what is not there", [](auto&, auto& ec) -> std::uintmax_t { fs::permissions(path("c:\\zor\\none"), fs::perms::none, ec); return 0; }, 0, 2, ""},
    {"last_write_time set", [](auto&, auto& ec) -> std::uintmax_t { const auto t = fs::file_time_type(fs::file_time_type::duration(123'456'789'012'345'678)); fs::last_write_time(path("c:\\zor\\rel"), t, ec); return static_cast<std::uintmax_t>(fs::last_write_time(path("c:\\zor\\store")).time_since_epoch().count()); }, 123'456'789'012'345'678, 0, ""},
    {"last_write_time set past 2262", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\old.txt"), after1970(kYear2300, 1'234'567), ec); return ticksOf("c:\\zor\\old.txt"); }, static_cast<std::uintmax_t>(after1970(kYear2300, 1'234'567).time_since_epoch().count()), 0, ""},
    {"last_write_time set on a folder past 2262, then looked in", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\store"), after1970(kYear2300), ec); return fs::exists(path("C:\\ZOR\\STORE\\INNER")); }, 1, 0, ""},
    {"last_write_time set a tick before 1970", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\old.txt"), after1970(0, -1), ec); return ticksOf("c:\\zor\\old.txt"); }, static_cast<std::uintmax_t>(kTicksTo1970 - 1), 0, ""},
    // ext4 holds 1901 to 2446 and stores a time beyond as its nearest end; tmpfs holds them all.
    {"last_write_time set to 1800", [](auto&, auto& ec) { return heldOrRefused(after1970(-5'364'662'400), ec); }, 1, 0, ""},
    {"last_write_time set to 1601 and a tick", [](auto&, auto& ec) { return heldOrRefused(fs::file_time_type(fs::file_time_type::duration(1)), ec); }, 1, 0, ""},
    {"last_write_time set to file_time_type::min()", [](auto&, auto& ec) { return heldOrRefused(fs::file_time_type::min(), ec); }, 1, 0, ""},
    {"last_write_time set to the largest FILETIME", [](auto&, auto& ec) { return heldOrRefused(fs::file_time_type::max(), ec); }, 1, 0, ""},
    // ext4 holds 1901-12-13T20:45:52Z to 2446-05-10T22:38:55Z in nanoseconds, each end second at .0 alone.
    {"last_write_time set to ext4's last second", [](auto&, auto& ec) { return heldOrRefused(after1970(kExt4Last), ec); }, 1, 0, ""},
    {"last_write_time set to a tick past ext4's last second", [](auto&, auto& ec) { return heldOrRefused(after1970(kExt4Last, 1), ec); }, 1, 0, ""},
    {"last_write_time set to a second past ext4's last", [](auto&, auto& ec) { return heldOrRefused(after1970(kExt4Last + 1), ec); }, 1, 0, ""},
    {"last_write_time set to half a second past ext4's first", [](auto&, auto& ec) { return heldOrRefused(after1970(kExt4First, 5'000'000), ec); }, 1, 0, ""},
    // A leftover below 1601 counts from the second before: -1 tick is 1600-12-31 23:59:59.9999999.
    {"last_write_time set before 1601 and at the ends, on tmpfs", [](auto&, auto& ec) { return rightOnTmpfs({after1970(-12'000'000'000), after1970(-12'000'000'000, 1), after1970(-12'000'000'000, 9'999'999), fs::file_time_type(fs::file_time_type::duration(-1)), fs::file_time_type::min(), fs::file_time_type::max(), after1970(kExt4Last, 1)}, ec); }, 7, 0, ""},
    {"last_write_time set of what is not there", [](auto&, auto& ec) -> std::uintmax_t { fs::last_write_time(path("c:\\zor\\none"), fs::file_time_type(), ec); return 0; }, 0, 2, "-zor/none"},
    // Without long paths CreateDirectoryW keeps room for an 8.3 name: 247 characters, 248 units with the NUL.
    {"create_directory at MAX_PATH - 12 without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directory(path(deepPath(220).substr(0, 207))); bool made; { LegacyPaths legacy; made = fs::create_directory(path(deepPath(247)), ec); } return made + 2 * fs::is_directory(path(deepPath(247))); }, 3, 0, ""},
    {"create_directory past MAX_PATH - 12 without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directory(path(deepPath(220).substr(0, 207))); bool made; { LegacyPaths legacy; made = fs::create_directory(path(deepPath(248)), ec); } return made + 2 * fs::exists(path(deepPath(248))); }, 0, 206, ""},
    {"create_directory past MAX_PATH with \\\\?\\ without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directory(path(deepPath(220).substr(0, 207))); bool made; { LegacyPaths legacy; made = fs::create_directory(path("\\\\?\\" + deepPath(300)), ec); } return made + 2 * fs::is_directory(path(deepPath(300))); }, 3, 0, ""},
    {"create_directories without long paths makes what fits, then fails", [](auto&, auto& ec) -> std::uintmax_t { const std::string fits = deepPath(240); bool made; { LegacyPaths legacy; made = fs::create_directories(path(fits + "\\" + std::string(30, 'c')), ec); } return made + 2 * fs::is_directory(path(fits)) + 4 * fs::exists(path(fits + "\\" + std::string(30, 'c'))); }, 2, 206, ""},
    // The working directory is kept with a trailing '\': "C:\" and 255 more characters at most.
    {"current_path set to 258 characters without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(258))); LegacyPaths legacy; fs::current_path(path(deepPath(258)), ec); return fs::current_path().native().size(); }, 258, 0, ""},
    {"current_path set to 259 characters without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(259))); LegacyPaths legacy; fs::current_path(path(deepPath(259)), ec); return fs::current_path().native().size(); }, 6, 206, ""},
    {"current_path set to 258 characters with \\\\?\\ without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(258))); LegacyPaths legacy; fs::current_path(path("\\\\?\\" + deepPath(258)), ec); return fs::current_path().native().size(); }, 258, 0, ""},
    // "\\?\UNC\localhost\c$" is kept as "\\localhost\c$": 258 and 259 characters so.
    {"current_path set by \\\\?\\UNC\\ to 258 characters without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(246))); LegacyPaths legacy; fs::current_path(path("\\\\?\\UNC\\localhost\\c$" + deepPath(246).substr(2)), ec); return fs::equivalent(fs::current_path(), path(deepPath(246))); }, 1, 0, ""},
    {"current_path set by \\\\?\\UNC\\ to 259 characters without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(247))); LegacyPaths legacy; fs::current_path(path("\\\\?\\UNC\\localhost\\c$" + deepPath(247).substr(2)), ec); return fs::equivalent(fs::current_path(), path(deepPath(247))); }, 0, 206, ""},
    {"current_path set to 259 characters with \\\\?\\ without long paths", [](auto&, auto& ec) -> std::uintmax_t { fs::create_directories(path(deepPath(259))); LegacyPaths legacy; fs::current_path(path("\\\\?\\" + deepPath(259)), ec); return fs::current_path().native().size(); }, 6, 206, ""},
};
// clang-format on

class Changes : public ChangeTest, public testing::WithParamInterface<Change> {};

TEST_P(Changes, GiveWindowsResultsAndLeaveTheDiskAsWindowsWould) {
    expectRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Drives, Changes, testing::ValuesIn(kChanges));

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

std::string repeat(char c, std::size_t count) {
    return std::string(count, c);
}

TEST_F(ScratchOperations, CreateDirectories) {
    makeFolder(driveC("zor"));
    makeFile(driveC("zor/file.txt"));
    struct Row {
        std::string windows;
        bool created;
        int error;                     // a Windows code, 0 for none
        const char* absent = nullptr;  // a folder that a failure must not have made
    };
    const Row rows[] = {
        {"c:\\zor\\a\\b\\c", true, 0},
        {"c:\\zor\\a\\b\\c", false, 0},
        {"c:\\ZOR\\A\\b\\", false, 0},
        {"c:\\zor\\" + repeat('n', 255), true, 0},
        {"c:\\zor\\" + repeat('n', 256), false, winfs::ERROR_FILENAME_EXCED_RANGE},
        {"c:\\zor\\above\\" + repeat('n', 256), false, winfs::ERROR_FILENAME_EXCED_RANGE,
         "c:\\zor\\above"},
        {"c:\\zor\\" + repeat('x', 184) + "\\" + repeat('y', 165), true, 0},
        {"c:\\zor\\file.txt", false, winfs::ERROR_ALREADY_EXISTS},
        {"c:\\zor\\file.txt\\below", false, winfs::ERROR_ALREADY_EXISTS},
        {"c:\\zor\\a<b", false, winfs::ERROR_INVALID_NAME},
        {"c:\\zor\\a:b", false, winfs::ERROR_INVALID_NAME},
        // 128 characters of two bytes: a name Windows takes, longer than the host's 255 bytes.
        {"c:\\zor\\" +
             [] {
                 std::string name;
                 for (int i = 0; i < 128; ++i)
                     name += "\xc3\xa9";
                 return name;
             }(),
         false, winfs::ERROR_FILENAME_EXCED_RANGE},
        {"c:\\zor\\new\\a|b", false, winfs::ERROR_INVALID_NAME},
        {"c:\\zor\\what?", false, winfs::ERROR_INVALID_NAME},
        {"c:\\zor\\tab\there", false, winfs::ERROR_INVALID_NAME},
        {"q:\\unmapped", false, winfs::ERROR_PATH_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.windows);
        std::error_code ec;
        EXPECT_EQ(winfs::create_directories(path(row.windows), ec), row.created);
        EXPECT_EQ(ec.value(), row.error) << ec.message();
        if (row.absent != nullptr) {
            EXPECT_FALSE(winfs::exists(path(row.absent)));
        }
        if (row.error == 0) {
            EXPECT_TRUE(winfs::is_directory(path(row.windows)));
        } else {
            EXPECT_THROW(winfs::create_directories(path(row.windows)), winfs::filesystem_error);
        }
    }
    // 128 two-unit characters make 256 UTF-16 units in 512 bytes: too long for NTFS.
    std::string wide;
    for (int i = 0; i < 128; ++i)
        wide += "\xf0\x9d\x84\x9e";
    std::error_code ec;
    winfs::create_directories(path("c:\\zor\\" + wide), ec);
    EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_FILENAME_EXCED_RANGE));
}

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
    fs::permissions(zor / "c1", fs::perms::all, fs::perm_options::remove);
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
