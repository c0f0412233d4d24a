// canonPath and absPath from an installed tree, with the fs namespace of the platform.
#include <pathprobe/path_resolution.h>

#include <iostream>

int main() {
    std::cout << fs::path("c:\\zor\\..\\x").lexically_normal().string() << '\n';
    std::cout << canonPath(fs::path("c:\\nothere\\..\\x"), false).string() << '\n';
    std::cout << absPath(fs::path("y"), fs::path("c:\\"), false).string() << '\n';
}
