// winfs::directory_iterator beside std::filesystem::directory_iterator over the same host folder of
// 100,000 names ("file00000" to "File99999", made in a scrambled order), each entry's path read,
// then each entry's size. winfs puts the names in NTFS's index order first. Then both recursive
// iterators over a chain of 2,000 nested folders, with the memory that the process holds more at
// the deepest entry than before the listing (VmRSS, in kB) as a counter. Run by hand:
//   build/default/bench/listing_bench --benchmark_min_time=0.2
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// Each entry's size as well: winfs reads it with one fstatat in the folder the listing holds, the
// host's library stats each entry's path.
template <class Iterator, class Path>
void sizes(benchmark::State& state, const Path& folder) {
    for (auto _ : state) {
        std::uintmax_t total = 0;
        std::size_t entries = 0;
        for (const auto& entry : Iterator(folder)) {
            total += entry.file_size();
            ++entries;
        }
        benchmark::DoNotOptimize(total);
        if (entries != kNames) state.SkipWithError("not every name listed");
    }
}

void Sizes_winfs(benchmark::State& state) {
    drive();
    sizes<winfs::directory_iterator>(state, winfs::path("C:\\big"));
}
BENCHMARK(Sizes_winfs)->Unit(benchmark::kMillisecond);

void Sizes_std(benchmark::State& state) {
    sizes<std::filesystem::directory_iterator>(state, std::filesystem::path(drive().host()));
}
BENCHMARK(Sizes_std)->Unit(benchmark::kMillisecond);

constexpr int kDepth = 2'000;

// C:\deep\d\d\...: made with mkdirat from each new folder, below the host's limit on a path.
const std::string& deep() {
    static const std::string host = [] {
        const std::string top = drive().BenchPrefix::host("deep");
        ::mkdir(top.c_str(), 0755);
        int at = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int k = 0; k < kDepth && at >= 0; ++k) {
            ::mkdirat(at, "d", 0755);
            const int next = ::openat(at, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(at);
            at = next;
        }
        if (at >= 0) ::close(at);
        return top;
    }();
    return host;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    }
    return 0;
}

template <class Iterator, class Path>
void descend(benchmark::State& state, const Path& folder) {
    long held = 0;
    for (auto _ : state) {
        const long before = residentKb();
        std::size_t bytes = 0;
        int deepest = 0;
        for (Iterator it(folder); it != Iterator(); ++it) {
            bytes += it->path().native().size();
            if (it.depth() + 1 == kDepth) held = residentKb() - before;
            deepest = std::max(deepest, it.depth() + 1);
        }
        benchmark::DoNotOptimize(bytes);
        if (deepest != kDepth) state.SkipWithError("not every level listed");
    }
    state.counters["held_kB"] = static_cast<double>(held);
}

void Descend_winfs(benchmark::State& state) {
    deep();
    descend<winfs::recursive_directory_iterator>(state, winfs::path("C:\\deep"));
}
BENCHMARK(Descend_winfs)->Unit(benchmark::kMillisecond);

void Descend_std(benchmark::State& state) {
    descend<std::filesystem::recursive_directory_iterator>(state, std::filesystem::path(deep()));
}
BENCHMARK(Descend_std)->Unit(benchmark::kMillisecond);

// The copy of that tree, beside the listing of it above: every level is listed, made and entered.
void Copy_winfs(benchmark::State& state) {
    deep();
    for (auto _ : state) {
        winfs::copy(winfs::path("C:\\deep"), winfs::path("C:\\copy"),
                    winfs::copy_options::recursive);
        state.PauseTiming();
        winfs::remove_all(winfs::path("C:\\copy"));
        state.ResumeTiming();
    }
}
BENCHMARK(Copy_winfs)->Unit(benchmark::kMillisecond);

void Copy_std(benchmark::State& state) {
    const std::filesystem::path copy = std::filesystem::path(deep()).parent_path() / "copy";
    for (auto _ : state) {
        std::filesystem::copy(deep(), copy, std::filesystem::copy_options::recursive);
        state.PauseTiming();
        std::filesystem::remove_all(copy);
        state.ResumeTiming();
    }
}
BENCHMARK(Copy_std)->Unit(benchmark::kMillisecond);

}  // namespace
