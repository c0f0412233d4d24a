// winfs's file opens and streams beside the host's on the same files, and what the table of open
// files costs while no file is open, each subject beside its baseline:
//   BM_Open/host, winfs_exact, winfs_other_case: open and close C:\Users\Bench\Documents\Report.txt
//     by its host path, by its Windows path as on disk, and in capitals
//   BM_Read256/std, winfs: read 256 MiB in 64 KiB blocks through std::ifstream, winfs::ifstream
//   BM_Write256/std, winfs: write them through std::ofstream, winfs::ofstream, to a new file
//   BM_Status, BM_Remove, BM_OpenFile/table_on, table_off: status, remove (of a file made afresh,
//     untimed) and open_file with close, with set_sharing(true) and set_sharing(false)
//   BM_OpenEntry/table_on, table_off: the table's own part of an open and its close, an entry
//     made and given up, which is below what the rows above can tell on a busy machine
// Run by hand, interleaved and repeated on a busy machine:
//   build/default/bench/files_bench --benchmark_min_time=0.2 --benchmark_repetitions=10
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bench_prefix.h"
#include "operations/sharing.h"
#include "pathprobe/winfs/filesystem.h"
#include "pathprobe/winfs/fstream.h"

namespace {

constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kBig = 256 * 1024 * 1024;

// The same file by its Windows path as on disk, in capitals, and by its host path.
const char* const kReportExact = "C:\\Users\\Bench\\Documents\\Report.txt";
const char* const kReportOtherCase = "C:\\USERS\\BENCH\\DOCUMENTS\\REPORT.TXT";
const char* const kReportHost = "Users/Bench/Documents/Report.txt";
const char* const kBigFile = "C:\\Data\\big.bin";
const char* const kBigHost = "Data/big.bin";
const char* const kWritten = "C:\\Data\\written.bin";
const char* const kWrittenHost = "Data/written.bin";
const char* const kGone = "C:\\Scratch\\gone.txt";
const char* const kGoneHost = "Scratch/gone.txt";

void makeFile(const std::string& host, std::size_t bytes) {
    const int fd = ::open(host.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::vector<char> block(kBlock, 'x');
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t put = ::write(fd, block.data(), std::min(block.size(), bytes - done));
        if (put <= 0) break;
        done += static_cast<std::size_t>(put);
    }
    ::close(fd);
}

struct Drive : BenchPrefix {
    Drive() {
        std::filesystem::create_directories(host("Users/Bench/Documents"));
        std::filesystem::create_directories(host("Data"));
        std::filesystem::create_directories(host("Scratch"));
        makeFile(host(kReportHost), 4096);
        makeFile(host(kBigHost), kBig);
        // A folder is kept in the name cache only once its last change has settled.
        std::this_thread::sleep_for(std::chrono::seconds(3) + std::chrono::milliseconds(100));
    }
};

Drive& drive() {
    static Drive d;
    return d;
}

void BM_Open(benchmark::State& state, const char* windows) {
    const std::string host = drive().host(kReportHost);
    winfs::set_sharing(true);
    if (windows == nullptr) {
        for (auto _ : state) {
            const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) state.SkipWithError("not opened");
            ::close(fd);
        }
        return;
    }
    const winfs::path p(windows);
    for (auto _ : state) {
        std::error_code ec;
        winfs::file f = winfs::open_file(p, winfs::file_access::read,
                                         winfs::file_disposition::open_existing, ec);
        if (!ec) f.close(ec);
        if (ec) state.SkipWithError(ec.message().c_str());
    }
}
BENCHMARK_CAPTURE(BM_Open, host, nullptr)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Open, winfs_exact, kReportExact)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Open, winfs_other_case, kReportOtherCase)->Unit(benchmark::kMicrosecond);

template <class Stream, class Path>
void readBig(benchmark::State& state, const Path& p) {
    std::vector<char> block(kBlock);
    for (auto _ : state) {
        Stream in(p, std::ios::binary);
        std::size_t total = 0;
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) ||
               in.gcount() > 0) {
            total += static_cast<std::size_t>(in.gcount());
        }
        if (total != kBig) state.SkipWithError("not all read");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBig));
}

void BM_Read256(benchmark::State& state, bool winfs) {
    if (winfs) {
        drive();
        readBig<winfs::ifstream>(state, winfs::path(kBigFile));
    } else {
        readBig<std::ifstream>(state, drive().host(kBigHost));
    }
}
BENCHMARK_CAPTURE(BM_Read256, std, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read256, winfs, true)->Unit(benchmark::kMillisecond);

// Each write makes the file afresh: the last one's is removed, untimed, first.
template <class Stream, class Path>
void writeBig(benchmark::State& state, const Path& p) {
    const std::string host = drive().host(kWrittenHost);
    const std::vector<char> block(kBlock, 'y');
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(host.c_str());
        state.ResumeTiming();
        Stream out(p, std::ios::binary);
        for (std::size_t done = 0; done < kBig; done += block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        out.close();
        if (!out) state.SkipWithError("not all written");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBig));
    ::unlink(host.c_str());
}

void BM_Write256(benchmark::State& state, bool winfs) {
    if (winfs) {
        writeBig<winfs::ofstream>(state, winfs::path(kWritten));
    } else {
        writeBig<std::ofstream>(state, drive().host(kWrittenHost));
    }
}
BENCHMARK_CAPTURE(BM_Write256, std, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write256, winfs, true)->Unit(benchmark::kMillisecond);

// The table of open files, asked or not, while no file is open.
void BM_Status(benchmark::State& state, bool table) {
    drive();
    winfs::set_sharing(table);
    const winfs::path p(kReportExact);
    for (auto _ : state) {
        std::error_code ec;
        const winfs::file_status st = winfs::status(p, ec);
        if (ec || st.type() != winfs::file_type::regular) state.SkipWithError("no file");
    }
    winfs::set_sharing(true);
}
BENCHMARK_CAPTURE(BM_Status, table_on, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Status, table_off, false)->Unit(benchmark::kMicrosecond);

// The file is made, untimed, before each removal.
void BM_Remove(benchmark::State& state, bool table) {
    const std::string host = drive().host(kGoneHost);
    winfs::set_sharing(table);
    const winfs::path p(kGone);
    for (auto _ : state) {
        state.PauseTiming();
        const int fd = ::open(host.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
        state.ResumeTiming();
        std::error_code ec;
        if (!winfs::remove(p, ec) || ec) state.SkipWithError("not removed");
    }
    winfs::set_sharing(true);
}
BENCHMARK_CAPTURE(BM_Remove, table_on, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Remove, table_off, false)->Unit(benchmark::kMicrosecond);

void BM_OpenFile(benchmark::State& state, bool table) {
    drive();
    winfs::set_sharing(table);
    const winfs::path p(kReportExact);
    for (auto _ : state) {
        std::error_code ec;
        winfs::file f = winfs::open_file(p, winfs::file_access::read,
                                         winfs::file_disposition::open_existing, ec);
        if (!ec) f.close(ec);
        if (ec) state.SkipWithError(ec.message().c_str());
    }
    winfs::set_sharing(true);
}
BENCHMARK_CAPTURE(BM_OpenFile, table_on, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OpenFile, table_off, false)->Unit(benchmark::kMicrosecond);

void BM_OpenEntry(benchmark::State& state, bool table) {
    winfs::set_sharing(table);
    for (auto _ : state) {
        std::error_code ec;
        winfs::detail::open_entry entry =
            winfs::enterOpen({1, 1}, winfs::DataAccess::read, winfs::default_share, ec);
        benchmark::DoNotOptimize(entry);
        if (ec) state.SkipWithError("not entered");
    }
    winfs::set_sharing(true);
}
BENCHMARK_CAPTURE(BM_OpenEntry, table_on, true);
BENCHMARK_CAPTURE(BM_OpenEntry, table_off, false);

}  // namespace
