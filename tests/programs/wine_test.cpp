// The Windows build run under Wine, beside the native build on the same prefix and from the same
// folder. Every line where the two differ must be one of the differences named below, each with
// its cause; the test prints each one it meets.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "subprocess.h"

namespace {

namespace host = std::filesystem;

struct Difference {
    const char* name;
    const char* cause;
    // Does this difference explain the native line and the Windows build's line?
    std::function<bool(const std::string& native, const std::string& windows)> explains;
};

std::string lowerDriveLetters(std::string text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] >= 'A' && text[i] <= 'Z' && text[i + 1] == ':') text[i] = char(text[i] + 32);
    }
    return text;
}

const std::vector<Difference>& knownDifferences() {
    static const std::vector<Difference> differences{
        {"drive letter case",
         "GCC's standard library on Windows keeps a drive letter as written; Windows's own, which "
         "winfs follows, gives it uppercase from canonical and weakly_canonical",
         [](const std::string& native, const std::string& windows) {
             return native != windows && lowerDriveLetters(native) == lowerDriveLetters(windows);
         }},
        {"drive-relative c:",
         "GCC's weakly_canonical on Windows leaves the drive-relative \"c:\" as it is; Windows's "
         "own "
         "resolves it to the drive's current folder, here its root",
         [](const std::string& native, const std::string& windows) {
             return native == "\"C:\\\\\"" && windows == "\"c:\"";
         }},
        {"temporary directory",
         "Wine sets TMP and TEMP from its registry (C:\\users\\<user>\\Temp); the native run takes "
         "the "
         "host's temporary folder through the drive map",
         [](const std::string& native, const std::string& windows) {
             const std::string label = "creating tmp path: ";
             return native.rfind(label, 0) == 0 && windows.rfind(label + "C:\\users\\", 0) == 0;
         }},
        {"error text",
         "GCC's standard library on Windows reports a failure with the C library's text (\"No "
         "such file or directory\"); Windows's own, which winfs follows, with the system's",
         [](const std::string& native, const std::string& windows) {
             const std::regex line(R"(^winpath: (\w+): .+ (\[.*\])$)");
             std::smatch n, w;
             return std::regex_match(native, n, line) && std::regex_match(windows, w, line) &&
                    n[1] == w[1] && n[2] == w[2];
         }},
        {"links not made",
         "Wine's CreateSymbolicLinkA reports success without making a link, and GCC's is_symlink "
         "on "
         "Windows reads no reparse point, so the Windows build resolves c:\\zor\\lnks as a missing "
         "name where the native build, whose links exist, bails out on the link",
         [](const std::string& native, const std::string& windows) {
             return native ==
                        "c:\\zor\\lnks -> bailing out because path is a symlink while symlink "
                        "resolving is disabled\n\"\"" &&
                    windows == "c:\\zor\\lnks -> \"c:\\\\zor\\\\lnks\"";
         }},
    };
    return differences;
}

// The line of one case of opencases, natively (winfs) and under Wine, where Wine answers otherwise
// than Windows; `native` is Windows's answer.
Difference openLine(const char* name, const char* cause, std::string native, std::string windows) {
    return {name, cause, [native, windows](const std::string& n, const std::string& w) {
                return n == native && w == windows;
            }};
}

// Where Wine opens otherwise than Windows, each with the source of Windows's answer. As root,
// Wine leaves the read-only attribute to the host, which lets root write any file; Windows
// refuses every account.
std::vector<Difference> openDifferences() {
    const std::string rest = " | data.txt:5 file.txt:2 store\\";
    std::vector<Difference> differences{
        openLine("TRUNCATE_EXISTING without write access",
                 "CreateFileW's documentation: TRUNCATE_EXISTING needs GENERIC_WRITE, and Windows "
                 "refuses the open with 87; Wine's CreateFileW asks for no write access and cuts "
                 "the file",
                 "TRUNCATE_EXISTING without write access: 87" + rest,
                 "TRUNCATE_EXISTING without write access: 0 | data.txt:0 file.txt:2 store\\"),
        openLine("::$DATA",
                 "Microsoft's documentation of file streams: \"name::$DATA\" is the file's own "
                 "data; Wine 8 knows no stream names and finds no such file",
                 "the file's own data stream: 0" + rest, "the file's own data stream: 2" + rest),
        openLine("a name of 256 characters",
                 "NTFS holds at most 255 UTF-16 units in a name: 206; Wine hands the name to the "
                 "host, whose ENAMETOOLONG it reports as a missing file",
                 "a name of 256 characters: 206" + rest, "a name of 256 characters: 2" + rest),
    };
    if (::geteuid() != 0) return differences;
    const char* const asRoot =
        "Windows refuses to write a file with the read-only attribute to any account (5); Wine "
        "leaves it to the host's write bits, which root passes";
    for (const auto& [native, windows] : {
             std::pair<std::string, std::string>{"a read-only file for writing: 5" + rest,
                                                 "a read-only file for writing: 0" + rest},
             {"a read-only file made over: 5" + rest,
              "a read-only file made over: 183 | data.txt:0 file.txt:2 store\\"},
             {"a read-only file appended to: 5" + rest, "a read-only file appended to: 183" + rest},
             {"ofstream of a read-only file: 5" + rest,
              "ofstream of a read-only file: 0 | data.txt:2 file.txt:2 store\\"},
         }) {
        differences.push_back(openLine("read-only as root", asRoot, native, windows));
    }
    return differences;
}

// The two texts are equal, or one known difference explains them; each one met is printed.
void expectExplained(const std::string& nativeText, const std::string& windowsText,
                     const std::string& where,
                     const std::vector<Difference>& differences = knownDifferences()) {
    if (nativeText == windowsText) return;
    for (const Difference& difference : differences) {
        if (difference.explains(nativeText, windowsText)) {
            std::cout << where << ": " << difference.name << "\n  native:  " << nativeText
                      << "\n  windows: " << windowsText << "\n  cause:   " << difference.cause
                      << "\n";
            return;
        }
    }
    ADD_FAILURE() << where << " differs for no known reason\n  native:  " << nativeText
                  << "\n  windows: " << windowsText;
}

std::optional<std::string> findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

class WineRun : public testing::Test {
  protected:
    void SetUp() override {
        wine_ = findOnPath("wine");
        if (!wine_) GTEST_SKIP() << "wine is not installed: scripts/test installs it";
        if (!host::exists(PATHPROBE_WINDOWS_EXE)) {
            GTEST_SKIP() << PATHPROBE_WINDOWS_EXE << " is not built: scripts/test builds it";
        }
        char pattern[] = "/tmp/pathprobe-wine.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        temp_ = host::canonical(pattern);
        host::create_directories(temp_ / "prefix/drive_c/zor/store");
        host::create_directories(temp_ / "work");
    }
    void TearDown() override {
        if (temp_.empty()) return;
        // Wine leaves its server running for a few seconds; it goes with the prefix.
        if (wine_) runProgram({wineserver(), "-k"}, env());
        std::error_code ec;
        host::remove_all(temp_, ec);
    }
    std::string wineserver() const { return wine_->substr(0, wine_->rfind('/')) + "/wineserver"; }
    std::vector<std::string> env() const {
        return {"WINEPREFIX=" + (temp_ / "prefix").string(),
                "WINEDEBUG=-all",
                "TMPDIR=" + temp_.string(),
                "TMP=",
                "TEMP=",
                "USERPROFILE="};
    }
    RunResult runWindows() const {
        return runProgram({*wine_, PATHPROBE_WINDOWS_EXE}, env(), (temp_ / "work").string());
    }
    RunResult runNative() const {
        return runProgram({PATHPROBE_EXE}, env(), (temp_ / "work").string());
    }
    // Wine's server and the helpers that it starts outlive the program that starts them, holding
    // its output open until they end. Start them once with `command` under Wine, writing nowhere,
    // and keep them for the calls that follow; the first run also makes the prefix, and says so
    // on standard error.
    RunResult startWine(std::vector<std::string> command) const {
        command.insert(
            command.begin(),
            {"/bin/sh", "-c", R"sh({ "$0" -p && "$@"; } >/dev/null 2>&1)sh", wineserver(), *wine_});
        return runProgram(command, env(), (temp_ / "work").string());
    }
    RunResult runWinpath(const char* program, std::vector<std::string> args) const {
        args.insert(args.begin(), program);
        if (program == std::string(WINPATH_WINDOWS_EXE)) args.insert(args.begin(), *wine_);
        return runProgram(args, env(), (temp_ / "work").string());
    }

    std::optional<std::string> wine_;
    host::path temp_;
};

std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

std::string joinLines(const std::vector<std::string>& lines, std::size_t from) {
    std::string joined;
    for (std::size_t i = from; i < lines.size(); ++i)
        joined += (i > from ? "\n" : "") + lines[i];
    return joined;
}

TEST_F(WineRun, WindowsBuildRunsTheProbeAndDiffersFromTheNativeOnlyAsExplained) {
    const RunResult windows = runWindows();
    ASSERT_EQ(windows.status, 0) << windows.err;
    // A Windows console program ends its lines with CR LF.
    EXPECT_NE(windows.out.find("\r\n"), std::string::npos);
    const std::vector<std::string> w = splitLines(withoutCarriageReturns(windows.out));

    // Its own shape: A reads 0 0 1 0, then B and C, the scratch directory and the final probe.
    ASSERT_GE(w.size(), 14u) << windows.out;
    EXPECT_EQ(std::vector<std::string>(w.begin(), w.begin() + 4),
              (std::vector<std::string>{"0", "0", "1", "0"}));
    const char* const shapes[] = {
        R"(^"c:" -> not an absolute path$)",
        R"(^"[cC]:(\\\\)?"$)",
        R"(^"c:\\\\" -> "[cC]:\\\\"$)",
        R"(^"c:\\\\zor\\\\\.\.\\\\zor" -> "[cC]:\\\\zor"$)",
        R"(^ da test -> [cC]:\\zor-hack\\foo$)",
        R"(^[cC]:\\zor$)",
        R"(^[cC]:\\zor\\asdf\\$)",
        R"(^Z:\\.*\\work$)",
        R"(^creating tmp path: [A-Za-z]:\\.*\\$)",
    };
    for (std::size_t i = 0; i < std::size(shapes); ++i) {
        EXPECT_TRUE(std::regex_match(w[4 + i], std::regex(shapes[i])))
            << "line " << 5 + i << ": " << w[4 + i];
    }
    EXPECT_EQ(w.back().rfind("c:\\zor\\lnks -> ", 0), 0u) << w.back();

    // The native build on the same prefix, after it, from the same folder.
    const RunResult native = runNative();
    ASSERT_EQ(native.status, 0) << native.err;
    const std::vector<std::string> n = splitLines(native.out);
    ASSERT_GE(n.size(), 14u) << native.out;

    // Line by line up to the scratch directory, then the link section as one block.
    for (std::size_t i = 0; i < 13; ++i)
        expectExplained(n[i], w[i], "line " + std::to_string(i + 1));
    expectExplained(joinLines(n, 13), joinLines(w, 13), "lines 14 on");
}

TEST_F(WineRun, WinpathAnswersAsTheNativeOneExceptAsExplained) {
    if (!host::exists(WINPATH_WINDOWS_EXE)) {
        GTEST_SKIP() << WINPATH_WINDOWS_EXE << " is not built: scripts/test builds it";
    }
    const RunResult started = startWine({WINPATH_WINDOWS_EXE, "--version"});
    ASSERT_EQ(started.status, 0) << started.err;
    // Long names whose short names Wine computes: two sharing the stem PROG, a space and dots; and
    // names in another case, with '/' and a doubled separator, which both calls keep as written.
    const host::path zor = temp_ / "prefix/drive_c/zor";
    host::create_directories(zor / "Program Files/app");
    host::create_directories(zor / "Program Files (x86)x");
    host::create_directories(zor / "Programs Data");
    for (const char* name : {"Program Files/app/readme.txt", "a b.c.d", "long file name.txt",
                             ".bashrc", "\xc3\xa9t\xc3\xa9.txt"}) {
        std::ofstream(zor / name).put('x');
    }
    const std::vector<std::string> shortRow{"short",
                                            "c:\\zor\\Program Files\\app\\readme.txt",
                                            "c:\\zor\\Program Files (x86)x",
                                            "c:\\zor\\Programs Data\\",
                                            "c:\\zor\\a b.c.d",
                                            "c:\\zor\\long file name.txt",
                                            "c:\\zor\\.bashrc",
                                            "c:\\zor\\store",
                                            "C:/ZOR/program files//app\\README.TXT",
                                            "c:\\zor\\nothere",
                                            "c:\\zor\\nothere\\Program Files"};
    const std::vector<std::string> longRow{"long",
                                           "c:\\zor\\PROG~FBU\\app\\readme.txt",
                                           "c:\\zor\\PROG~L3X",
                                           "c:\\zor\\PROG~QBV\\",
                                           "c:\\zor\\A_B_~U2P.D",
                                           "c:\\zor\\LONG~5R1.TXT",
                                           "c:\\zor\\_BAS~0WR",
                                           "c:\\zor\\store",
                                           "C:/ZOR/program files//APP\\README.TXT",
                                           "c:\\zor\\PROG~ZZZ",
                                           "c:\\zor\\nothere\\PROG~FBU"};
    const std::vector<std::vector<std::string>> rows{
        {"normal", "c:\\a\\.\\b\\..\\c", "a/b/../../.."},
        {"decompose", "C:\\temp\\test.txt", "c:x.tar"},
        {"status", "c:\\zor", "c:\\zor\\store\\", "c:\\nothere"},
        {"absolute", "c:foo", "x"},
        {"canonical", "c:\\zor\\store"},
        {"canonical", "c:\\nothere"},
        {"--json", "normal", "c:\\a\\..\\b"},
        shortRow,
        longRow,
    };
    for (const std::vector<std::string>& args : rows) {
        const std::string where = args[0] + " " + args[1];
        const RunResult windows = runWinpath(WINPATH_WINDOWS_EXE, args);
        const RunResult native = runWinpath(WINPATH_EXE, args);
        EXPECT_EQ(windows.status, native.status) << where << "\n" << windows.err;
        for (const auto& [n, w, stream] : {
                 std::tuple{splitLines(native.out), splitLines(withoutCarriageReturns(windows.out)),
                            ", line "},
                 std::tuple{splitLines(native.err), splitLines(withoutCarriageReturns(windows.err)),
                            ", standard error, line "},
             }) {
            ASSERT_EQ(w.size(), n.size()) << where << "\n" << windows.out << windows.err;
            for (std::size_t i = 0; i < n.size(); ++i)
                expectExplained(n[i], w[i], where + stream + std::to_string(i + 1));
        }
    }

    // winepath -s and -l on the same paths, and on one that Windows's argument line cannot carry
    // (a name with a character outside the code page): a missing path is an empty line there.
    const std::string winepath = wine_->substr(0, wine_->rfind('/')) + "/winepath";
    for (std::vector<std::string> args : {shortRow, longRow}) {
        const bool toShort = args[0] == "short";
        args.push_back(toShort ? "c:\\zor\\\xc3\xa9t\xc3\xa9.txt" : "c:\\zor\\_T_~~JGT.TXT");
        args[0] = toShort ? "-s" : "-l";
        args.insert(args.begin(), winepath);
        const RunResult wine = runProgram(args, env(), (temp_ / "work").string());
        ASSERT_EQ(wine.status, 0) << wine.err;
        const std::vector<std::string> expected = splitLines(withoutCarriageReturns(wine.out));
        args.erase(args.begin(), args.begin() + 2);
        args.insert(args.begin(), {"--json", toShort ? "short" : "long"});
        const RunResult native = runWinpath(WINPATH_EXE, args);
        EXPECT_EQ(native.status, 1) << native.err;
        const nlohmann::json answers = nlohmann::json::parse(native.out);
        ASSERT_EQ(expected.size(), answers.size()) << wine.out;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const nlohmann::json& answer = answers[i];
            SCOPED_TRACE(answer["input"].get<std::string>());
            if (expected[i].empty()) {
                EXPECT_EQ(answer["error"]["text"], "The system cannot find the file specified.");
            } else {
                EXPECT_EQ(answer["result"], expected[i]);
            }
        }
    }
}

// opencases's table of opens, each on a fresh c:\zor\opens: the Windows build's CreateFileW and
// ofstream under Wine, then winfs's, on the same prefix; line by line the same code and the same
// files left, but where Wine answers otherwise than Windows.
TEST_F(WineRun, OpensAnswerAsCreateFileWExceptWhereWineDiffersFromWindows) {
    if (!host::exists(OPENCASES_WINDOWS_EXE)) {
        GTEST_SKIP() << OPENCASES_WINDOWS_EXE << " is not built: scripts/test builds it";
    }
    const RunResult started = startWine({OPENCASES_WINDOWS_EXE});
    ASSERT_EQ(started.status, 0) << started.err;
    const RunResult windows =
        runProgram({*wine_, OPENCASES_WINDOWS_EXE}, env(), (temp_ / "work").string());
    ASSERT_EQ(windows.status, 0) << windows.err;
    const RunResult native = runProgram({OPENCASES_EXE}, env(), (temp_ / "work").string());
    ASSERT_EQ(native.status, 0) << native.err;

    const std::vector<std::string> w = splitLines(withoutCarriageReturns(windows.out));
    const std::vector<std::string> n = splitLines(native.out);
    ASSERT_EQ(w.size(), n.size()) << windows.out << native.out;
    ASSERT_FALSE(n.empty());
    const std::regex shape(R"(^.+: \d+ \| (.+ )?store\\( .+)?$)");
    const std::vector<Difference> differences = openDifferences();
    for (std::size_t i = 0; i < n.size(); ++i) {
        EXPECT_TRUE(std::regex_match(n[i], shape)) << n[i];
        expectExplained(n[i], w[i], "line " + std::to_string(i + 1), differences);
    }
    // Each ran in a folder of its own making, and took it away when done.
    EXPECT_FALSE(host::exists(temp_ / "prefix/drive_c/zor/opens"));
}

}  // namespace
