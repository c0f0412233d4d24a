// canonPath on a seven-element path through one link, beside std::filesystem::weakly_canonical
// on the same host path.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "path_resolution.h"
#include "platform.h"

namespace {

// A prefix with C:\bench\one\two\link\four\five\six, where link -> C:\bench\one\two\real.
struct Drive {
    std::string prefix;
    std::string host;  // the host path of the probe path
    fs::path windows;  // the probe path

    Drive() {
        char folder[] = "/tmp/pathprobe-bench-XXXXXX";
        prefix = ::mkdtemp(folder);
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        winfs::reload_drives();
        const std::string real = prefix + "/drive_c/bench/one/two/real";
        std::filesystem::create_directories(real + "/four/five/six");
        winfs::create_directory_symlink("C:\\bench\\one\\two\\real", "C:\\bench\\one\\two\\link");
        host = prefix + "/drive_c/bench/one/two/link/four/five/six";
        windows = fs::path("C:\\bench\\one\\two\\link\\four\\five\\six");
    }
    ~Drive() { std::filesystem::remove_all(prefix); }
};

Drive& drive() {
    static Drive d;
    return d;
}

void BM_CanonPath_winfs(benchmark::State& state) {
    const fs::path input = drive().windows;
    for (auto _ : state)
        benchmark::DoNotOptimize(canonPath(input, true));
}
BENCHMARK(BM_CanonPath_winfs);

void BM_WeaklyCanonical_std(benchmark::State& state) {
    const std::filesystem::path input = drive().host;
    for (auto _ : state)
        benchmark::DoNotOptimize(std::filesystem::weakly_canonical(input));
}
BENCHMARK(BM_WeaklyCanonical_std);

void BM_WeaklyCanonical_winfs(benchmark::State& state) {
    const fs::path input = drive().windows;
    for (auto _ : state)
        benchmark::DoNotOptimize(fs::weakly_canonical(input));
}
BENCHMARK(BM_WeaklyCanonical_winfs);

}  // namespace
