// canonPath and absPath from an installed tree, beside names of the user's own that the library
// must leave free: an fs alias and a Win32-style DWORD (unsigned long, as on Windows).
#include <pathprobe/path_resolution.h>

#include <filesystem>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;
using DWORD = unsigned long;

int main() {
    std::cout << winfs::path("c:\\zor\\..\\x").lexically_normal().string() << '\n';
    std::cout << canonPath(winfs::path("c:\\nothere\\..\\x"), false).string() << '\n';
    std::cout << absPath(winfs::path("y"), winfs::path("c:\\"), false).string() << '\n';
    std::ostringstream diagnostics;
    canonPath(winfs::path("x"), false, diagnostics);
    std::cout << "[" << diagnostics.str() << "]\n";
    const fs::path host = fs::path("/tmp") / "x";
    const DWORD length = static_cast<DWORD>(host.string().size());
    std::cout << length << '\n';
}
