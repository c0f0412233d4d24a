// The Windows layer alone, from an installed tree.
#include <pathprobe/winfs/filesystem.h>

#include <iostream>

int main() {
    std::cout << (winfs::path("c:cat") / "d:dog").string() << '\n';
    std::cout << winfs::is_directory(winfs::path("c:\\")) << '\n';
}
