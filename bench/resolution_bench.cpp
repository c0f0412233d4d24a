// canonPath beside std::filesystem::weakly_canonical on the same host path, each pair run one
// after the other in one process: a folder of 100,000 names (a missing tail, a name in another
// case than on disk, a name as on disk), a path of six names without links, and a path of seven
// names through one link, and C:\a\lnk\c\d\x\y (lnk -> b, x and y missing) on a tree made long
// before and on one made 0.1 s before; and a folder of 10,000 long names, a name looked up by its
// short name beside one in another case. Run by hand:
//   build/default/bench/resolution_bench --benchmark_min_time=0.2
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "bench_prefix.h"
#include "pathprobe/path_resolution.h"
#include "platform.h"
#include "resolve/name_cache.h"

namespace {

constexpr int kBigFolderNames = 100'000;
constexpr int kLongNames = 10'000;

// A prefix with C:\bench\one\two\real\four\five\six, where C:\bench\one\two\link links to
// C:\bench\one\two\real, C:\big holding file00000 to file99999, and C:\names holding
// "long file name 00000.txt" to "long file name 09999.txt", each with a short name.
struct Drive : BenchPrefix {
    Drive() {
        std::filesystem::create_directories(host("bench/one/two/real/four/five/six"));
        winfs::create_directory_symlink("C:\\bench\\one\\two\\real", "C:\\bench\\one\\two\\link");
        makeTail("settled");
        std::filesystem::create_directories(host("big"));
        for (int i = 0; i < kBigFolderNames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/file%05d", i);
            const int fd = ::open((host("big") + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) ::close(fd);
        }
        std::filesystem::create_directories(host("names"));
        for (int i = 0; i < kLongNames; ++i) {
            char name[48];
            std::snprintf(name, sizeof name, "/long file name %05d.txt", i);
            const int fd = ::open((host("names") + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) ::close(fd);
        }
        // A folder is kept in the name cache only once its last change has settled.
        std::this_thread::sleep_for(std::chrono::seconds(3) + std::chrono::milliseconds(100));
    }
    // <below>\a\b\c\d and <below>\a\lnk -> b.
    void makeTail(const std::string& below) const {
        std::filesystem::create_directories(host(below + "/a/b/c/d"));
        std::filesystem::create_symlink("b", host(below + "/a/lnk"));
    }
};

Drive& drive() {
    static Drive d;
    return d;
}

struct Case {
    const char* windows;
    const char* host;  // below drive C's folder
};

const Case kBigMissing{"C:\\big\\missing\\y", "big/missing/y"};
const Case kBigOtherCase{"C:\\big\\FILE50000", "big/FILE50000"};
const Case kBigExact{"C:\\big\\file50000", "big/file50000"};
const Case kNoLink{"C:\\bench\\one\\two\\real\\four\\five", "bench/one/two/real/four/five"};
const Case kOneLink{"C:\\bench\\one\\two\\link\\four\\five\\six",
                    "bench/one/two/link/four/five/six"};

const Case kNamesOtherCase{"C:\\names\\LONG FILE NAME 05000.TXT", "names/long file name 05000.txt"};

const Case kTailSettled{"C:\\settled\\a\\lnk\\c\\d\\x\\y", "settled/a/lnk/c/d/x/y"};
const Case kTailNew{"C:\\new\\a\\lnk\\c\\d\\x\\y", "new/a/lnk/c/d/x/y"};

void BM_CanonPath(benchmark::State& state, const Case& c) {
    drive();
    const fs::path input(c.windows);
    for (auto _ : state)
        benchmark::DoNotOptimize(canonPath(input, true));
    const winfs::NameCache::Usage usage = winfs::folderNames().usage();
    state.counters["cached_names"] = static_cast<double>(usage.names);
    state.counters["cached_bytes"] = static_cast<double>(usage.bytes);
}

void BM_WeaklyCanonical(benchmark::State& state, const Case& c) {
    const std::filesystem::path input = drive().host(c.host);
    for (auto _ : state)
        benchmark::DoNotOptimize(std::filesystem::weakly_canonical(input));
}

// A name of C:\names by its short name ("LONG~ABC.TXT"), which the walk finds in no case and then
// among the short names of the folder's kept listing, computed once.
void BM_CanonPathShortName(benchmark::State& state) {
    drive();
    const fs::path input = winfs::short_path(fs::path(kNamesOtherCase.windows));
    for (auto _ : state)
        benchmark::DoNotOptimize(canonPath(input, true));
    state.SetLabel(input.string());
}

// The first lookup in another case in the big folder, which reads it; the cache is emptied
// before each.
void BM_CanonPathFirstLookup(benchmark::State& state) {
    drive();
    const fs::path input(kBigOtherCase.windows);
    for (auto _ : state) {
        state.PauseTiming();
        winfs::folderNames().clear();
        state.ResumeTiming();
        benchmark::DoNotOptimize(canonPath(input, true));
    }
    const winfs::NameCache::Usage usage = winfs::folderNames().usage();
    state.counters["cached_names"] = static_cast<double>(usage.names);
    state.counters["cached_bytes"] = static_cast<double>(usage.bytes);
}

// Both on a tree made 0.1 s before the first call, as a program asks about the names it has just
// made; each pair starts on a tree of its own.
void BM_TailNew(benchmark::State& state, bool winfsCall) {
    std::filesystem::remove_all(drive().host("new"));
    drive().makeTail("new");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (winfsCall) {
        BM_CanonPath(state, kTailNew);
    } else {
        BM_WeaklyCanonical(state, kTailNew);
    }
}

BENCHMARK(BM_CanonPathFirstLookup)->Name("BM_CanonPath/winfs/big_first_lookup");
BENCHMARK_CAPTURE(BM_CanonPath, big_missing, kBigMissing)->Name("BM_CanonPath/winfs/big_missing");
BENCHMARK_CAPTURE(BM_WeaklyCanonical, big_missing, kBigMissing)
    ->Name("BM_WeaklyCanonical/std/big_missing");
BENCHMARK_CAPTURE(BM_CanonPath, big_other_case, kBigOtherCase)
    ->Name("BM_CanonPath/winfs/big_other_case");
BENCHMARK_CAPTURE(BM_WeaklyCanonical, big_other_case, kBigOtherCase)
    ->Name("BM_WeaklyCanonical/std/big_other_case");
BENCHMARK_CAPTURE(BM_CanonPath, big_exact, kBigExact)->Name("BM_CanonPath/winfs/big_exact");
BENCHMARK_CAPTURE(BM_WeaklyCanonical, big_exact, kBigExact)
    ->Name("BM_WeaklyCanonical/std/big_exact");
BENCHMARK_CAPTURE(BM_CanonPath, no_link, kNoLink)->Name("BM_CanonPath/winfs/no_link");
BENCHMARK_CAPTURE(BM_WeaklyCanonical, no_link, kNoLink)->Name("BM_WeaklyCanonical/std/no_link");
BENCHMARK_CAPTURE(BM_CanonPath, one_link, kOneLink)->Name("BM_CanonPath/winfs/one_link");
BENCHMARK_CAPTURE(BM_WeaklyCanonical, one_link, kOneLink)->Name("BM_WeaklyCanonical/std/one_link");

BENCHMARK_CAPTURE(BM_CanonPath, names_other_case, kNamesOtherCase)
    ->Name("BM_CanonPath/winfs/names_other_case");
BENCHMARK(BM_CanonPathShortName)->Name("BM_CanonPath/winfs/names_short_name");

BENCHMARK_CAPTURE(BM_CanonPath, tail_settled, kTailSettled)
    ->Name("BM_CanonPath/winfs/tail_settled");
BENCHMARK_CAPTURE(BM_WeaklyCanonical, tail_settled, kTailSettled)
    ->Name("BM_WeaklyCanonical/std/tail_settled");
BENCHMARK_CAPTURE(BM_TailNew, winfs, true)->Name("BM_CanonPath/winfs/tail_new");
BENCHMARK_CAPTURE(BM_TailNew, std, false)->Name("BM_WeaklyCanonical/std/tail_new");

}  // namespace
