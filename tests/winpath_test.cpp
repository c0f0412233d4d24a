// winpath, run as the real program in C:\zor of the tree of buildTree(): each operation, failures,
// exit statuses, and --json parsed back.
#include <gtest/gtest.h>

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
    RunResult run(std::vector<std::string> args) const {
        args.insert(args.begin(), WINPATH_EXE);
        return runProgram(args, {"WINEPREFIX=" + prefix()}, driveC("zor"));
    }
};

struct Row {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

const char* const kBailOut =
    "bailing out because path is a symlink while symlink resolving is disabled\n";

TEST_F(Winpath, EachOperationOnEachPath) {
    const std::string tooLong = "c:\\" + std::string(32768, 'x');
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
        {{"canonpath", tooLong, "c:\\zor"},
         "C:\\zor\n", "winpath: canonpath: The filename or extension is too long. [" + tooLong + "]\n", 1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        const RunResult result = run(row.args);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.status, row.status);
    }
}

TEST_F(Winpath, UsageErrorsHelpAndVersion) {
    struct Usage {
        std::vector<std::string> args;
        int status;
        const char* inOutput;  // on standard output for status 0, else on standard error
    };
    const Usage rows[] = {
        {{}, 2, "OPERATION is required"},
        {{"frob", "x"}, 2, "frob not in"},
        {{"absolute"}, 2, "PATH is required"},
        {{"normal", "--base", "c:\\", "x"}, 2, "--base: is for abspath only"},
        {{"absolute", "--nope", "x"}, 2, "--nope"},
        {{"relative", "x"}, 2, "BASE: is required"},
        {{"--help"}, 0, "Usage: winpath [OPTIONS] OPERATION PATH..."},
        {{"absolute", "--help"}, 0, "Operations"},
        {{"--version"}, 0, "winpath " PATHPROBE_VERSION "\n"},
    };
    for (const Usage& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "(none)" : row.args[0]);
        const RunResult result = run(row.args);
        EXPECT_EQ(result.status, row.status);
        const std::string& text = row.status == 0 ? result.out : result.err;
        EXPECT_NE(text.find(row.inOutput), std::string::npos) << text;
        if (row.status != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind("winpath: ", 0), 0u) << result.err;
        }
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

    const nlohmann::json failed =
        nlohmann::json::parse(run({"canonical", "--json", "c:\\zor\\nothere"}).out);
    EXPECT_EQ(failed[0]["error"], nlohmann::json::parse(R"({"code": 2, "category": "system",
                                        "text": "The system cannot find the file specified."})"));

    const nlohmann::json parts = nlohmann::json::parse(run({"--json", "decompose", "c:x.tar"}).out);
    EXPECT_EQ(parts[0]["result"],
              nlohmann::json::parse(
                  R"({"root_name": "c:", "root_directory": "", "root_path": "c:",
                      "relative_path": "x.tar", "is_absolute": "0", "parent_path": "c:",
                      "filename": "x.tar", "stem": "x", "extension": ".tar"})"));
}

}  // namespace
