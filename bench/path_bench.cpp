// winfs::path against std::filesystem::path on the same work: each BM_X/winfs runs on Windows
// text, the BM_X/std next to it on the POSIX text a host would use for it (drive letter dropped,
// '\' turned into '/'). Beside them, names compared and folded as NTFS does (BM_X/ntfs) against the
// host's towupper that did it before (BM_X/towupper). Run by hand:
//   build/default/bench/path_bench --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <locale.h>
#include <wctype.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "pathprobe/winfs/path.h"
#include "text/names.h"
#include "text/utf8.h"

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

// Construction from UTF-16 text (the samples are ASCII, so each char widens to one unit), which
// both path types convert to their UTF-8 text.
template <typename Path>
void BM_ConstructUtf16(benchmark::State& state) {
    std::vector<std::u16string> texts;
    for (const Sample& sample : samplesFor(state)) {
        const std::string_view text =
            std::is_same_v<Path, winfs::path> ? sample.windows : sample.posix;
        texts.emplace_back(text.begin(), text.end());
    }
    for (auto _ : state) {
        for (const std::u16string& text : texts) {
            benchmark::DoNotOptimize(Path(text));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
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

// Two spellings of one name; the last pair differs only in its last character.
constexpr std::array<std::array<std::string_view, 2>, 4> namePairs{{
    {"Report.Final.DOCX", "report.final.docx"},
    {"Été à Noël, façade", "ÉTÉ À NOËL, FAÇADE"},
    {"Σίσυφος και Прометей", "ΣΊΣΥΦΟς ΚΑΙ ПРОМЕТЕЙ"},
    {"readme-0001.txt", "readme-0002.txt"},
}};

// What the names were compared and folded by before: the host's Unicode case mapping.
char32_t hostUpper(char32_t c) noexcept {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode == locale_t{}) return c;
    return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), unicode));
}

bool hostEqualIgnoringCase(std::string_view a, std::string_view b) noexcept {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (hostUpper(winfs::nextCodePoint(a, i)) != hostUpper(winfs::nextCodePoint(b, j))) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

std::string hostCaseFolded(std::string_view name) {
    std::string folded;
    folded.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const char32_t c = hostUpper(winfs::nextCodePoint(name, i));
        if (c < 0x80) {
            folded.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            folded.push_back(static_cast<char>(0xC0 | (c >> 6)));
            folded.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            folded.push_back(static_cast<char>(0xE0 | (c >> 12)));
            folded.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            folded.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            folded.push_back(static_cast<char>(0xF0 | (c >> 18)));
            folded.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            folded.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            folded.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return folded;
}

template <bool (*equal)(std::string_view, std::string_view) noexcept>
void BM_EqualIgnoringCase(benchmark::State& state) {
    const auto& pair = namePairs[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(pair[0]));
    for (auto _ : state) {
        benchmark::DoNotOptimize(equal(pair[0], pair[1]));
    }
    state.SetItemsProcessed(state.iterations());
}

template <std::string (*fold)(std::string_view)>
void BM_CaseFolded(benchmark::State& state) {
    const auto& pair = namePairs[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(pair[0]));
    for (auto _ : state) {
        benchmark::DoNotOptimize(fold(pair[0]));
    }
    state.SetItemsProcessed(state.iterations());
}

constexpr std::int64_t lastPair = static_cast<std::int64_t>(namePairs.size()) - 1;

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
BENCHMARK(BM_ConstructUtf16<winfs::path>)
    ->Name("BM_ConstructUtf16/winfs")
    ->DenseRange(0, allSamples);
BENCHMARK(BM_ConstructUtf16<std::filesystem::path>)
    ->Name("BM_ConstructUtf16/std")
    ->DenseRange(0, allSamples);
BENCHMARK(BM_IterateForward<winfs::path>)->Name("BM_IterateForward/winfs");
BENCHMARK(BM_IterateForward<std::filesystem::path>)->Name("BM_IterateForward/std");
BENCHMARK(BM_IterateBackward<winfs::path>)->Name("BM_IterateBackward/winfs");
BENCHMARK(BM_IterateBackward<std::filesystem::path>)->Name("BM_IterateBackward/std");
BENCHMARK(BM_EqualIgnoringCase<winfs::equalIgnoringCase>)
    ->Name("BM_EqualIgnoringCase/ntfs")
    ->DenseRange(0, lastPair);
BENCHMARK(BM_EqualIgnoringCase<hostEqualIgnoringCase>)
    ->Name("BM_EqualIgnoringCase/towupper")
    ->DenseRange(0, lastPair);
BENCHMARK(BM_CaseFolded<winfs::caseFolded>)->Name("BM_CaseFolded/ntfs")->DenseRange(0, lastPair);
BENCHMARK(BM_CaseFolded<hostCaseFolded>)->Name("BM_CaseFolded/towupper")->DenseRange(0, lastPair);

}  // namespace
