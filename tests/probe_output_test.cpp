#include <gtest/gtest.h>

#include "subprocess.h"

TEST(ProbeOutput, AbsolutenessProbesComeFirst) {
    const RunResult run = runProgram({PATHPROBE_EXE});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0\n0\n1\n0\n");
    EXPECT_EQ(run.err, "");
}
