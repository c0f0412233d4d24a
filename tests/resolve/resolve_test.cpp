// canonical and weakly_canonical on the tree of buildTree(), the walk without openat2, and the
// cache of folder names that case-insensitive lookups go through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/magic.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/host.h"
#include "pathprobe/winfs/filesystem.h"
#include "resolve/name_cache.h"
#include "text/names.h"
#include "tree_fixture.h"

using winfs::path;

namespace {

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
    {"\\\\?\\C:\\zor\\\\store",       "",                       123},  // an empty name
    {"\\\\.\\C:\\zor\\..\\zor",        "C:\\zor",                kNoError},
    // Streams: the file's data and the folder's index are the file and the folder.
    {"c:\\zor\\file.txt::$DATA",     "C:\\zor\\file.txt",      kNoError},
    {"c:\\zor\\file.txt::$data",     "C:\\zor\\file.txt",      kNoError},
    {"c:\\zor\\store::$INDEX_ALLOCATION", "C:\\zor\\store",  kNoError},
    {"c:\\zor\\store:$I30:$Index_Allocation", "C:\\zor\\store", kNoError},
    {"c:\\zor\\file.txt:s",          "",                       2},
    {"c:\\zor\\file.txt:s:$DATA\\x",  "",                       3},
    // This machine's administrative shares, kept in the form given.
    {"\\\\localhost\\c$\\zor\\rel",     "\\\\localhost\\c$\\zor\\store", kNoError},
    {"\\\\127.0.0.1\\C$\\ZOR",         "\\\\127.0.0.1\\C$\\zor",     kNoError},
    {"\\\\?\\UNC\\localhost\\c$\\zor",  "\\\\?\\UNC\\localhost\\c$\\zor", kNoError},
    {"\\\\?\\unc\\localhost\\c$\\zor",  "\\\\?\\unc\\localhost\\c$\\zor", kNoError},
    {"\\\\.\\UNC\\LOCALHOST\\c$\\zor",  "\\\\.\\UNC\\LOCALHOST\\c$\\zor", kNoError},
    {"\\\\localhost\\c$\\up\\secret",   "\\\\localhost\\c$\\outside\\secret", kNoError},  // ".." stops at the share
    {"\\\\localhost\\q$\\zor",        "",                       3},
    {"\\\\localhost\\c$x\\zor",       "",                       53},
    {"\\\\localhost\\share\\zor",     "",                       53},
    {"\\\\server\\c$\\zor",           "",                       53},
    // Devices: NUL in any folder, and the console.
    {"c:\\zor\\NUL",                 "\\\\.\\NUL",             kNoError},
    {"con",                         "\\\\.\\con",             kNoError},
    {"\\\\.\\COM1",                  "",                       2},
    {"\\\\.\\CONIN$",                "\\\\.\\CONIN$",           kNoError},
    {"\\\\.\\nul\\x",                "",                       53},  // a device ends the path
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
    // Short names: "Été" is "_T_~~3NC", under Wine too.
    {"c:\\zor\\_t_~~3nc",            "C:\\zor\\Été",           kNoError},
    {"c:\\zor\\REL\\..\\_T_~~3NC\\",   "C:\\zor\\Été",           kNoError},
    {"c:\\zor\\_T_~~3ND",            "",                       2},
    {"c:\\zor\\_T_~~3NC.X",          "",                       2},
    {"c:\\zor\\nothere\\_T_~~3NC",   "",                       3},
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
    {"C:\\zor\\file.txt\\",            "C:\\zor\\file.txt\\",           kNoError},
    {"c:\\ZOR\\store\\",               "C:\\zor\\store",                kNoError},  // as canonical
    {"store\\x",                       "C:\\zor\\store\\x",             kNoError},
    {"nothing\\here",                  "nothing\\here",                 kNoError},  // stays relative
    {"..\\nothere",                    "C:\\nothere",                   kNoError},
    {"q:\\x\\..\\y",                   "q:\\y",                         kNoError},
    {"c:\\zor\\rel\\a<b",               "C:\\zor\\store\\a<b",              kNoError},
    {"c:\\zor\\bsl\\f",                 "C:\\zor\\bsl\\f",                  kNoError},
    {"c:\\zor\\absdots\\secret",         "@\\prefix\\outside\\secret",       kNoError},
    {"\\\\?\\C:\\..",                    "C:\\",                          kNoError},  // as canonical
    {"\\\\.\\COM1",                     "\\\\.\\COM1",                     kNoError},  // a missing device
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

// Makes openat2 fail with ENOSYS in this process and those it starts, as on a host that lacks it:
// false when the filter could not be set.
bool withoutOpenat2() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Every path of the two tables above, resolved in a child process on a host that lacks openat2,
// as in the parent, which has it: there first on a tree just made, then again once its folders
// have settled and their listings are kept, which the parent's shortcuts then ask.
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
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(answers(), withOpenat2) << "with the listings kept";

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        if (!withoutOpenat2()) ::_exit(3);
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
    std::string answered;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        answered.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "3: no seccomp filter, 4: openat2 still there";
    EXPECT_EQ(answered, withOpenat2);
}

// The tables of changes and listings, and the races below swapped folders, run again by this
// program in a child on a host that lacks openat2: the folders that the changes act on are then
// opened one name at a time, and every row must still pass.
TEST(WithoutOpenat2, ChangesAndListingsPassEveryRow) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!withoutOpenat2()) ::_exit(3);
        ::execl("/proc/self/exe", "pathprobe_tests", "--gtest_brief=1",
                "--gtest_filter=Drives/Changes.*:Drives/Listings.*:Drives/Descents.*:"
                "ChangeTest.*:Concurrency.NoChange*",
                static_cast<char*>(nullptr));
        ::_exit(7);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no seccomp filter, 7: not started; else rows failed";
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
    // A short name that several names share is the one's that comes first in NTFS's order,
    // whatever order the host lists them in, from a reading as from the kept listing, asked in
    // any case: of "Program Files 0000" to "1499", the 528 that share theirs (0313 and 1209 share
    // PROG~02B), three at most.
    std::map<std::string, std::vector<std::string>> sharing;  // each list in NTFS's order
    for (int i = 0; i < 1500; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "Program Files %04d", i);
        sharing[winfs::shortNameOf(name)].push_back(name);
    }
    std::erase_if(sharing, [](const auto& group) { return group.second.size() < 2; });
    std::size_t shared = 0;
    for (const auto& group : sharing)
        shared += group.second.size();
    EXPECT_EQ(shared, 528u);
    sharing["PROG~FBU"] = {"PROGRAM FILES", "Program Files"};  // twins in case: byte by byte
    makeFolder(temp("shared"));
    for (const auto& [alias, names] : sharing) {
        for (const std::string& name : names)
            makeFile(temp("shared/") + name);
    }
    makeFile(temp("shared/PROG~02B.X"));
    makeFile(temp("shared/a|b long name"));  // A_B_~X2M, were it a name Windows could spell
    winfs::NameCache reading({.maxNames = 0, .settle = {}});  // reads the folder each time
    std::size_t wrong = 0;
    std::string firstWrong;
    for (const auto& [alias, names] : sharing) {
        std::string lower = alias;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string read;
        std::string kept;
        EXPECT_FALSE(reading.find({-1, temp("shared").c_str()}, lower, read)) << alias;
        EXPECT_FALSE(keeping.find({-1, temp("shared").c_str()}, alias, kept)) << alias;
        const std::string spelt = keeping.spellingOf({-1, temp("shared").c_str()}, lower);
        if (read != names.front() || kept != names.front() || spelt != names.front()) {
            if (wrong++ == 0) firstWrong = alias + ": " + read + ", " + kept + ", " + spelt;
        }
    }
    EXPECT_EQ(wrong, 0u) << "read, kept or spelt as other than the first, such as " << firstWrong;
    EXPECT_EQ(keeping.known({-1, temp("shared").c_str()}, "PROG~02B"),
              winfs::NameCache::Known::present);
    EXPECT_EQ(keeping.known({-1, temp("shared").c_str()}, "PROG~02C"),
              winfs::NameCache::Known::absent);
    for (winfs::NameCache* cache : {&reading, &keeping}) {
        std::string none;
        EXPECT_EQ(cache->find({-1, temp("shared").c_str()}, "a_b_~x2m", none),
                  winfs::make_error_code(winfs::ERROR_FILE_NOT_FOUND))
            << none;
    }
    EXPECT_EQ(keeping.usage().foldersRead, 2u);
    // The case on disk by the kept listing alone, where it can tell without a look at the name.
    const std::pair<const char*, const char*> spellings[] = {
        {"TWIN", "TWIN"}, {"twin", ""}, {"TWIn", ""}, {"twins", ""}};
    for (const auto& [input, onDisk] : spellings)
        EXPECT_EQ(keeping.spellingOf({-1, temp("twins").c_str()}, input), onDisk) << input;
    EXPECT_EQ(keeping.spellingOf({-1, temp("a").c_str()}, "ONE"), "") << "no listing kept";
    std::string found;
    EXPECT_FALSE(keeping.find({-1, temp("a").c_str()}, "ONE", found));
    for (const char* input : {"ONE", "one"})
        EXPECT_EQ(keeping.spellingOf({-1, temp("a").c_str()}, input), "one") << input;
    // A name on disk shaped as a short name is itself.
    EXPECT_EQ(keeping.spellingOf({-1, temp("shared").c_str()}, "prog~02b.x"), "PROG~02B.X");

    // A walk after one that found a name in another case asks that folder's kept listing first;
    // the answers are the walk's own, twins included.
    makeFolder(driveC("hinted"));
    for (const char* name : {"twin", "TWIN", "only"})
        makeFile(driveC("hinted/") + name);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::pair<const char*, const char*> walks[] = {
        {"c:\\hinted\\ONLY", "C:\\hinted\\only"}, {"c:\\hinted\\Twin", "C:\\hinted\\TWIN"},
        {"c:\\hinted\\twin", "C:\\hinted\\twin"}, {"c:\\hinted\\Only", "C:\\hinted\\only"},
        {"c:\\hinted\\only", "C:\\hinted\\only"}, {"c:\\hinted\\ONLY", "C:\\hinted\\only"},
        {"c:\\hinted\\NONE", "C:\\hinted\\NONE"}};
    for (int round = 0; round < 2; ++round) {
        for (const auto& [input, resolved] : walks)
            EXPECT_EQ(winfs::weakly_canonical(path(input)).string(), resolved) << input;
    }
}

}  // namespace
