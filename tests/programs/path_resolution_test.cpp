// canonPath and absPath on a real prefix: their results, and the diagnostic lines they write to
// standard output or to the stream given, in order.
#include "pathprobe/path_resolution.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <string>

#include "drive_fixture.h"
#include "platform.h"

namespace {

const char* const kBailOut =
    "bailing out because path is a symlink while symlink resolving is disabled\n";
const char* const kNotAbsolute = "not an absolute path\n";
const char* const kProblem = "weakly_canonical path problem\n";
const char* const kDirNotAbsolute = "dir is not an absolute path\n";

struct Resolution {
    const char* input;
    const char* baseDir;  // nullptr: none (absPath), or canonPath is called directly
    bool resolveSymlinks;
    std::string lines;  // what the call writes
    const char* result;
};

void PrintTo(const Resolution& r, std::ostream* os) {
    *os << '"' << r.input << "\" base " << (r.baseDir != nullptr ? r.baseDir : "(none)")
        << (r.resolveSymlinks ? " resolving" : "");
}

// The tree of buildTree(), with C:\zor as the working directory.
class ResolutionTest : public DriveFixture, public testing::WithParamInterface<Resolution> {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        buildTree();
        changeDirectory(driveC("zor"));
    }
};

// clang-format off
const Resolution kCanonPath[] = {
    {"c:/zor/store/",         nullptr, false, "",                            "C:\\zor\\store"},
    {"c:\\ZOR\\nothere\\..",  nullptr, false, "",                            "C:\\zor"},
    {"c:\\zor\\no\\..\\x\\",  nullptr, false, "",                            "C:\\zor\\x\\"},
    {"",                      nullptr, false, kNotAbsolute,                  ""},
    {"nothing/here",          nullptr, false, kNotAbsolute,                  "nothing\\here"},
    {"store/x",               nullptr, false, kNotAbsolute,                  "C:\\zor\\store\\x"},
    {"c:\\zor\\rel",          nullptr, false, kBailOut,                      ""},
    {"c:\\zor\\dangling",     nullptr, false, kBailOut,                      ""},
    {"rel",                   nullptr, false, std::string(kNotAbsolute) + kBailOut, ""},
    {"c:\\zor\\rel",          nullptr, true,  "",                            "C:\\zor\\store"},
    {"c:\\zor\\sub\\up",      nullptr, true,  "",                            "C:\\zor\\store"},
    {"c:\\zor\\dangling",     nullptr, true,  "",                            "C:\\zor\\dangling"},
    {"c:\\zor\\rel\\inner",   nullptr, false, "",                            "C:\\zor\\store\\inner"},
    {"c:\\zor\\loop1",        nullptr, true,  kProblem,                      ""},
    {"c:\\chain\\l0",         nullptr, true,  kProblem,                      ""},
    {"loop1",                 nullptr, true,  std::string(kNotAbsolute) + kProblem, ""},
    {"c:\\zor\\badabs",       nullptr, true,  kProblem,                      ""},
};
// clang-format on

class CanonPath : public ResolutionTest {};

TEST_P(CanonPath, WritesItsLinesAndReturnsTheCanonicalForm) {
    const Resolution& row = GetParam();
    const fs::path input(row.input);
    fs::path result;
    std::string lines;
    {
        CoutCapture capture;
        result = canonPath(input, row.resolveSymlinks);
        lines = capture.text();
    }
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(result.string(), row.result);
    EXPECT_EQ(input.string(), row.input);

    // Given a stream, the same lines go there, and none to standard output.
    std::ostringstream diagnostics;
    {
        CoutCapture capture;
        result = canonPath(input, row.resolveSymlinks, diagnostics);
        EXPECT_EQ(capture.text(), "");
    }
    EXPECT_EQ(diagnostics.str(), row.lines);
    EXPECT_EQ(result.string(), row.result);
}

INSTANTIATE_TEST_SUITE_P(Drives, CanonPath, testing::ValuesIn(kCanonPath));

// clang-format off
const Resolution kAbsPath[] = {
    {"c:\\zor\\..\\zor",   nullptr,          false, "",           "C:\\zor"},
    {"c:\\",               nullptr,          false, "",           "C:\\"},
    {"store",              nullptr,          false, "",           "C:\\zor\\store"},
    {"",                   nullptr,          false, "",           "C:\\zor"},
    {"c:",                 nullptr,          false, kNotAbsolute, "C:\\zor"},  // "C:\zor" / "c:" is "c:"
    {"foo",                "c:\\zor-hack",   false, "",           "C:\\zor-hack\\foo"},
    {"",                   "c:\\zor",        false, "",           "C:\\zor"},
    {"store\\..\\sub",     "C:/ZOR",         false, "",           "C:\\zor\\sub"},
    {"c:\\zor\\store",     "relative",       false, "",           "C:\\zor\\store"},
    {"\\zor\\store",       "c:\\other\\dir", false, "",           "C:\\zor\\store"},
    {"d:foo",              "c:\\zor",        false, kNotAbsolute, "d:foo"},
    {"foo",                "nobase",         false, std::string(kDirNotAbsolute) + kNotAbsolute, "nobase\\foo"},
    {"foo",                "rel",            false, std::string(kDirNotAbsolute) + kNotAbsolute, "C:\\zor\\store\\foo"},
    {"rel",                nullptr,          false, kBailOut,     ""},
    {"rel",                "c:\\zor",        true,  "",           "C:\\zor\\store"},
    {"loop2",              "c:\\zor",        true,  kProblem,     ""},
};
// clang-format on

class AbsPath : public ResolutionTest {};

TEST_P(AbsPath, ResolvesAgainstTheBaseOrTheWorkingDirectory) {
    const Resolution& row = GetParam();
    const fs::path input(row.input);
    const std::optional<fs::path> base =
        row.baseDir != nullptr ? std::optional<fs::path>(row.baseDir) : std::nullopt;
    fs::path result;
    std::string lines;
    {
        CoutCapture capture;
        result = absPath(input, base, row.resolveSymlinks);
        lines = capture.text();
    }
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(result.string(), row.result);
    EXPECT_EQ(input.string(), row.input);
    if (base) {
        EXPECT_EQ(base->string(), row.baseDir);
    }

    std::ostringstream diagnostics;
    {
        CoutCapture capture;
        result = absPath(input, base, row.resolveSymlinks, diagnostics);
        EXPECT_EQ(capture.text(), "");
    }
    EXPECT_EQ(diagnostics.str(), row.lines);
    EXPECT_EQ(result.string(), row.result);
}

INSTANTIATE_TEST_SUITE_P(Drives, AbsPath, testing::ValuesIn(kAbsPath));

TEST_F(ResolutionTest, AbsPathReadsTheWorkingDirectoryOnlyWithoutBaseAndForARelativePath) {
    // A working directory that is gone cannot be read.
    makeFolder(temp("gone"));
    changeDirectory(temp("gone"));
    ASSERT_EQ(::rmdir(temp("gone").c_str()), 0);
    std::error_code ec;
    ASSERT_TRUE(fs::current_path(ec).empty());

    CoutCapture capture;
    EXPECT_EQ(absPath(fs::path("c:\\zor\\store"), std::nullopt, false).string(), "C:\\zor\\store");
    EXPECT_EQ(absPath(fs::path("store"), fs::path("c:\\zor"), false).string(), "C:\\zor\\store");
    EXPECT_THROW(absPath(fs::path("store"), std::nullopt, false), fs::filesystem_error);
    EXPECT_EQ(capture.text(), "");
}

TEST_F(ResolutionTest, AbsPathFollowsTheWorkingDirectoryOfTheMoment) {
    CoutCapture capture;
    EXPECT_EQ(absPath(fs::path("x"), std::nullopt, false).string(), "C:\\zor\\x");
    changeDirectory(driveC("zor/store"));
    EXPECT_EQ(absPath(fs::path("x"), std::nullopt, false).string(), "C:\\zor\\store\\x");
    changeDirectory(temp());
    EXPECT_EQ(absPath(fs::path("x"), std::nullopt, false).string(), throughZ(temp()) + "\\x");
    EXPECT_EQ(capture.text(), "");
}

TEST_F(ResolutionTest, ALinkCycleBeforeTheLastElementPassesOut) {
    // The link test itself fails: nothing is caught and nothing more is written.
    CoutCapture capture;
    try {
        absPath(fs::path("c:\\zor\\loop1\\x"), std::nullopt, false);
        ADD_FAILURE() << "no exception";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::error_code(1921, fs::system_category()));
    }
    EXPECT_EQ(capture.text(), "");
}

}  // namespace
