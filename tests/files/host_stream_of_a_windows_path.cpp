// Compiled by a test that expects it to fail: the host's stream of a winfs::path would open a
// host file named "C:\zor\out\report.txt" in the working folder.
#include <pathprobe/winfs/filesystem.h>

#include <fstream>

int main() {
    std::ofstream report(winfs::path("C:\\zor\\out\\report.txt"));
    report << "hello\n";
}
