// winfs::directory_iterator beside std::filesystem::directory_iterator over the same host folder of
// 100,000 names ("file00000" to "File99999", made in a scrambled order), each entry's path read.
// winfs puts the names in NTFS's index order first. Run by hand:
//   build/default/bench/listing_bench --benchmark_min_time=0.2
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_prefix.h"
#include "pathprobe/winfs/filesystem.h"

namespace {

constexpr int kNames = 100'000;

struct Drive : BenchPrefix {
    Drive() {
        std::filesystem::create_directories(host());
        for (int k = 0; k < kNames; ++k) {
            const int i = static_cast<int>((static_cast<long>(k) * 7919) % kNames);
            char name[32];
            std::snprintf(name, sizeof name, "/%s%05d", i % 2 == 0 ? "file" : "File", i);
            const int fd = ::open((host() + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd >= 0) ::close(fd);
        }
    }
    std::string host() const { return BenchPrefix::host("big"); }
};

Drive& drive() {
    static Drive d;
    return d;
}

template <class Iterator, class Path>
void list(benchmark::State& state, const Path& folder) {
    for (auto _ : state) {
        std::size_t entries = 0;
        std::size_t bytes = 0;
        for (const auto& entry : Iterator(folder)) {
            ++entries;
            bytes += entry.path().native().size();
        }
        benchmark::DoNotOptimize(bytes);
        if (entries != kNames) state.SkipWithError("not every name listed");
    }
}

void List_winfs(benchmark::State& state) {
    drive();
    list<winfs::directory_iterator>(state, winfs::path("C:\\big"));
}
BENCHMARK(List_winfs)->Unit(benchmark::kMillisecond);

void List_std(benchmark::State& state) {
    list<std::filesystem::directory_iterator>(state, std::filesystem::path(drive().host()));
}
BENCHMARK(List_std)->Unit(benchmark::kMillisecond);

}  // namespace
