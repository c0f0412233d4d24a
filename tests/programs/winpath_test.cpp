// winpath, run as the real program in C:\zor of the tree of buildTree(): each operation, failures,
// exit statuses, --json parsed back, and the conversions beside Wine's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "drive_fixture.h"
#include "subprocess.h"

namespace {

class Winpath : public DriveFixture {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        buildTree();
    }
    RunResult run(std::vector<std::string> args, const std::string& input = {},
                  const std::string& winePrefix = {}) const {
        args.insert(args.begin(), WINPATH_EXE);
        return runProgram(args, {"WINEPREFIX=" + (winePrefix.empty() ? prefix() : winePrefix)},
                          driveC("zor"), input);
    }
};

struct Row {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
    std::string input = {};       // standard input
    std::string winePrefix = {};  // when not prefix()
};

using namespace std::string_literals;

const char* const kBailOut =
    "bailing out because path is a symlink while symlink resolving is disabled\n";

TEST_F(Winpath, EachOperationOnEachPath) {
    const std::string tooLong = "c:\\" + std::string(32768, 'x');
    // Drive C's folder reached through a link, as <prefix>/dosdevices/c: reaches it.
    hostLink(driveC(), temp("toc"));
    hostLink("/", temp("toroot"));  // drive Z's folder, reached through a link
    makeFolder(temp("p:x/drive_c"));
    std::ofstream(temp("lines"), std::ios::binary) << "c:\\zor\r\nc:\\x\n";
    std::ofstream(temp("names"), std::ios::binary)
        << "c:\\a\nb\0c:\\c\\\0"s;  // a prefix whose host paths cannot stand in a ':' list
    const std::string invalidName =
        "The filename, directory name, or volume label syntax is incorrect.";
    // Host names that Windows reads as another file: "trail." and "trail " are "trail", "nul" is
    // the device, "sub." is "sub".
    makeFolder(driveC("zor/odd/sub."));
    for (const char* name : {"trail", "trail.", "trail ", "nul", "sub./x"})
        makeFile(driveC("zor/odd/") + name);
    // A prefix without drive Z:, whose other host paths Wine writes under \\?\unix.
    makeFolder(temp("noz/dosdevices"));
    hostLink(driveC(), temp("noz/dosdevices/c:"));
    const std::string unixTemp = "\\\\?\\unix" + throughZ(temp()).substr(2);
    makeFolder(driveC("zor/Program Files/app"));
    makeFile(driveC("zor/a b.c.d"));
    // Two names that share one short name, PROG~02B, which the first in NTFS's order owns; a long
    // name beside a name that is its short name.
    makeFolder(driveC("sn/Program Files 0313"));
    makeFile(driveC("sn/Program Files 1209"));
    makeFolder(driveC("lit/Program Files"));
    makeFile(driveC("lit/PROG~FBU"));
    // 308 characters: past MAX_PATH, which --max-path holds winpath to.
    const std::string deep = "c:\\zor\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
    makeFolder(driveC("zor/" + std::string(150, 'a') + "/" + std::string(150, 'b')));
    const std::string deepEchoed =
        deep.substr(0, 120) + "..." + std::string(60, 'b') + " (308 bytes)";
    // Records that normalise to "c:\" and `last`, of `length` bytes, and how a failure echoes them.
    const auto dotted = [](std::size_t length, const std::string& last) {
        std::string record = "c:\\";
        while (record.size() + last.size() < length)
            record += ".\\";
        return record + last;
    };
    const auto echoedRecord = [](const std::string& record) {
        return record.substr(0, 120) + "..." + record.substr(record.size() - 60) + " (" +
               std::to_string(record.size()) + " bytes)";
    };
    const std::string atBound = dotted(131071, "xx");
    const std::string pastBound = dotted(131072, "xxx");
    const std::string huge =
        dotted(1 << 20, "0123456789012345678901234567890123456789012345678901234567890");
    const std::string tooLongText = "The filename or extension is too long.";
    std::ofstream(temp("nul"), std::ios::binary) << "c:\\zor\0\nc:\\zor\n"s;
    // clang-format off
    const Row rows[] = {
        {{"absolute", "c:foo", "x\\..\\y", "d:\\a\\..\\b\\", "\\\\server\\share\\a\\..\\b"},
         "C:\\zor\\foo\nC:\\zor\\y\nd:\\b\\\n\\\\server\\share\\b\n", "", 0},
        {{"canonical", "c:\\ZOR\\rel\\inner", "c:\\zor\\nothere", "c:\\zor\\loop1"},
         "C:\\zor\\store\\inner\n",
         "winpath: canonical: The system cannot find the file specified. [c:\\zor\\nothere]\n"
         "winpath: canonical: The name of the file cannot be resolved by the system. [c:\\zor\\loop1]\n",
         1},
        // ".." goes before the link is read, as on Windows.
        {{"weakly_canonical", "c:\\zor\\hop\\x\\", "c:\\zor\\hop\\..\\x", "c:\\zor\\MIXED\\new"},
         "C:\\zor\\store\\inner\\x\\\nC:\\zor\\x\nC:\\zor\\Mixed\\new\n", "", 0},
        {{"status", "c:\\zor", "c:\\zor\\file.txt", "c:\\zor\\nothere", "c:\\zor\\dangling", "q:\\x"},
         "directory\nregular\nnot_found\nnot_found\nnot_found\n", "", 0},
        {{"status", "c:\\zor\\loop1"},
         "", "winpath: status: The name of the file cannot be resolved by the system. [c:\\zor\\loop1]\n", 1},
        {{"normal", "c:\\a\\.\\b\\..\\c", "a/b/../../..", "c:x\\..", ""},
         "c:\\a\\c\n..\nc:\n\n", "", 0},
        {{"decompose", "C:\\temp\\test.txt"},
         "\nC:\\temp\\test.txt\nroot_name\tC:\nroot_directory\t\\\nroot_path\tC:\\\n"
         "relative_path\ttemp\\test.txt\nis_absolute\t1\nparent_path\tC:\\temp\n"
         "filename\ttest.txt\nstem\ttest\nextension\t.txt\n", "", 0},
        // The last argument is the base; links are followed first; another drive has no
        // relative path.
        {{"relative", "c:\\zor\\rel\\inner", "c:\\zor", "d:\\x", "c:\\zor\\store"},
         "inner\n..\n\n", "", 0},
        {{"proximate", "c:\\zor\\rel\\inner", "d:\\x", "c:\\zor\\loop1\\x", "c:\\zor\\store"},
         "inner\nd:\\x\n",
         "winpath: proximate: The name of the file cannot be resolved by the system. "
         "[c:\\zor\\loop1\\x] [c:\\zor\\store]\n", 1},
        {{"canonpath", "c:\\zor\\rel", "rel", "c:\\zor\\nothere\\..\\store"},
         std::string(kBailOut) + "\nnot an absolute path\n" + kBailOut + "\nC:\\zor\\store\n", "", 0},
        {{"canonpath", "--resolve-symlinks", "c:\\zor\\rel"}, "C:\\zor\\store\n", "", 0},
        {{"abspath", "--base", "c:\\zor\\store", "inner", "c:\\x"}, "C:\\zor\\store\\inner\nC:\\x\n", "", 0},
        {{"abspath", "--base", "store", "inner"},
         "dir is not an absolute path\nnot an absolute path\nC:\\zor\\store\\inner\n", "", 0},
        {{"abspath", "sub\\up"}, std::string(kBailOut) + "\n", "", 0},
        // A name that is not UTF-8 fails alone; the next path is answered.
        {{"absolute", "caf\xe9", "c:\\"},
         "c:\\\n", "winpath: absolute: Cannot convert character sequence [caf\xe9]\n", 1},
        // canonPath throws here, on its first look at the disk.
        // A long path is echoed shortened.
        {{"canonpath", tooLong, "c:\\zor"}, "C:\\zor\n",
         "winpath: canonpath: The filename or extension is too long. [c:\\" + std::string(117, 'x') +
             "..." + std::string(60, 'x') + " (32771 bytes)]\n", 1},
        // The longest drive folder leads, a link to one counting as it; ".." by its text, not
        // through the link; relative to the host's working folder; a trailing '/' kept.
        {{"windows", driveC("zor") + "/store/", temp("y/../z"), temp("toc/zor/"), temp("toc/../x"),
          "store/x", driveC(), "/", temp("a\\b"), ""},
         "C:\\zor\\store\\\n" + expand("@\\z\n") + "C:\\zor\\\n" + expand("@\\x\n") +
             "C:\\zor\\store\\x\nC:\\\nZ:\\\n",
         "winpath: windows: " + invalidName + " [" + temp("a\\b") + "]\n"
         "winpath: windows: " + invalidName + " []\n", 1},
        {{"windows", temp("toroot/etc"), temp("toroot")}, "Z:\\etc\nZ:\\\n", "", 0},
        // A path already in the form asked for comes back as it is, made full, from any folder.
        {{"windows", "C:\\zor", "z:/zor/../x", "A:\\", "\\\\server\\share\\a"},
         "C:\\zor\nz:\\x\nA:\\\n\\\\server\\share\\a\n", "", 0},
        {{"-u", temp("x"), "/"}, temp("x") + "\n/\n", "", 0},
        // The existing head in its case on disk and links followed, after ".." by its text.
        {{"host", "c:\\ZOR\\Mixed\\new\\", "c:\\zor\\hop\\..\\rel\\inner", "c:\\zor\\store\\", "c:\\",
          "z:\\", "q:\\x", "nul"},
         driveC("zor/Mixed/new/") + "\n" + driveC("zor/store/inner") + "\n" +
             driveC("zor/store/") + "\n" + driveC() + "/\n/\n",
         "winpath: host: drive Q: is not mapped in the prefix " + prefix() + " [q:\\x]\n"
         "winpath: host: a device (\\\\.\\nul), which no host file stands for [nul]\n", 1},
        // What has no host path says why; a path over 200 bytes is cut between characters.
        {{"host", "c:\\zor\\file.txt:s", "q:\\" + std::string(116, 'x') + "\u00e9" + std::string(130, 'y'),
          "q:\\" + std::string(197, 'z')}, "",
         "winpath: host: a stream (file.txt:s), which no host file holds [c:\\zor\\file.txt:s]\n"
         "winpath: host: drive Q: is not mapped in the prefix " + prefix() + " [q:\\" +
             std::string(116, 'x') + "\u00e9..." + std::string(60, 'y') + " (251 bytes)]\n"
         "winpath: host: drive Q: is not mapped in the prefix " + prefix() + " [q:\\" +
             std::string(197, 'z') + "]\n", 1},
        // The tail's cut, 60 bytes from the end, falls inside the 'é': the tail starts after it.
        {{"host", "q:\\" + std::string(200, 'x') + "\u00e9" + std::string(59, 'y'), "\\\\?\\unix\\tmp\\a|b"}, "",
         "winpath: host: drive Q: is not mapped in the prefix " + prefix() + " [q:\\" +
             std::string(117, 'x') + "..." + std::string(59, 'y') + " (264 bytes)]\n"
         "winpath: host: " + invalidName + " [\\\\?\\unix\\tmp\\a|b]\n", 1},
        // No longer a path than Windows takes: 32,767 characters.
        {{"windows", "/" + std::string(32764, 'x'), "/" + std::string(32765, 'x')},
         "Z:\\" + std::string(32764, 'x') + "\n",
         "winpath: windows: The filename or extension is too long. [/" + std::string(119, 'x') + "..." +
             std::string(60, 'x') + " (32766 bytes)]\n", 1},
        // Each name in its short form, or its long one; a name that is its own kept as given; what
        // is missing fails, at any depth, as GetShortPathNameW and GetLongPathNameW fail.
        {{"short", "c:\\zor\\program files\\app\\", "C:\\ZOR\\a b.c.d", "store\\..\\Program Files", "c:\\zor\\nothere",
          "c:\\zor\\nothere\\PROG~FBU"},
         "c:\\zor\\PROG~FBU\\app\\\nC:\\zor\\A_B_~U2P.D\nstore\\..\\PROG~FBU\n",
         "winpath: short: The system cannot find the file specified. [c:\\zor\\nothere]\n"
         "winpath: short: The system cannot find the file specified. [c:\\zor\\nothere\\PROG~FBU]\n", 1},
        {{"-l", "c:\\zor\\PROG~FBU\\APP", "a_b_~u2p.d", "c:\\zor\\none\\PROG~FBU", "c:\\zor\\prog~fbu"},
         "c:\\zor\\Program Files\\app\na b.c.d\nc:\\zor\\Program Files\n",
         "winpath: long: The system cannot find the file specified. [c:\\zor\\none\\PROG~FBU]\n", 1},
        {{"-m", "-s", "c:\\zor\\Program Files"}, "c:/zor/PROG~FBU\n", "", 0},
        // A short name only where it names that file alone in its folder.
        {{"short", "c:\\sn\\program files 1209", "c:\\sn\\Program Files 0313\\", "c:\\lit\\Program Files"},
         "c:\\sn\\Program Files 1209\nc:\\sn\\PROG~02B\\\nc:\\lit\\Program Files\n", "", 0},
        {{"long", "c:\\sn\\prog~02b", "c:\\lit\\prog~fbu"}, "c:\\sn\\Program Files 0313\nc:\\lit\\PROG~FBU\n", "", 0},
        // --max-path: past MAX_PATH a path is missing unless written with \\?\\; absolute answers.
        {{"--max-path", "status", deep, "\\\\?\\" + deep, "c:\\zor"}, "not_found\ndirectory\ndirectory\n", "", 0},
        {{"status", deep}, "directory\n", "", 0},
        {{"--max-path", "canonical", deep, "c:\\zor"}, "C:\\zor\n",
         "winpath: canonical: The system cannot find the path specified. [" + deepEchoed + "]\n", 1},
        {{"absolute", "--max-path", deep}, deep + "\n", "", 0},
        // A link as the last name is named, as rm and mv need it; the links before it are followed.
        {{"host", "c:\\zor\\REL", "c:\\zor\\dangling", "c:\\zor\\upper\\inner"},
         driveC("zor/rel") + "\n" + driveC("zor/dangling") + "\n" + driveC("zor/store/inner") + "\n", "", 0},
        // Each written so that host reads it back as the same file, and Windows 10 and Wine too,
        // for whom "con.txt" is a device; "nul" before the last name is a folder.
        {{"windows", "odd/trail", "odd/trail.", driveC("zor/odd/trail "), "odd/nul", "odd/sub./x/",
          "odd/a..", "odd/nul/x", "odd/con.txt", "odd/nulx", "\\\\?\\C:\\zor\\odd\\trail."},
         "C:\\zor\\odd\\trail\n\\\\?\\C:\\zor\\odd\\trail.\n\\\\?\\C:\\zor\\odd\\trail \n"
         "\\\\?\\C:\\zor\\odd\\nul\n\\\\?\\C:\\zor\\odd\\sub.\\x\\\n\\\\?\\C:\\zor\\odd\\a..\n"
         "C:\\zor\\odd\\nul\\x\n\\\\?\\C:\\zor\\odd\\con.txt\nC:\\zor\\odd\\nulx\n"
         "\\\\?\\C:\\zor\\odd\\trail.\n", "", 0},
        {{"host", "\\\\?\\C:\\zor\\odd\\TRAIL.", "\\\\?\\c:\\zor\\odd\\trail ", "\\\\?\\C:\\zor\\odd\\nul",
          "\\\\?\\C:\\zor\\odd\\sub.\\x", "c:\\zor\\odd\\trail.", "\\\\?\\C:\\zor\\odd\\x\\..\\trail",
          "\\\\?\\C:\\zor\\.\\odd"},
         driveC("zor/odd/trail.") + "\n" + driveC("zor/odd/trail ") + "\n" + driveC("zor/odd/nul") +
             "\n" + driveC("zor/odd/sub./x") + "\n" + driveC("zor/odd/trail") + "\n",
         "winpath: host: " + invalidName + " [\\\\?\\C:\\zor\\odd\\x\\..\\trail]\n"
         "winpath: host: " + invalidName + " [\\\\?\\C:\\zor\\.\\odd]\n", 1},
        // With '/', Windows reads "//?/" as a path to tidy: "trail." would be "trail".
        {{"-m", "windows", "odd/trail", "odd/trail."}, "C:/zor/odd/trail\n",
         "winpath: windows: \\\\?\\C:\\zor\\odd\\trail. keeps its names only as written, with '\\': "
         "--mixed cannot write it [odd/trail.]\n", 1},
        // Outside every drive, as Wine writes it, and read back from any prefix.
        {{"windows", "/usr/bin", temp("x/"), "/", temp("trail."), driveC("zor")},
         "\\\\?\\unix\\usr\\bin\n" + unixTemp + "\\x\\\n\\\\?\\unix\\\n" + unixTemp +
             "\\trail.\nC:\\zor\n", "", 0, "", temp("noz")},
        {{"host", "\\\\?\\unix\\usr\\bin", "\\??\\UNIX\\tmp\\x\\", "\\\\?\\unix", "\\\\.\\unix\\usr\\..\\lib",
          "\\\\?\\unix\\usr\\..\\lib"},
         "/usr/bin\n/tmp/x/\n/\n/lib\n",
         "winpath: host: " + invalidName + " [\\\\?\\unix\\usr\\..\\lib]\n", 1},
        // -p: lists, element by element; an empty one kept, one holding ';' quoted as PATH does.
        {{"-p", "windows", driveC("a") + ":" + temp("b;c") + "::/"},
         expand("C:\\a;\"@\\b;c\";;Z:\\\n"), "", 0},
        {{"-m", "-p", "-w", driveC("a") + ":" + driveC("zor")}, "C:/a;C:/zor\n", "", 0},
        {{"-p", "host", "C:\\a;\"c:\\x;y\";;c:\\zor\\rel", "/usr/bin:/bin"},
         driveC("a") + ":" + driveC("x;y") + "::" + driveC("zor/rel") + "\n/usr/bin:/bin\n", "", 0},
        {{"-p", "host", "c:\\a;q:\\b"}, "",
         "winpath: host: drive Q: is not mapped in the prefix " + prefix() +
             " [q:\\b] in the list [c:\\a;q:\\b]\n", 1},
        {{"-p", "host", "c:\\a"}, "",
         "winpath: host: a host path holding ':' cannot stand in a list: " + temp("p:x/drive_c/a") +
             " [c:\\a] in the list [c:\\a]\n", 1, "", temp("p:x")},
        // --mixed for what prints a Windows path, and nothing else.
        {{"--mixed", "relative", "c:\\zor\\store\\inner", "c:\\zor"}, "store/inner\n", "", 0},
        {{"-m", "windows", driveC("zor")}, "C:/zor\n", "", 0},
        // The spellings of winepath, cygpath and wslpath: every argument after -w or -u is a path.
        {{"-w", "-a", driveC("zor"), "windows"}, "C:\\zor\nC:\\zor\\windows\n", "", 0},
        {{"-u", "c:\\zor\\store"}, driveC("zor/store") + "\n", "", 0},
        {{"-m", "decompose", "c:\\a"},
         "\nc:\\a\nroot_name\tc:\nroot_directory\t\\\nroot_path\tc:\\\nrelative_path\ta\n"
         "is_absolute\t1\nparent_path\tc:\\\nfilename\ta\nstem\ta\nextension\t\n", "", 0},
        // Standard input where "-" stands, one path a line, a CR before the LF dropped; an empty
        // line is the empty path.
        {{"absolute", "c:\\a", "-", "c:\\z"}, "c:\\a\nc:\\b\nC:\\zor\\c\nc:\\z\n",
         "winpath: absolute: " + invalidName + " []\n", 1, "c:\\b\r\n\nc"},
        // -f: a file's paths as standard input's, before the PATHs; one that cannot be read is
        // reported, and the rest answered.
        {{"-u", "-f", temp("lines"), "--file", "-", "c:\\y"},
         driveC("zor") + "\n" + driveC("x") + "\n" + driveC("z") + "\n" + driveC("y") + "\n", "", 0,
         "c:\\z"},
        {{"-0", "absolute", "--file", temp("names")}, "c:\\a\nb\0c:\\c\\\0"s, "", 0},
        {{"-w", "-f", temp("nothere"), "-f", temp(), "/"}, "Z:\\\n",
         "winpath: cannot read " + temp("nothere") + ": No such file or directory\n"
         "winpath: cannot read " + temp() + ": Is a directory\n", 1},
        // -0: NUL-separated both ways, a newline in a name kept.
        {{"-0", "absolute", "-"}, "c:\\a\nb\0c:\\c\\\0"s, "", 0, "c:\\a\nb\0c:\\c\\\0"s},
        {{"-0", "absolute", "-"}, "c:\\a\r\0"s, "", 0, "c:\\a\r\0"s},  // a CR of the name's own
        // A record past the longest argument the host passes (131,071 bytes, more than any path
        // that Windows takes) fails, and is not held whole; a CR before its LF is no part of it.
        {{"normal", "-"}, "c:\\xx\nc:\\zor\n",
         "winpath: normal: " + tooLongText + " [" + echoedRecord(pastBound) + "]\n"
         "winpath: normal: " + tooLongText + " [" + echoedRecord(huge) + "]\n", 1,
         atBound + "\r\n" + pastBound + "\n" + huge + "\r\nc:\\zor\n"},
        // No file is named with a NUL, which a line may hold: every operation refuses it, and a
        // failure line shows it.
        {{"status", "-f", temp("nul")}, "directory\n",
         "winpath: status: " + invalidName + " [c:\\zor<NUL>]\n", 1},
        {{"host", "-"}, driveC("zor") + "\n",
         "winpath: host: " + invalidName + " [c:\\zor\\a<NUL>b]\n", 1, "c:\\zor\\a\0b\nc:\\zor\n"s},
        {{"-p", "host", "-"}, "",
         "winpath: host: " + invalidName + " [c:\\zor\\a<NUL>b] in the list [c:\\zor;c:\\zor\\a<NUL>b]\n",
         1, "c:\\zor;c:\\zor\\a\0b\n"s},
        {{"-0", "canonpath", "c:\\zor\\rel"}, "bailing out because path is a symlink while symlink "
         "resolving is disabled\0\0"s, "", 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        const RunResult result = run(row.args, row.input, row.winePrefix);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.status, row.status);
    }
}

// On a prefix that Wine makes its own (dosdevices included) on first use, the same Windows path
// as `winepath -w` for each host path, Wine's server started first.
TEST_F(Winpath, WindowsAnswersAsWinepath) {
    const RunResult found = runProgram({"/bin/sh", "-c", "command -v winepath"});
    if (found.status != 0) GTEST_SKIP() << "winepath is not installed: scripts/test installs it";
    const std::string winepath = splitLines(found.out).at(0);
    const std::string wineserver = winepath.substr(0, winepath.rfind('/')) + "/wineserver";
    const std::vector<std::string> env{"WINEPREFIX=" + prefix(), "WINEDEBUG=-all"};
    const RunResult started = runProgram(
        {"/bin/sh", "-c", R"sh({ "$0" -p && "$1" -w /; } >/dev/null 2>&1)sh", wineserver, winepath},
        env, driveC("zor"));
    ASSERT_EQ(started.status, 0) << started.err;
    hostLink(driveC(), temp("toc"));

    const std::vector<std::string> hosts{
        driveC("zor"),
        driveC("zor/store/"),
        prefix() + "/dosdevices/c:/zor",
        driveC(),
        "/",
        temp("nothere/x"),
        temp("a/../b"),
        temp("x/./y/"),
        temp("toc/zor"),
        temp("toc"),
        driveC("zor/rel/inner"),
        "store/inner",
        "../x",
        driveC("zor/Mixed"),
    };
    const auto compare = [&](const std::vector<std::string>& paths) {
        std::vector<std::string> args{winepath, "-w"};
        args.insert(args.end(), paths.begin(), paths.end());
        const RunResult wine = runProgram(args, env, driveC("zor"));
        ASSERT_EQ(wine.status, 0) << wine.err;
        args.erase(args.begin(), args.begin() + 2);
        args.insert(args.begin(), "windows");
        const RunResult ours = run(args);
        EXPECT_EQ(ours.status, 0) << ours.err;
        const std::vector<std::string> expected = splitLines(wine.out);
        const std::vector<std::string> got = splitLines(ours.out);
        ASSERT_EQ(got.size(), paths.size()) << ours.out;
        ASSERT_EQ(expected.size(), paths.size()) << wine.out;
        for (std::size_t i = 0; i < paths.size(); ++i)
            EXPECT_EQ(got[i], expected[i]) << paths[i];
    };
    compare(hosts);
    // Without drive Z:, as in a sandboxed prefix, what lies outside drive C is "\\?\unix\...".
    std::filesystem::remove(prefix() + "/dosdevices/z:");
    compare({"/usr/bin", temp("nothere/x/"), temp("a/../b"), "/", driveC("zor")});
    runProgram({wineserver, "-k"}, env);
}

TEST_F(Winpath, UsageErrorsHelpAndVersion) {
    struct Usage {
        std::vector<std::string> args;
        int status;
        const char* inOutput;  // on standard output for status 0, else on standard error
        std::string winePrefix = {};
        const char* notInOutput = "\x01";
    };
    const Usage rows[] = {
        {{}, 2, "OPERATION is required"},
        {{"frob", "x"}, 2, "frob not in"},
        {{"absolute"}, 2, "PATH is required"},
        {{"normal", "--base", "c:\\", "x"}, 2, "--base: is for abspath only"},
        {{"absolute", "--nope", "x"}, 2, "--nope"},
        // Among many paths, an option is still the parser's.
        {{"absolute", "x", "y", "z", "--nope"}, 2, "--nope"},
        // An option not taken is named, not the path after it taken for an operation.
        {{"-x", "/tmp/x"}, 2, "not expected: -x\n"},
        {{"-w", "-u", "x"}, 2, "-w, -u, -s, -l: give one of them"},
        {{"-l", "-s", "x"}, 2, "-w, -u, -s, -l: give one of them"},
        {{"-u"}, 2, "PATH is required"},
        {{"relative", "x"}, 2, "BASE: is required"},
        {{"relative", "x", "-"}, 2, "BASE: is given as an argument, not read"},
        {{"-p", "normal", "x"}, 2, "-p: is for windows and host only"},
        // Taken from the working folder, it would change with it: refused before it is read.
        {{"host", "c:\\x"}, 2, "WINEPREFIX is not an absolute path: pfx\n", "pfx"},
        {{"--help"}, 0, "Usage: winpath [OPTIONS] OPERATION PATH..."},
        // The conversions first; an operation's own help names only the options it takes.
        {{"--help"}, 0, "\nConversions (one result per PATH):\n  windows HOSTPATH...  "},
        {{"--help"},
         0,
         "\n\nWhat Windows makes of a Windows path (one result per PATH):\n  absolute "},
        {{"absolute", "--help"},
         0,
         "Usage: winpath [OPTIONS] absolute PATH...\n\nabsolute: ",
         {},
         "--base"},
        {{"-u", "-h"}, 0, "       winpath [OPTIONS] -u WINPATH...\n", {}, "--mixed"},
        {{"abspath", "-h"}, 0, "--base DIR", {}, "--path"},
        {{"canonpath", "-h"}, 0, "--resolve-symlinks", {}, "--base"},
        {{"windows", "--help"}, 0, "(\\\\?\\unix\\usr\\bin)", {}, "--version"},
        {{"host", "--help"}, 0, "--json"},
        {{"short", "--help"}, 0, "       winpath [OPTIONS] -s WINPATH...\n", {}, "\n  -l "},
        {{"long", "--help"}, 0, "       winpath [OPTIONS] -l WINPATH...\n", {}, "\n  -s "},
        {{"--help", "frob"}, 2, "frob not in"},
        {{"--version"}, 0, "winpath " PATHPROBE_VERSION "\n"},
    };
    for (const Usage& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "(none)" : row.args[0]);
        const RunResult result = run(row.args, {}, row.winePrefix);
        EXPECT_EQ(result.status, row.status);
        const std::string& text = row.status == 0 ? result.out : result.err;
        EXPECT_NE(text.find(row.inOutput), std::string::npos) << text;
        EXPECT_EQ(text.find(row.notInOutput), std::string::npos) << text;
        if (row.status != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind("winpath: ", 0), 0u) << result.err;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(driveC("zor/pfx"))) << "made by a refused prefix";
}

// Output as its reader meets it: each answer before a read of standard input that may wait, for a
// reader that sends a path at a time; an error line after the results written before it, where
// both streams go to one place. Output that cannot be written: a reader that goes away ends the
// run at once and quietly, even on endless input, as coreutils tools end; any other failure is
// said, with exit status 1.
TEST_F(Winpath, OutputThatCannotBeWritten) {
    const struct {
        const char* script;  // $0 is winpath, $1 a file that receives its standard error
        const char* out;
        const char* err;
    } rows[] = {
        {R"(yes 'c:\zor' | { timeout 10 "$0" status - 2>"$1"; [ $? != 124 ] || echo late >>"$1"; } |
            head -1)",
         "directory\n", ""},
        {R"("$0" -w / 2>"$1" >/dev/full; echo "$?")", "1\n",
         "winpath: cannot write to standard output: No space left on device\n"},
        {R"(mkfifo "$1.in" "$1.out" && { "$0" absolute - <"$1.in" >"$1.out" 2>"$1" & } &&
            exec 3>"$1.in" 4<"$1.out" && printf '%s\n' 'c:\a' >&3 &&
            { timeout 5 sh -c 'IFS= read -r line && printf "%s\n" "$line"' <&4 || echo late; })",
         "c:\\a\n", ""},
        {R"(: >"$1"; "$0" absolute 'c:\a' '' 'c:\b' 2>&1)",
         "c:\\a\nwinpath: absolute: The filename, directory name, or volume label syntax is "
         "incorrect. []\nc:\\b\n",
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        const RunResult result = runProgram({"/bin/sh", "-c", row.script, WINPATH_EXE, temp("err")},
                                            {"WINEPREFIX=" + prefix()}, driveC("zor"));
        EXPECT_EQ(result.out, row.out);
        std::ifstream errors(temp("err"));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(errors), {}), row.err);
    }
}

TEST_F(Winpath, JsonParsedBack) {
    const RunResult result =
        run({"--json", "canonpath", "c:\\zor\\store\\..\\Mixed", "caf\xe9", "c:\\zor\\rel"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    const nlohmann::json document = nlohmann::json::parse(result.out);
    ASSERT_EQ(document.size(), 3u) << result.out;
    EXPECT_EQ(document[0], nlohmann::json::parse(
                               R"({"operation": "canonpath", "input": "c:\\zor\\store\\..\\Mixed",
                      "result": "C:\\zor\\Mixed"})"));
    // Input that is not UTF-8 comes back with a replacement character.
    EXPECT_EQ(document[1]["input"], "caf\xef\xbf\xbd");
    EXPECT_EQ(document[1]["error"]["text"], "Cannot convert character sequence");
    EXPECT_FALSE(document[1].contains("result"));
    EXPECT_EQ(document[2]["diagnostics"],
              nlohmann::json::array({"bailing out because path is a symlink while symlink "
                                     "resolving is disabled"}));
    EXPECT_EQ(document[2]["result"], "");

    // --mixed writes a result with '/' there too.
    const nlohmann::json mixed =
        nlohmann::json::parse(run({"--json", "--mixed", "canonical", "c:\\zor\\rel"}).out);
    EXPECT_EQ(mixed[0]["result"], "C:/zor/store");

    const nlohmann::json failed =
        nlohmann::json::parse(run({"canonical", "--json", "c:\\zor\\nothere"}).out);
    EXPECT_EQ(failed[0]["error"], nlohmann::json::parse(R"({"code": 2, "category": "system",
                                        "text": "The system cannot find the file specified."})"));

    // A record holding a NUL, and one too long to be a path, echoed as a failure line echoes it.
    const nlohmann::json records = nlohmann::json::parse(
        run({"--json", "normal", "-"}, "c:\\a\0b\n"s + std::string(200000, 'a') + "\n").out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], nlohmann::json::parse(R"({"operation": "normal", "input": "c:\\a\u0000b",
                "error": {"code": 123, "category": "system", "text":
                "The filename, directory name, or volume label syntax is incorrect."}})"));
    const nlohmann::json tooLong = {
        {"operation", "normal"},
        {"input", std::string(120, 'a') + "..." + std::string(60, 'a') + " (200000 bytes)"},
        {"error",
         {{"code", 206},
          {"category", "system"},
          {"text", "The filename or extension is too long."}}}};
    EXPECT_EQ(records[1], tooLong);

    const nlohmann::json parts = nlohmann::json::parse(run({"--json", "decompose", "c:x.tar"}).out);
    EXPECT_EQ(parts[0]["result"],
              nlohmann::json::parse(
                  R"({"root_name": "c:", "root_directory": "", "root_path": "c:",
                      "relative_path": "x.tar", "is_absolute": "0", "parent_path": "c:",
                      "filename": "x.tar", "stem": "x", "extension": ".tar"})"));
}

}  // namespace
