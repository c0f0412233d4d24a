// winfs::path against std::filesystem::path on the same work: each BM_X/winfs runs on Windows
// text, the BM_X/std next to it on the POSIX text a host would use for it (drive letter dropped,
// '\' turned into '/'). Run by hand:
//   build/default/bench/path_bench --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "winfs/path.h"

namespace {

struct Sample {
    std::string_view windows;
    std::string_view posix;
};

constexpr std::array samples{
    Sample{R"(C:\Users\me\Documents\report.final.docx)", "/Users/me/Documents/report.final.docx"},
    Sample{R"(c:\zor\..\zor\asdf\)", "/zor/../zor/asdf/"},
    Sample{R"(\\?\C:\temp\test.txt)", "/temp/test.txt"},
    Sample{R"(\\server\share\dir\file.txt)", "//server/share/dir/file.txt"},
    Sample{R"(D:/mixed/slashes\here.txt)", "/mixed/slashes/here.txt"},
    Sample{R"(C:\a\.\b\..\c\d\e\f\g.h)", "/a/./b/../c/d/e/f/g.h"},
    Sample{"foo", "foo"},
};

// Argument i picks samples[i]; samples.size() picks them all.
constexpr std::int64_t allSamples = static_cast<std::int64_t>(samples.size());

std::span<const Sample> samplesFor(benchmark::State& state) {
    const auto which = static_cast<std::size_t>(state.range(0));
    if (which >= samples.size()) {
        state.SetLabel("all");
        return samples;
    }
    state.SetLabel(std::string(samples[which].windows));
    return std::span<const Sample>(samples).subspan(which, 1);
}

template <typename Path>
Path textOf(const Sample& sample) {
    if constexpr (std::is_same_v<Path, winfs::path>) {
        return Path(sample.windows);
    } else {
        return Path(sample.posix);
    }
}

// Builds each path and takes every part of it.
template <typename Path>
void BM_Decompose(benchmark::State& state) {
    const std::span<const Sample> chosen = samplesFor(state);
    for (auto _ : state) {
        for (const Sample& sample : chosen) {
            const Path p = textOf<Path>(sample);
            benchmark::DoNotOptimize(p.root_name());
            benchmark::DoNotOptimize(p.root_directory());
            benchmark::DoNotOptimize(p.root_path());
            benchmark::DoNotOptimize(p.relative_path());
            benchmark::DoNotOptimize(p.parent_path());
            benchmark::DoNotOptimize(p.filename());
            benchmark::DoNotOptimize(p.stem());
            benchmark::DoNotOptimize(p.extension());
            benchmark::DoNotOptimize(p.is_absolute());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(chosen.size()));
}

// Builds each path and normalises it.
template <typename Path>
void BM_LexicallyNormal(benchmark::State& state) {
    const std::span<const Sample> chosen = samplesFor(state);
    for (auto _ : state) {
        for (const Sample& sample : chosen) {
            const Path p = textOf<Path>(sample);
            benchmark::DoNotOptimize(p.lexically_normal());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(chosen.size()));
}

// Only the construction, which both of the above include.
template <typename Path>
void BM_Construct(benchmark::State& state) {
    const std::span<const Sample> chosen = samplesFor(state);
    for (auto _ : state) {
        for (const Sample& sample : chosen) {
            benchmark::DoNotOptimize(textOf<Path>(sample));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(chosen.size()));
}

// A path of twenty names: C:\folder01\...\folder20, and /folder01/.../folder20 for std.
template <typename Path>
Path deepPath() {
    const bool windows = std::is_same_v<Path, winfs::path>;
    std::string text = windows ? "C:" : "";
    for (int i = 1; i <= 20; ++i) {
        text += windows ? '\\' : '/';
        text += "folder";
        text += static_cast<char>('0' + i / 10);
        text += static_cast<char>('0' + i % 10);
    }
    return Path(text);
}

// Walks every element of the deep path from begin() to end().
template <typename Path>
void BM_IterateForward(benchmark::State& state) {
    const Path p = deepPath<Path>();
    for (auto _ : state) {
        for (const Path& element : p)
            benchmark::DoNotOptimize(element);
    }
    state.SetItemsProcessed(state.iterations());
}

// Walks every element of the deep path from end() back to begin().
template <typename Path>
void BM_IterateBackward(benchmark::State& state) {
    const Path p = deepPath<Path>();
    for (auto _ : state) {
        for (auto it = p.end(); it != p.begin();)
            benchmark::DoNotOptimize(*--it);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Decompose<winfs::path>)->Name("BM_Decompose/winfs")->DenseRange(0, allSamples);
BENCHMARK(BM_Decompose<std::filesystem::path>)->Name("BM_Decompose/std")->DenseRange(0, allSamples);
BENCHMARK(BM_LexicallyNormal<winfs::path>)
    ->Name("BM_LexicallyNormal/winfs")
    ->DenseRange(0, allSamples);
BENCHMARK(BM_LexicallyNormal<std::filesystem::path>)
    ->Name("BM_LexicallyNormal/std")
    ->DenseRange(0, allSamples);
BENCHMARK(BM_Construct<winfs::path>)->Name("BM_Construct/winfs")->DenseRange(0, allSamples);
BENCHMARK(BM_Construct<std::filesystem::path>)->Name("BM_Construct/std")->DenseRange(0, allSamples);
BENCHMARK(BM_IterateForward<winfs::path>)->Name("BM_IterateForward/winfs");
BENCHMARK(BM_IterateForward<std::filesystem::path>)->Name("BM_IterateForward/std");
BENCHMARK(BM_IterateBackward<winfs::path>)->Name("BM_IterateBackward/winfs");
BENCHMARK(BM_IterateBackward<std::filesystem::path>)->Name("BM_IterateBackward/std");

}  // namespace
