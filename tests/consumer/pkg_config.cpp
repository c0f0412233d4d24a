// A program built with nothing but a compiler command line and pkg-config's flags:
//   c++ -std=c++20 pkg_config.cpp $(pkg-config --cflags --libs pathprobe)
// Each argument pair: a host path to write as a Windows path, and a Windows path to write as a host
// path.
#include <pathprobe/path_resolution.h>
#include <pathprobe/winfs/filesystem.h>

#include <iostream>

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::cout << winfs::windows_path(argv[i]).string() << '\n';
        std::cout << winfs::host_path(winfs::path(argv[i + 1])).string() << '\n';
    }
    std::cout << absPath(winfs::path("y"), winfs::path("c:\\"), false).string() << '\n';
}
