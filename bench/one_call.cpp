// Makes one resolution call between two marker writes, so that `strace` can count the system
// calls of that call alone: one_call canonPath|weakly_canonical|std
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "path_resolution.h"
#include "platform.h"

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "canonPath";
    char folder[] = "/tmp/pathprobe-calls-XXXXXX";
    const std::string prefix = ::mkdtemp(folder);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    winfs::reload_drives();
    std::filesystem::create_directories(prefix + "/drive_c/bench/one/two/real/four/five/six");
    winfs::create_directory_symlink("C:\\bench\\one\\two\\real", "C:\\bench\\one\\two\\link");
    const fs::path windows("C:\\bench\\one\\two\\link\\four\\five\\six");
    const std::filesystem::path host = prefix + "/drive_c/bench/one/two/link/four/five/six";

    std::string result;
    (void)!::write(2, "BEGIN\n", 6);
    if (which == "std") {
        result = std::filesystem::weakly_canonical(host).string();
    } else if (which == "weakly_canonical") {
        result = fs::weakly_canonical(windows).string();
    } else {
        result = canonPath(windows, true).string();
    }
    (void)!::write(2, "END\n", 4);
    std::cout << result << std::endl;
    std::filesystem::remove_all(prefix);
    return 0;
}
