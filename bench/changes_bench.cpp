// winfs::remove_all beside std::filesystem::remove_all on the same tree of 10,000 entries (100
// folders of 99 files each), built afresh, untimed, before each removal. Run by hand:
//   build/default/bench/changes_bench --benchmark_min_time=0.2
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_prefix.h"
#include "pathprobe/winfs/filesystem.h"

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 99;  // with the folders: 10,000 entries

BenchPrefix& drive() {
    static BenchPrefix d;
    return d;
}

void buildTree(const std::string& root) {
    ::mkdir(root.c_str(), 0755);
    for (int f = 0; f < kFolders; ++f) {
        const std::string folder = root + "/d" + std::to_string(f);
        ::mkdir(folder.c_str(), 0755);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            const int fd = ::open((folder + "/f" + std::to_string(i)).c_str(),
                                  O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd >= 0) ::close(fd);
        }
    }
}

template <class Remove>
void removeTree(benchmark::State& state, Remove remove) {
    const std::string root = drive().host("tree");
    for (auto _ : state) {
        state.PauseTiming();
        buildTree(root);
        state.ResumeTiming();
        const std::uintmax_t removed = remove(root);
        if (removed != kFolders * (kFilesPerFolder + 1) + 1) state.SkipWithError("not all removed");
    }
}

void RemoveAll_winfs(benchmark::State& state) {
    removeTree(state, [](const std::string&) { return winfs::remove_all("C:\\Tree"); });
}
BENCHMARK(RemoveAll_winfs)->Unit(benchmark::kMillisecond);

void RemoveAll_std(benchmark::State& state) {
    removeTree(state, [](const std::string& root) { return std::filesystem::remove_all(root); });
}
BENCHMARK(RemoveAll_std)->Unit(benchmark::kMillisecond);

}  // namespace
