// The probe run, run as the real program on a fresh prefix, compared line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive_fixture.h"
#include "probe_lines.h"
#include "subprocess.h"

namespace {

class ProbeOutput : public DriveFixture {
  protected:
    RunResult run() const {
        // TMPDIR keeps whatever the run makes in the temporary directory inside the fixture.
        return runProgram({PATHPROBE_EXE}, {"WINEPREFIX=" + prefix(), "TMPDIR=" + temp()}, temp());
    }
    static std::vector<std::string> firstLines(const std::string& out, std::size_t count) {
        std::vector<std::string> lines = splitLines(out);
        if (lines.size() > count) lines.resize(count);
        return lines;
    }
};

// The working directory is the temporary folder, outside drive C: it maps through z:.
TEST_F(ProbeOutput, ResolutionAndLibraryProbesOutsideDriveC) {
    makeFolder(driveC("zor/store"));
    const RunResult result = run();
    std::vector<std::string> expected = kLinesBeforeCanonical;
    expected.insert(expected.end(), {"C:\\zor", "C:\\zor\\asdf\\", throughZ(temp())});
    EXPECT_EQ(firstLines(result.out, expected.size()), expected) << result.err;
}

// The scratch folders' long names below a deep temporary folder: a Windows without long paths
// refuses to make them, and the run ends there; WINFS_LONG_PATHS=off chooses that Windows too.
TEST_F(ProbeOutput, MaxPathRefusesTheLongScratchFolders) {
    makeFolder(driveC("zor/store"));
    const std::string deep = temp(std::string(60, 'd'));
    makeFolder(deep);
    const std::vector<std::string> environment = {"WINEPREFIX=" + prefix(), "TMPDIR=" + deep};
    const RunResult limited = runProgram({PATHPROBE_EXE, "--max-path"}, environment, temp());
    EXPECT_EQ(limited.status, 1) << limited.out;
    EXPECT_EQ(splitLines(limited.out).back(), "creating tmp path: " + throughZ(deep) + "\\");
    EXPECT_NE(limited.err.find("create_directories: The filename or extension is too long."),
              std::string::npos)
        << limited.err;
    std::vector<std::string> legacy = environment;
    legacy.push_back("WINFS_LONG_PATHS=Off");  // in any case
    EXPECT_EQ(runProgram({PATHPROBE_EXE}, legacy, temp()).err, limited.err);
    const RunResult unlimited = runProgram({PATHPROBE_EXE}, environment, temp());
    EXPECT_EQ(unlimited.status, 0) << unlimited.err;
}

TEST_F(ProbeOutput, AFailureIsOneLineOnStandardErrorAndStatusOne) {
    // Without c:\zor, canonical of "c:\zor\\" fails, after every line before it is written.
    const RunResult result = run();
    EXPECT_EQ(result.status, 1);
    std::vector<std::string> expectedOut = kLinesBeforeCanonical;
    EXPECT_EQ(splitLines(result.out), expectedOut);
    EXPECT_EQ(result.out.back(), '\n');

    const std::vector<std::string> err = splitLines(result.err);
    ASSERT_EQ(err.size(), 1u) << result.err;
    EXPECT_EQ(result.err.back(), '\n');
    EXPECT_NE(err[0].find("canonical"), std::string::npos) << err[0];
    EXPECT_NE(err[0].find("c:\\zor\\\\"), std::string::npos) << err[0];
    EXPECT_NE(err[0].find("The system cannot find the file specified."), std::string::npos)
        << err[0];
}

TEST_F(ProbeOutput, AFailureInsideAResolutionProbeEndsItsBegunLine) {
    // Drive C alone: the working directory lies outside every drive, so "c:" cannot be resolved.
    makeFolder(driveC("zor/store"));
    useDosdevices({{"c:", "../drive_c"}});
    const RunResult result = run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "0\n0\n1\n0\n\"c:\" -> \n");
    const std::vector<std::string> err = splitLines(result.err);
    ASSERT_EQ(err.size(), 1u) << result.err;
    EXPECT_NE(err[0].find("current_path"), std::string::npos) << err[0];
    EXPECT_NE(err[0].find("The system cannot find the path specified."), std::string::npos)
        << err[0];
}

}  // namespace
