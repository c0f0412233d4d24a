#include "drive_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "drives/drive.h"

namespace {

std::string hostError(const std::string& what, const std::string& host) {
    return what + " " + host + ": " + std::strerror(errno);
}

// Removes a tree of any depth: every call takes one name below an open folder, so no path grows
// past what the host takes. Folders left without permissions are opened up first.
bool removeTree(int at, const char* name) {
    if (::unlinkat(at, name, 0) == 0 || errno == ENOENT) return true;
    if (errno != EISDIR) return false;
    ::fchmodat(at, name, 0700, 0);
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    bool removed = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string child = entry->d_name;
        if (child != "." && child != "..")
            removed = removeTree(::dirfd(dir), child.c_str()) && removed;
    }
    ::closedir(dir);
    return ::unlinkat(at, name, AT_REMOVEDIR) == 0 && removed;
}

}  // namespace

void DriveFixture::SetUp() {
    if (const char* prefix = std::getenv("WINEPREFIX")) savedPrefix_ = prefix;
    char directory[PATH_MAX];
    ASSERT_NE(::getcwd(directory, sizeof directory), nullptr);
    savedDirectory_ = directory;

    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pathprobe-test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << hostError("mkdtemp", pattern);
    // The real path, since the working directory comes back from the host without links in it.
    char resolved[PATH_MAX];
    ASSERT_NE(::realpath(pattern.c_str(), resolved), nullptr);
    temp_ = resolved;

    ASSERT_EQ(::mkdir(prefix().c_str(), 0777), 0) << hostError("mkdir", prefix());
    ::setenv("WINEPREFIX", prefix().c_str(), 1);
    winfs::reloadDrives();
}

void DriveFixture::TearDown() {
    if (!savedDirectory_.empty() && ::chdir(savedDirectory_.c_str()) != 0) {
        ADD_FAILURE() << hostError("chdir", savedDirectory_);
    }
    // Reading the map again creates drive C's folder, so ~/.wine is not read on the tests' behalf:
    // the next test reads its own prefix.
    if (savedPrefix_) {
        ::setenv("WINEPREFIX", savedPrefix_->c_str(), 1);
        winfs::reloadDrives();
    } else {
        ::unsetenv("WINEPREFIX");
    }
    if (!temp_.empty() && !removeTree(AT_FDCWD, temp_.c_str())) {
        ADD_FAILURE() << hostError("cannot remove", temp_);
    }
}

std::string DriveFixture::temp(const std::string& below) const {
    return below.empty() ? temp_ : temp_ + "/" + below;
}

std::string DriveFixture::driveC(const std::string& below) const {
    return below.empty() ? prefix() + "/drive_c" : prefix() + "/drive_c/" + below;
}

std::string DriveFixture::throughZ(const std::string& host) {
    std::string windows = "Z:";
    for (const char c : host)
        windows.push_back(c == '/' ? '\\' : c);
    return windows;
}

std::string DriveFixture::expand(const std::string& text) const {
    std::string result;
    for (const char c : text) {
        if (c == '@') {
            result += throughZ(temp_);
        } else {
            result.push_back(c);
        }
    }
    return result;
}

void DriveFixture::makeFolder(const std::string& host) {
    std::error_code ec;
    std::filesystem::create_directories(host, ec);
    ASSERT_FALSE(ec) << "cannot create " << host << ": " << ec.message();
}

void DriveFixture::makeFile(const std::string& host) {
    const int fd = ::open(host.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0666);
    ASSERT_GE(fd, 0) << hostError("open", host);
    ::close(fd);
}

void DriveFixture::hostLink(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << hostError("symlink", link);
}

void DriveFixture::changeDirectory(const std::string& host) {
    ASSERT_EQ(::chdir(host.c_str()), 0) << hostError("chdir", host);
}

void DriveFixture::useDosdevices(const std::vector<std::pair<std::string, std::string>>& links) {
    const std::string devices = prefix() + "/dosdevices";
    makeFolder(devices);
    for (const auto& [name, target] : links)
        hostLink(target, devices + "/" + name);
    winfs::reloadDrives();
}

void DriveFixture::buildTree() {
    const std::string zor = driveC("zor");
    const std::string notUtf8 = "\xff\xfe";
    for (const char* folder : {"store/inner", "Mixed", "mIXED", "sub", "Été"})
        makeFolder(zor + "/" + folder);
    makeFolder(zor + "/" + notUtf8);
    makeFolder(temp("outside"));
    makeFile(zor + "/file.txt");

    hostLink("store", zor + "/rel");
    hostLink("../store", zor + "/sub/up");
    hostLink(zor + "/store", zor + "/abs");
    hostLink("loop2", zor + "/loop1");
    hostLink("loop1", zor + "/loop2");
    hostLink("nothere", zor + "/dangling");
    hostLink("store/inner", zor + "/hop");
    hostLink("STORE", zor + "/upper");
    hostLink("hop/../file.txt", zor + "/lexi");
    hostLink(temp("outside"), zor + "/out");
    hostLink(notUtf8, zor + "/badrel");
    hostLink(zor + "/" + notUtf8, zor + "/badabs");

    // An absolute host target whose ".." leaves drive C, beside a decoy where ".." taken lexically
    // would land (and where a relative target's ".." stop, at the drive's root); and names that
    // Windows cannot spell, beside the paths they would be read as.
    makeFolder(prefix() + "/outside");
    makeFile(prefix() + "/outside/secret");
    makeFolder(driveC("outside"));
    makeFile(driveC("outside/secret"));
    hostLink(driveC() + "/../outside", zor + "/absdots");
    hostLink("../outside", driveC("up"));
    makeFolder(zor + "/a/b");
    makeFile(zor + "/a/b/f");
    makeFolder(zor + "/a\\b");
    makeFile(zor + "/a\\b/f");
    hostLink("a\\b", zor + "/bsl");
    makeFolder(zor + "/nul");
    hostLink("nul", zor + "/tonul");

    const std::string chain = driveC("chain");
    makeFolder(chain + "/end");
    for (int i = 0; i < 64; ++i) {
        const std::string next = i == 63 ? "end" : numbered("l", i + 1);
        hostLink(next, chain + "/l" + std::to_string(i));
    }
}
