// The KERNEL32 stand-ins, and the whole probe run with its link probes, on fresh prefixes.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drive_fixture.h"
#include "kernel32.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "probe_lines.h"
#include "subprocess.h"

namespace {

using winfs::path;

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

// What the file stand-ins refuse as not stood in for, or as Windows refuses it; what they do is
// compared with Windows's own calls by the Wine test.
TEST_F(LinkCalls, FileCallsRefuseWhatTheyDoNotStandInFor) {
    makeFile(driveC("zor/data.txt"));
    const auto failureOfOpen = [](DWORD access, DWORD disposition, DWORD flags) -> DWORD {
        HANDLE file = CreateFileW(L"c:\\zor\\data.txt", access, FILE_SHARE_READ, nullptr,
                                  disposition, flags, nullptr);
        if (file == INVALID_HANDLE_VALUE) return GetLastError();
        CloseHandle(file);
        return 0;
    };
    constexpr DWORD kDelete = 0x10000;
    constexpr DWORD kBackupSemantics = 0x02000000;
    constexpr DWORD kHidden = 0x2;
    const wchar_t lone[] = {L'c', L':', L'\\', static_cast<wchar_t>(0xD800), 0};
    DWORD written = 7;
    char byte = 'x';
    const std::pair<DWORD, DWORD> rows[] = {
        {failureOfOpen(GENERIC_READ | kDelete, OPEN_EXISTING, 0), winfs::ERROR_INVALID_PARAMETER},
        {failureOfOpen(GENERIC_READ, 0, 0), winfs::ERROR_INVALID_PARAMETER},
        {failureOfOpen(GENERIC_READ, TRUNCATE_EXISTING + 1, 0), winfs::ERROR_INVALID_PARAMETER},
        {failureOfOpen(GENERIC_READ, OPEN_EXISTING, kBackupSemantics),
         winfs::ERROR_INVALID_PARAMETER},
        {failureOfOpen(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL), 0},
        {failureOfOpen(GENERIC_READ, TRUNCATE_EXISTING, 0), winfs::ERROR_INVALID_PARAMETER},
        {WriteFile(INVALID_HANDLE_VALUE, &byte, 1, &written, nullptr) ? 0 : GetLastError(),
         winfs::ERROR_INVALID_HANDLE},
        {written, 0},
        {CloseHandle(INVALID_HANDLE_VALUE) ? 0 : GetLastError(), winfs::ERROR_INVALID_HANDLE},
        {MoveFileExW(L"c:\\zor\\data.txt", L"c:\\zor\\moved", 0) ? 0 : GetLastError(),
         winfs::ERROR_INVALID_PARAMETER},
        {MoveFileExW(L"c:\\zor\\data.txt", lone, MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError(),
         winfs::ERROR_INVALID_NAME},
        {DeleteFileW(lone) ? 0 : GetLastError(), winfs::ERROR_INVALID_NAME},
        {SetFileAttributesW(L"c:\\zor\\data.txt", kHidden) ? 0 : GetLastError(),
         winfs::ERROR_INVALID_PARAMETER},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i + 1;

    HANDLE file =
        CreateFileW(L"c:\\zor\\data.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    OVERLAPPED* const overlapped = reinterpret_cast<OVERLAPPED*>(&byte);
    EXPECT_FALSE(WriteFile(file, &byte, 1, &written, overlapped));
    EXPECT_EQ(GetLastError(), winfs::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(WriteFile(file, nullptr, 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), winfs::ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(WriteFile(file, nullptr, 0, nullptr, nullptr));
    EXPECT_TRUE(WriteFile(file, "ab", 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(winfs::file_size(path("c:\\zor\\data.txt")), 2u);
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
