#include "decomposition_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

std::string captureReport() {
    std::ostringstream captured;
    std::streambuf* const original = std::cout.rdbuf(captured.rdbuf());
    more();
    std::cout.rdbuf(original);
    return captured.str();
}

constexpr const char* kReport =
    "\n"
    "C:\\\n"
    "root_name\tC:\n"
    "root_directory\t\\\n"
    "root_path\tC:\\\n"
    "relative_path\t\n"
    "is_absolute\t1\n"
    "parent_path\tC:\\\n"
    "filename\t\n"
    "stem\t\n"
    "extension\t\n"
    "\n"
    "C:\\temp\\test.txt\n"
    "root_name\tC:\n"
    "root_directory\t\\\n"
    "root_path\tC:\\\n"
    "relative_path\ttemp\\test.txt\n"
    "is_absolute\t1\n"
    "parent_path\tC:\\temp\n"
    "filename\ttest.txt\n"
    "stem\ttest\n"
    "extension\t.txt\n"
    "\n"
    "C:\\\\temp\\\\test.txt\n"
    "root_name\tC:\n"
    "root_directory\t\\\\\n"
    "root_path\tC:\\\\\n"
    "relative_path\ttemp\\\\test.txt\n"
    "is_absolute\t1\n"
    "parent_path\tC:\\\\temp\n"
    "filename\ttest.txt\n"
    "stem\ttest\n"
    "extension\t.txt\n"
    "\n"
    "\\\\?\\C:\\temp\\test.txt\n"
    "root_name\t\\\\?\n"
    "root_directory\t\\\n"
    "root_path\t\\\\?\\\n"
    "relative_path\tC:\\temp\\test.txt\n"
    "is_absolute\t1\n"
    "parent_path\t\\\\?\\C:\\temp\n"
    "filename\ttest.txt\n"
    "stem\ttest\n"
    "extension\t.txt\n";

}  // namespace

TEST(DecompositionReport, WritesAllFortyFourLines) {
    const std::string report = captureReport();
    EXPECT_EQ(report, kReport);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 44);
}

TEST(DecompositionReport, IsTheSameOnEveryCall) {
    EXPECT_EQ(captureReport(), captureReport());
}
