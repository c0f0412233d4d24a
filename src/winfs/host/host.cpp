// The host layer's calls about the process itself: its host name, its account's home, its
// working directory, and a host path made real.
#include "host/host.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "host/host_internal.h"
#include "pathprobe/winfs/error.h"

namespace winfs::host {

Result<std::string> realPath(const std::string& host) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(host.c_str(), nullptr),
                                                           &std::free);
    if (!real) return Error::last();
    return std::string(real.get());
}

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) return {};
    return name.data();
}

std::optional<std::string> homeFolder() {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
    return std::string(found->pw_dir);
}

Result<std::string> workingDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
        if (errno != ERANGE) return Error::last();
        buffer.resize(buffer.size() * 2);
    }
}

Error changeDirectory(Place place) {
    if (*place.below == '\0') return ::fchdir(place.folder) == 0 ? Error() : Error::last();
    const Handle folder(
        ::openat(descriptor(place), place.below, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) return Error::last();
    return ::fchdir(folder.get()) == 0 ? Error() : Error::last();
}

}  // namespace winfs::host
