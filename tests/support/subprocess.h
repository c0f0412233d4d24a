// Runs a program as a child process and collects what it writes and how it ends.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal
};

// `environment` entries ("NAME=value") are added to the current environment; `directory` is the
// child's working directory when not empty; `input` is its standard input (else /dev/null).
RunResult runProgram(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment = {},
                     const std::string& directory = {}, const std::string& input = {});

std::vector<std::string> splitLines(const std::string& text);
