// The scratch-directory operations, the KERNEL32 link stand-ins, and the whole probe run with its
// link probes, on fresh prefixes.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "drive_fixture.h"
#include "kernel32.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "probe_lines.h"
#include "subprocess.h"

namespace {

using winfs::path;

std::string repeat(char c, std::size_t count) {
    return std::string(count, c);
}

// The value of an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class ScratchOperations : public DriveFixture {};

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
        {"/unix/style", "relative", "c:\\home", "c:\\home\\"},
        {"c:tmp", nullptr, nullptr,
         throughZ(temp("host")) + "\\"},  // drive-relative is not absolute
        {nullptr, nullptr, nullptr, throughZ(temp("host")) + "\\"},
    };
    ScopedEnv hostTemp("TMPDIR", temp("host").c_str());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        ScopedEnv tmp("TMP", row.tmp), tempVar("TEMP", row.tempVar),
            profile("USERPROFILE", row.profile);
        EXPECT_EQ(winfs::temp_directory_path().string(), row.expected);
    }
}

TEST_F(ScratchOperations, TempDirectoryThatIsNoFolderFails) {
    makeFile(driveC("file.txt"));
    ScopedEnv temp("TEMP", nullptr), profile("USERPROFILE", nullptr);
    {
        ScopedEnv tmp("TMP", "c:\\nowhere");
        std::error_code ec;
        EXPECT_EQ(winfs::temp_directory_path(ec).string(), "") << "an empty path on error";
        EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_FILE_NOT_FOUND));
        try {
            winfs::temp_directory_path();
            ADD_FAILURE() << "no exception";
        } catch (const winfs::filesystem_error& e) {
            EXPECT_EQ(e.path1().string(), "c:\\nowhere\\") << "the failure names the folder";
        }
    }
    {
        ScopedEnv tmp("TMP", "c:\\file.txt");
        std::error_code ec;
        EXPECT_EQ(winfs::temp_directory_path(ec).string(), "");
        EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_DIRECTORY)) << ec.message();
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

class LinkCalls : public DriveFixture {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        makeFolder(driveC("zor/store"));
    }
    static DWORD failureOf(const char* link, const char* target, DWORD flags) {
        SetLastError(0);
        if (CreateSymbolicLinkA(link, target, flags)) return 0;
        return GetLastError();
    }
};

TEST_F(LinkCalls, FlagsAndOutcomes) {
    struct Row {
        const char* link;
        const char* target;
        DWORD flags;
        DWORD error;
    };
    const Row rows[] = {
        {"c:\\zor\\main.exe", "c:\\zor\\zor.exe", 0, 0},
        {"c:\\zor\\lnk", "c:\\zor\\store", SYMBOLIC_LINK_FLAG_DIRECTORY, 0},
        {"c:\\zor\\unpriv", "store", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, 0},
        {"c:\\zor\\both", "store", 3, 0},
        {"c:\\zor\\odd", "store", 4, winfs::ERROR_INVALID_PARAMETER},
        {"c:\\zor\\high", "store", 0x80000001u, winfs::ERROR_INVALID_PARAMETER},
        {"c:\\zor\\lnk", "c:\\zor\\elsewhere", 1, winfs::ERROR_ALREADY_EXISTS},
        {"c:\\zor\\LNK", "c:\\zor\\elsewhere", 1, winfs::ERROR_ALREADY_EXISTS},
        {"c:\\zor\\store", "c:\\zor", 1, winfs::ERROR_ALREADY_EXISTS},
        {"c:\\nothere\\lnk", "c:\\zor", 1, winfs::ERROR_PATH_NOT_FOUND},
        {"q:\\lnk", "c:\\zor", 1, winfs::ERROR_PATH_NOT_FOUND},
        {"c:\\zor\\bad|name", "c:\\zor", 1, winfs::ERROR_INVALID_NAME},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link);
        EXPECT_EQ(failureOf(row.link, row.target, row.flags), row.error);
    }
    // Absolute targets are stored as host paths, relative ones as they are, and need not exist.
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\main.exe")).string(), "C:\\zor\\zor.exe");
    char stored[4096] = {};
    ASSERT_GT(::readlink(driveC("zor/lnk").c_str(), stored, sizeof stored - 1), 0);
    EXPECT_EQ(std::string(stored), driveC("zor/store"));
    EXPECT_EQ(winfs::canonical(path("c:\\zor\\unpriv")).string(), "C:\\zor\\store");
}

TEST_F(LinkCalls, AnAccountWithoutThePrivilegeIsRefused) {
    // WINFS_SYMLINK_PRIVILEGE takes the usual spellings of false and of true.
    const std::pair<const char*, DWORD> rows[] = {
        {"0", winfs::ERROR_PRIVILEGE_NOT_HELD},
        {"false", winfs::ERROR_PRIVILEGE_NOT_HELD},
        {"no", winfs::ERROR_PRIVILEGE_NOT_HELD},
        {"off", winfs::ERROR_PRIVILEGE_NOT_HELD},
        {"1", 0},
        {"true", 0},
        {"yes", 0},
        {"on", 0},
    };
    for (const auto& [setting, error] : rows) {
        SCOPED_TRACE(setting);
        ScopedEnv privilege("WINFS_SYMLINK_PRIVILEGE", setting);
        const std::string link = std::string("c:\\zor\\lnk-") + setting;
        EXPECT_EQ(failureOf(link.c_str(), "c:\\zor\\store", 1), error);
        EXPECT_EQ(winfs::exists(path(link)), error == 0);
    }
}

TEST_F(LinkCalls, AFolderThatDeniesWritingRefuses) {
    // Root writes anywhere, so the call is made by a child that has given up root.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another account";
    ASSERT_EQ(::chmod(temp().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(prefix().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(driveC().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(driveC("zor").c_str(), 0555), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
        ::_exit(static_cast<int>(failureOf("c:\\zor\\lnk", "c:\\zor\\store", 1)));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(winfs::ERROR_ACCESS_DENIED));
}

TEST(LastError, BelongsToTheCallingThread) {
    SetLastError(183);
    DWORD seenByOther = 1;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(5);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 183u);
}

TEST(ErrorTexts, AreWindowsTexts) {
    const std::pair<int, const char*> rows[] = {
        {5, "Access is denied."},
        {87, "The parameter is incorrect."},
        {123, "The filename, directory name, or volume label syntax is incorrect."},
        {183, "Cannot create a file when that file already exists."},
        {206, "The filename or extension is too long."},
        {1314, "A required privilege is not held by the client."},
        {99999, "unknown error"},
        {-1, "unknown error"},
    };
    for (const auto& [code, text] : rows)
        EXPECT_EQ(winfs::system_category().message(code), text);
}

// The whole probe run, as the program, on a prefix holding c:\zor\store.
class LinkProbes : public DriveFixture {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        makeFolder(driveC("zor/store"));
        makeFolder(temp("scratch"));
    }
    RunResult run(std::vector<std::string> environment = {}) const {
        environment.push_back("WINEPREFIX=" + prefix());
        environment.push_back("TMP=" + scratch());
        return runProgram({PATHPROBE_EXE}, environment, temp());
    }
    std::string scratch() const { return throughZ(temp("scratch")); }
    // Sections A to D, which do not depend on the links.
    std::vector<std::string> before() const {
        std::vector<std::string> lines = kLinesBeforeCanonical;
        lines.insert(lines.end(), {"C:\\zor", "C:\\zor\\asdf\\", throughZ(temp()),
                                   "creating tmp path: " + scratch() + "\\"});
        return lines;
    }
    static std::vector<std::string> failures(const char* reason) {
        return {"Error creating file symlink",      "", reason,
                "Error creating directory symlink", "", reason,
                "Error creating directory symlink", "", reason,
                "Error creating directory symlink", "", reason};
    }
    static std::vector<std::string> join(std::vector<std::string> lines,
                                         const std::vector<std::string>& more) {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    }
};

TEST_F(LinkProbes, EveryLinkMadeThenEveryLinkRefusedAsExisting) {
    const RunResult first = run();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(splitLines(first.out),
              join(before(), {"c:\\zor\\lnks -> bailing out because path is a symlink while "
                              "symlink resolving is disabled",
                              "\"\""}));

    // The links on disk, and the four folders with their names whole.
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\main.exe")).string(), "C:\\zor\\zor.exe");
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\lnk")).string(), "C:\\zor\\store");
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\lnks")).string(), "C:\\zor\\lnkd");
    EXPECT_EQ(winfs::read_symlink(path("c:\\zor\\lnkd")).string(), "C:\\zor\\lnks");
    EXPECT_EQ(winfs::canonical(path("c:\\zor\\lnk")).string(), "C:\\zor\\store");
    std::vector<std::size_t> lengths;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(temp("scratch").c_str()), &::closedir);
    ASSERT_TRUE(dir);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") lengths.push_back(name.size());
    }
    std::sort(lengths.begin(), lengths.end());
    EXPECT_EQ(lengths, (std::vector<std::size_t>{16, 131, 165, 184}));

    // Again on the same prefix: the folders are there (nothing is written for them) and every
    // link name exists.
    const RunResult second = run();
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(splitLines(second.out),
              join(join(before(), failures("Cannot create a file when that file already exists.")),
                   {"c:\\zor\\lnks -> bailing out because path is a symlink while symlink "
                    "resolving is disabled",
                    "\"\""}));
}

TEST_F(LinkProbes, WithoutThePrivilegeEveryCallIsReported) {
    const RunResult result = run({"WINFS_SYMLINK_PRIVILEGE=0"});
    EXPECT_EQ(result.status, 0) << result.err;
    // No link was made, so the final probe resolves a name that does not exist.
    EXPECT_EQ(splitLines(result.out),
              join(join(before(), failures("A required privilege is not held by the client.")),
                   {"c:\\zor\\lnks -> \"C:\\\\zor\\\\lnks\""}));
}

TEST_F(LinkProbes, APrivilegeSettingThatIsNotUnderstoodIsReported) {
    const RunResult result = run({"WINFS_SYMLINK_PRIVILEGE=maybe"});
    EXPECT_NE(result.err.find("WINFS_SYMLINK_PRIVILEGE"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("maybe"), std::string::npos) << result.err;
}

TEST_F(LinkProbes, AScratchDirectoryThatIsMissingEndsTheRun) {
    const RunResult result = runProgram(
        {PATHPROBE_EXE}, {"WINEPREFIX=" + prefix(), "TMP=" + scratch() + "\\gone"}, temp());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(splitLines(result.out).size(), 12u) << "sections A to C stay";
    EXPECT_NE(result.err.find("temp_directory_path"), std::string::npos) << result.err;
}

}  // namespace
