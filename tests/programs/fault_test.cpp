// The probe under faults: whatever goes wrong, nothing already written is lost, nothing crashes,
// and a failure gives one clear line on standard error and a non-zero exit status.
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "drive_fixture.h"
#include "drives/drive.h"
#include "kernel32.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/filesystem.h"
#include "subprocess.h"

namespace {

using winfs::path;

// Sections A and B as far as B3, which every fault below lets through.
const std::vector<std::string> kFirstLines = {"0", "0", "1", "0", "\"c:\" -> not an absolute path"};

class Faults : public DriveFixture {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        makeFolder(driveC("zor/store"));
        makeFolder(temp("scratch"));
        ASSERT_EQ(::chmod(temp().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(temp("scratch").c_str(), 0777), 0);
    }
    std::vector<std::string> environment() const {
        return {"WINEPREFIX=" + prefix(), "TMP=" + throughZ(temp("scratch")),
                "TEMP=", "USERPROFILE="};
    }
    RunResult run(std::vector<std::string> extra = {}, std::vector<std::string> argv = {}) const {
        std::vector<std::string> env = environment();
        env.insert(env.end(), extra.begin(), extra.end());
        argv.push_back(PATHPROBE_EXE);
        return runProgram(argv, env, temp());
    }
    // The program as an account that is not root, so that permissions apply.
    RunResult runUnprivileged() const {
        return run({}, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    // The prefix open to everyone, and c:\zor with `mode`, for a run as another account.
    void openPrefixWithZor(mode_t mode) const {
        ASSERT_EQ(::chmod(prefix().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(driveC().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(driveC("zor").c_str(), mode), 0);
    }
    // The exit status of `call` run in a child process as the account nobody.
    static int asNobody(const std::function<int()>& call) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0) {
                ::_exit(255);
            }
            ::_exit(call() & 0xff);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -2;
        const int code = WEXITSTATUS(status);
        return code == 0xff ? -1 : code;
    }
    // Makes `names` as a chain of folders below `host`, one name per call.
    static void makeDeepFolders(const std::string& host, const std::vector<std::string>& names) {
        int folder = ::open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0) << host;
        for (const std::string& name : names) {
            ASSERT_EQ(::mkdirat(folder, name.c_str(), 0777), 0) << name;
            const int next = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(folder);
            ASSERT_GE(next, 0) << name;
            folder = next;
        }
        ::close(folder);
    }
    static bool canDropRoot() {
        return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0;
    }

    // One failure: status 1, one line on standard error holding each of `words`, and standard
    // output whole up to the failure, its last line ended.
    static void expectOneFailure(const RunResult& result, const std::vector<std::string>& words) {
        EXPECT_EQ(result.status, 1) << result.out;
        const std::vector<std::string> err = splitLines(result.err);
        ASSERT_EQ(err.size(), 1u) << result.err;
        EXPECT_EQ(err[0].rfind("pathprobe: ", 0), 0u) << err[0];
        for (const std::string& word : words) {
            EXPECT_NE(err[0].find(word), std::string::npos)
                << "no \"" << word << "\" in " << err[0];
        }
        if (!result.out.empty()) {
            EXPECT_EQ(result.out.back(), '\n');
        }
    }
    static void expectStartsWith(const RunResult& result, const std::vector<std::string>& lines) {
        const std::vector<std::string> out = splitLines(result.out);
        ASSERT_GE(out.size(), lines.size()) << result.out;
        EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + lines.size()), lines);
    }
};

TEST_F(Faults, StandardOutputOnAFullDevice) {
    std::vector<std::string> env = environment();
    env.push_back("PATH=/usr/bin:/bin");
    const RunResult result = runProgram(
        {"/bin/sh", "-c", std::string("exec ") + PATHPROBE_EXE + " > /dev/full"}, env, temp());
    expectOneFailure(result, {"cannot write to standard output", "No space left on device"});
}

TEST_F(Faults, StandardOutputAClosedPipe) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    ::close(pipeEnds[0]);  // nobody will read
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(errPipe[0]);
        ::setenv("WINEPREFIX", prefix().c_str(), 1);
        ::setenv("TMP", throughZ(temp("scratch")).c_str(), 1);
        if (::chdir(temp().c_str()) != 0) ::_exit(126);
        ::execl(PATHPROBE_EXE, PATHPROBE_EXE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    ::close(errPipe[1]);
    RunResult result;
    char buffer[1024];
    for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0;) {
        result.err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    result.status = WEXITSTATUS(status);
    expectOneFailure(result, {"cannot write to standard output", "Broken pipe"});
    EXPECT_FALSE(winfs::exists(path("c:\\zor\\lnk"))) << "the run stops at the first lost line";
}

TEST_F(Faults, AFolderOnTheWayThatDeniesAccess) {
    if (!canDropRoot()) GTEST_SKIP() << "needs root and setpriv to run as another account";
    // c:\zor that cannot be searched, or that can be searched but not read: the missing asdf is
    // then looked for in any case, and a folder that cannot be read is no proof that it is missing.
    for (const mode_t mode : {0700, 0711}) {
        SCOPED_TRACE(testing::Message() << "mode " << std::oct << mode);
        openPrefixWithZor(mode);
        const RunResult result = runUnprivileged();
        expectStartsWith(result, kFirstLines);
        expectOneFailure(result, {"weakly_canonical", "Access is denied.", "asdf"});
    }
}

TEST_F(Faults, AReadOnlyFolderRefusesEveryLink) {
    if (!canDropRoot()) GTEST_SKIP() << "needs root and setpriv to run as another account";
    openPrefixWithZor(0555);
    const RunResult result = runUnprivileged();
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> out = splitLines(result.out);
    ASSERT_EQ(out.size(), 26u) << result.out;
    for (std::size_t i = 13; i < 25; i += 3) {
        EXPECT_EQ(out[i + 1], "");
        EXPECT_EQ(out[i + 2], "Access is denied.");
    }
    EXPECT_EQ(out[25], "c:\\zor\\lnks -> \"C:\\\\zor\\\\lnks\"");
}

TEST_F(Faults, DriveAndPrefixFaults) {
    struct Row {
        const char* name;
        std::function<void()> setUp;
        std::vector<std::string> environment;
        std::vector<std::string> words;  // in the one line on standard error
    };
    const Row rows[] = {
        {"drive C not mapped",
         [this] {
             useDosdevices({{"z:", "/"}});
         },
         {},
         {"canonical", "The system cannot find the path specified.", "c:\\zor\\\\"}},
        {"dosdevices link into a place that cannot be made",
         [this] {
             useDosdevices({{"c:", "/dev/null/drive_c"}, {"z:", "/"}});
         },
         {},
         {"The system cannot find the drive specified.", "[c:]"}},
        {"prefix that cannot be made",
         [] {},
         {"WINEPREFIX=/dev/null/prefix"},
         {"The system cannot find the drive specified."}},
        {"TMP naming a missing folder",
         [] {},
         {"TMP=c:\\nowhere"},
         {"temp_directory_path", "not a directory", "c:\\nowhere"}},
        {"TMP naming a file",
         [this] { makeFile(driveC("zor/file.txt")); },
         {"TMP=c:\\zor\\file.txt"},
         {"temp_directory_path", "not a directory", "c:\\zor\\file.txt"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.setUp();
        const RunResult result = run(row.environment);
        expectStartsWith(result, kFirstLines);
        expectOneFailure(result, row.words);
        std::filesystem::remove_all(prefix() + "/dosdevices");  // the default map again
        winfs::reloadDrives();
    }
}

// Drive C's folder is there but is no folder: every operation fails alike, as for a drive that
// cannot be made.
TEST_F(Faults, ADriveFolderThatIsNoFolderIsNoDrive) {
    struct Row {
        const char* name;
        std::function<void()> setUp;
    };
    const Row rows[] = {{"drive_c a file",
                         [this] {
                             std::filesystem::remove_all(driveC());
                             makeFile(driveC());
                             winfs::reloadDrives();
                         }},
                        {"dosdevices c: a link to a file",
                         [this] {
                             makeFile(temp("file"));
                             useDosdevices({{"c:", temp("file")}, {"z:", "/"}});
                         }},
                        {"dosdevices c: and d: linking to each other", [this] {
                             useDosdevices({{"c:", "d:"}, {"d:", "c:"}, {"z:", "/"}});
                         }}};
    const std::error_code noDrive = winfs::make_error_code(winfs::ERROR_INVALID_DRIVE);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.setUp();
        for (const char* input : {"c:\\", "c:\\x", "c:\\zor\\store"}) {
            SCOPED_TRACE(input);
            std::error_code ec;
            EXPECT_TRUE(winfs::canonical(path(input), ec).empty());
            EXPECT_EQ(ec, noDrive);
            EXPECT_TRUE(winfs::weakly_canonical(path(input), ec).empty());
            EXPECT_EQ(ec, noDrive);
            EXPECT_EQ(winfs::status(path(input), ec).type(), winfs::file_type::none);
            EXPECT_EQ(ec, noDrive);
            EXPECT_THROW(winfs::exists(path(input)), winfs::filesystem_error);
            EXPECT_FALSE(winfs::create_directories(path(input), ec));
            EXPECT_EQ(ec, noDrive);
            winfs::current_path(path(input), ec);
            EXPECT_EQ(ec, noDrive);
        }
        std::filesystem::remove_all(prefix() + "/dosdevices");
        std::filesystem::remove(driveC());
        winfs::reloadDrives();
    }
}

// A folder that can be entered but not listed (wx for others): a name in another case cannot be
// told missing, so nothing may be made beside what may be there.
TEST_F(Faults, AFolderThatCannotBeListedIsDeniedNotMissing) {
    if (!canDropRoot()) GTEST_SKIP() << "needs root to run the calls as another account";
    openPrefixWithZor(0755);
    makeFolder(driveC("zor/drop/sub"));
    ASSERT_EQ(::chmod(driveC("zor/drop").c_str(), 0733), 0);
    struct Row {
        const char* name;
        std::function<int()> call;  // the Windows code it fails with, or 0
        int expected;
    };
    const Row rows[] = {
        {"create_directories in another case",
         [] {
             std::error_code ec;
             winfs::create_directories(path("c:\\zor\\drop\\SUB"), ec);
             return ec.value();
         },
         5},
        {"CreateSymbolicLinkA in another case",
         [] {
             return CreateSymbolicLinkA("c:\\zor\\drop\\SUB", "c:\\zor\\store", 1) != 0
                        ? 0
                        : static_cast<int>(GetLastError());
         },
         5},
        {"canonical in another case",
         [] {
             std::error_code ec;
             winfs::canonical(path("c:\\zor\\drop\\SUB"), ec);
             return ec.value();
         },
         5},
        {"canonical in the case on disk",
         [] {
             std::error_code ec;
             return winfs::canonical(path("c:\\zor\\drop\\sub"), ec) == path("C:\\zor\\drop\\sub")
                        ? ec.value()
                        : -1;
         },
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(asNobody(row.call), row.expected);
    }
    struct stat st {};
    EXPECT_NE(::lstat(driveC("zor/drop/SUB").c_str(), &st), 0) << "SUB was made beside sub";
}

// Without HOME and WINEPREFIX, and with no home folder in the account database, there is no
// drive C: the run says so and writes nothing at the root of the file system.
TEST_F(Faults, NoHomeFolderIsNoDriveC) {
    if (!canDropRoot()) GTEST_SKIP() << "needs root to run as an account without a home folder";
    struct stat st {};
    ASSERT_NE(::lstat("/.wine", &st), 0) << "/.wine exists already";
    const RunResult result = runProgram(
        {"/usr/bin/setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", PATHPROBE_EXE},
        {"HOME", "WINEPREFIX"}, temp());
    expectOneFailure(result, {"The system cannot find the drive specified."});
    EXPECT_NE(::lstat("/.wine", &st), 0) << "a prefix was made at the root";
}

TEST_F(Faults, ADosdevicesLinkToAMissingFolderGetsThatFolder) {
    useDosdevices({{"c:", temp("elsewhere/drive_c")}, {"z:", "/"}});
    EXPECT_TRUE(winfs::is_directory(path("c:\\")));
    const RunResult result = run();
    expectStartsWith(result, kFirstLines);
    // The new drive C has no c:\zor, so canonical fails as on any drive without it.
    expectOneFailure(result, {"canonical", "c:\\zor\\\\"});
}

TEST_F(Faults, NamesThatAreNotUtf8) {
    // The working directory's name, read by the first resolution probe.
    makeFolder(temp("caf\xe9"));
    const RunResult inFolder = runProgram({PATHPROBE_EXE}, environment(), temp("caf\xe9"));
    EXPECT_EQ(inFolder.out, "0\n0\n1\n0\n\"c:\" -> \n");
    expectOneFailure(inFolder, {"Cannot convert character sequence"});
    // Shaped as the other failure lines, with no host text in it.
    EXPECT_EQ(inFolder.err, "pathprobe: current_path: Cannot convert character sequence\n");

    // A link target on the way.
    std::filesystem::remove_all(driveC("zor"));
    hostLink("caf\xe9", driveC("zor"));
    // The third probe sees the link and leaves it alone; canonical follows it.
    const RunResult throughLink = run();
    expectStartsWith(throughLink, kFirstLines);
    expectOneFailure(throughLink,
                     {"canonical", "Cannot convert character sequence", "c:\\zor\\\\"});
    EXPECT_EQ(throughLink.err,
              "pathprobe: canonical: Cannot convert character sequence [c:\\zor\\\\]\n");
}

TEST_F(Faults, ALongChainOfLinks) {
    // c:\zor is the first of 64 links: too many to resolve, while the link itself is seen.
    std::filesystem::remove_all(driveC("zor"));
    makeFolder(driveC("end"));
    for (int i = 0; i < 64; ++i) {
        hostLink(i == 63 ? "end" : numbered("l", i + 1),
                 i == 0 ? driveC("zor") : driveC("l" + std::to_string(i)));
    }
    const RunResult result = run();
    expectStartsWith(result, {"0", "0", "1", "0", "\"c:\" -> not an absolute path", "\"C:\\\\\"",
                              "\"c:\\\\\" -> \"C:\\\\\"",
                              "\"c:\\\\zor\\\\..\\\\zor\" -> bailing out because path is a "
                              "symlink while symlink resolving is disabled",
                              "\"\""});
    expectOneFailure(result,
                     {"canonical", "The name of the file cannot be resolved by the system."});
}

TEST_F(Faults, VeryLongPaths) {
    // Over 260 characters: as any other path.
    std::string host = driveC("zor");
    std::string windows = "c:\\zor";
    for (int i = 0; i < 10; ++i) {
        const std::string name = std::string(30, static_cast<char>('a' + i));
        host += "/" + name;
        windows += "\\" + name;
    }
    makeFolder(host);
    ASSERT_GT(windows.size(), 260u);
    std::string expected = windows;
    expected[0] = 'C';
    EXPECT_EQ(winfs::canonical(path(windows)).string(), expected);
    EXPECT_EQ(winfs::weakly_canonical(path(windows + "\\missing")).string(),
              expected + "\\missing");

    // Deeper than the host's PATH_MAX, within Windows's 32,767: made, found and resolved alike.
    for (const std::size_t length : {4502u, 9002u, 24002u}) {
        SCOPED_TRACE(length);
        std::string deep = "c:\\zor\\deep" + std::to_string(length);
        std::vector<std::string> names = {"deep" + std::to_string(length)};
        while (deep.size() < length) {
            names.push_back(std::string(std::min<std::size_t>(100, length - deep.size()), 'd'));
            deep += "\\" + names.back();
        }
        makeDeepFolders(driveC("zor"), names);
        std::string canonicalForm = deep;
        canonicalForm[0] = 'C';
        std::error_code ec;
        EXPECT_EQ(winfs::canonical(path(deep), ec).string(), canonicalForm) << ec.message();
        EXPECT_EQ(winfs::status(path(deep), ec).type(), winfs::file_type::directory)
            << ec.message();
        EXPECT_EQ(winfs::weakly_canonical(path(deep + "\\missing"), ec).string(),
                  canonicalForm + "\\missing")
            << ec.message();
        EXPECT_FALSE(winfs::create_directories(path(deep), ec));
        EXPECT_FALSE(ec) << ec.message();
        EXPECT_TRUE(winfs::create_directories(path(deep + "\\new\\er"), ec)) << ec.message();
        EXPECT_TRUE(winfs::is_directory(path(deep + "\\new\\er")));
    }
    // No descriptor free when the map is read: that call fails, and once descriptors are free
    // again, deep paths resolve as before.
    const std::string deepest = "c:\\zor\\deep24002";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit few{};
        ::getrlimit(RLIMIT_NOFILE, &few);
        few.rlim_cur = std::min<rlim_t>(few.rlim_cur, 256);
        ::setrlimit(RLIMIT_NOFILE, &few);
        std::vector<int> filled;
        const auto fill = [&] {
            for (int fd; (fd = ::open("/", O_PATH | O_CLOEXEC)) >= 0;)
                filled.push_back(fd);
        };
        fill();
        winfs::reloadDrives();
        fill();  // those that the map it replaced let go
        std::error_code ec;
        winfs::canonical(path("c:\\zor"), ec);
        if (ec != winfs::make_error_code(winfs::ERROR_TOO_MANY_OPEN_FILES)) ::_exit(3);
        for (const int fd : filled)
            ::close(fd);
        if (!winfs::is_directory(path(deepest + "\\" + std::string(100, 'd')), ec)) ::_exit(4);
        // The walk holds a few folders however deep the path: with 12 descriptors free, the
        // deepest path resolves name by name, in capitals.
        fill();
        for (int k = 0; k < 12; ++k, filled.pop_back())
            ::close(filled.back());
        std::string capitals = deepest;
        while (capitals.size() < 24002)
            capitals +=
                "\\" + std::string(std::min<std::size_t>(100, 24002 - capitals.size()), 'D');
        std::transform(capitals.begin(), capitals.end(), capitals.begin(), ::toupper);
        if (!winfs::is_directory(path(capitals), ec)) ::_exit(5);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "3: the first call did not fail, 4: a deep path failed, 5: so did one in capitals";

    std::string made = "c:\\zor\\made";
    while (made.size() < 10002)
        made += "\\" + std::string(std::min<std::size_t>(100, 10002 - made.size()), 'm');
    std::error_code madeError;
    EXPECT_TRUE(winfs::create_directories(path(made), madeError)) << madeError.message();
    EXPECT_TRUE(winfs::is_directory(path(made)));

    // Over 32,767 characters: longer than Windows takes.
    std::string tooLong = "c:\\zor";
    while (tooLong.size() <= 32767)
        tooLong += "\\" + std::string(200, 'x');
    for (const auto& operation : std::vector<std::function<path(const path&, std::error_code&)>>{
             [](const path&p, std::error_code&ec) { return winfs::canonical(p, ec); },
             [](const path&p, std::error_code&ec) { return winfs::weakly_canonical(p, ec); },
             [](const path&p, std::error_code&ec) { return winfs::absolute(p, ec); },
         }) {
        std::error_code ec;
        EXPECT_TRUE(operation(path(tooLong), ec).empty());
        EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_FILENAME_EXCED_RANGE));
    }
    std::error_code ec;
    EXPECT_EQ(winfs::status(path(tooLong), ec).type(), winfs::file_type::none);
    EXPECT_EQ(ec, winfs::make_error_code(winfs::ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
