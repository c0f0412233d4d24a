// A Wine-style prefix of the benchmark's own in a temporary folder, made the process's drive map
// while it lives and removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "drives/drive.h"

struct BenchPrefix {
    std::string prefix;

    BenchPrefix() {
        char folder[] = "/tmp/pathprobe-bench-XXXXXX";
        prefix = ::mkdtemp(folder);
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        winfs::reloadDrives();
    }
    BenchPrefix(const BenchPrefix&) = delete;
    BenchPrefix& operator=(const BenchPrefix&) = delete;
    ~BenchPrefix() { std::filesystem::remove_all(prefix); }
    // The host path of a name below drive C's folder.
    std::string host(const std::string& below) const { return prefix + "/drive_c/" + below; }
};
