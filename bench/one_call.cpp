// Makes one resolution call between two marker writes, so that `strace` can count the system
// calls of that call alone: one_call [canonPath|weakly_canonical|status|exists|open_file|std]
// [PATH], open_file opening the file for reading and closing it, where PATH is
//   one_link    C:\bench\one\two\link\four\five\six, link -> C:\bench\one\two\real (the default)
//   no_link     C:\bench\one\two\real\four\five
//   missing     C:\bench\one\two\real\four\five\missing
//   big_missing, big_other_case, big_exact: C:\big\missing\y, C:\big\FILE50000, C:\big\file50000
//               in a folder of 100,000 names, looked up once before, so that its names are cached
//   tail_settled, tail_new: C:\a\lnk\c\d\x\y, lnk -> b, x and y missing, on a tree made 3 s
//               before or 0.1 s before, resolved once before as a program that asks again would
//   report_exact, report_other_case: C:\Users\Bench\Documents\Report.txt, and in capitals, a
//               file on a tree made 3 s before, opened once before
// For example:
//   strace -f -e trace=%file,%desc build/default/bench/one_call canonPath no_link 2>&1 |
//     sed -n '/BEGIN/,/END/p'
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "drives/drive.h"
#include "pathprobe/path_resolution.h"
#include "pathprobe/winfs/files.h"
#include "platform.h"
#include "resolve/name_cache.h"

namespace {

struct Case {
    const char* windows;
    const char* host;  // below drive C's folder
};

const std::map<std::string, Case> kCases = {
    {"one_link",
     {"C:\\bench\\one\\two\\link\\four\\five\\six", "bench/one/two/link/four/five/six"}},
    {"no_link", {"C:\\bench\\one\\two\\real\\four\\five", "bench/one/two/real/four/five"}},
    {"missing",
     {"C:\\bench\\one\\two\\real\\four\\five\\missing", "bench/one/two/real/four/five/missing"}},
    {"big_missing", {"C:\\big\\missing\\y", "big/missing/y"}},
    {"big_other_case", {"C:\\big\\FILE50000", "big/FILE50000"}},
    {"big_exact", {"C:\\big\\file50000", "big/file50000"}},
    {"tail_settled", {"C:\\a\\lnk\\c\\d\\x\\y", "a/lnk/c/d/x/y"}},
    {"tail_new", {"C:\\a\\lnk\\c\\d\\x\\y", "a/lnk/c/d/x/y"}},
    {"report_exact",
     {"C:\\Users\\Bench\\Documents\\Report.txt", "Users/Bench/Documents/Report.txt"}},
    {"report_other_case",
     {"C:\\USERS\\BENCH\\DOCUMENTS\\REPORT.TXT", "Users/Bench/Documents/Report.txt"}},
};

std::string run(const std::string& which, const fs::path& windows,
                const std::filesystem::path& host) {
    if (which == "std") return std::filesystem::weakly_canonical(host).string();
    if (which == "weakly_canonical") return fs::weakly_canonical(windows).string();
    std::error_code ec;
    if (which == "status") return std::to_string(static_cast<int>(fs::status(windows, ec).type()));
    if (which == "exists") return std::to_string(fs::exists(windows, ec));
    if (which == "open_file") {
        winfs::file file = winfs::open_file(windows, winfs::file_access::read,
                                            winfs::file_disposition::open_existing, ec);
        if (!ec) file.close(ec);
        return ec ? ec.message() : "opened";
    }
    return canonPath(windows, true).string();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "canonPath";
    const std::string name = argc > 2 ? argv[2] : "one_link";
    const auto found = kCases.find(name);
    if (found == kCases.end()) {
        std::cerr << "one_call: no path " << name << '\n';
        return 2;
    }
    const Case& c = found->second;
    char folder[] = "/tmp/pathprobe-calls-XXXXXX";
    const std::string prefix = ::mkdtemp(folder);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    winfs::reloadDrives();
    std::filesystem::create_directories(prefix + "/drive_c/bench/one/two/real/four/five/six");
    winfs::create_directory_symlink("C:\\bench\\one\\two\\real", "C:\\bench\\one\\two\\link");
    const fs::path windows(c.windows);
    const std::filesystem::path host = prefix + "/drive_c/" + c.host;
    if (name.rfind("big_", 0) == 0) {
        const std::string big = prefix + "/drive_c/big";
        std::filesystem::create_directories(big);
        for (int i = 0; i < 100'000; ++i) {
            char file[32];
            std::snprintf(file, sizeof file, "/file%05d", i);
            const int fd = ::open((big + file).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) ::close(fd);
        }
        // Kept in the name cache once its last change has settled; the first lookup reads it.
        std::this_thread::sleep_for(std::chrono::seconds(3) + std::chrono::milliseconds(100));
        (void)fs::weakly_canonical(fs::path("C:\\big\\MISSING"));
    }

    if (name.rfind("tail_", 0) == 0) {
        std::filesystem::create_directories(prefix + "/drive_c/a/b/c/d");
        std::filesystem::create_symlink("b", prefix + "/drive_c/a/lnk");
        std::this_thread::sleep_for(name == "tail_new" ? std::chrono::milliseconds(100)
                                                       : std::chrono::milliseconds(3100));
        (void)run(which, windows, host);
    }

    if (name.rfind("report_", 0) == 0) {
        std::filesystem::create_directories(prefix + "/drive_c/Users/Bench/Documents");
        const int fd = ::open(host.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(3100));
        (void)run(which, windows, host);
    }

    (void)!::write(2, "BEGIN\n", 6);
    const std::string result = run(which, windows, host);
    (void)!::write(2, "END\n", 4);
    std::cout << result << std::endl;
    std::filesystem::remove_all(prefix);
    return 0;
}
