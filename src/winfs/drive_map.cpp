#include "winfs/drive_map.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "winfs/error.h"
#include "winfs/host.h"
#include "winfs/utf8.h"

namespace winfs {
namespace {

int indexOf(char letter) noexcept {
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    return -1;
}

std::string defaultPrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

// mkdir -p, as far as it gets.
std::error_code makeFolders(const std::string& folder) {
    std::string sofar;
    std::size_t from = 0;
    while (from <= folder.size()) {
        const std::size_t slash = folder.find('/', from);
        const std::size_t end = slash == std::string::npos ? folder.size() : slash;
        sofar = folder.substr(0, end);
        from = end + 1;
        if (sofar.empty()) continue;
        if (::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST) {
            return {errno, std::generic_category()};
        }
    }
    return {};
}

// Is `folder` (no trailing '/', except "/") a leading part of `host` on an element boundary?
bool leads(std::string_view folder, std::string_view host) noexcept {
    if (folder == "/") return !host.empty() && host.front() == '/';
    return host.substr(0, folder.size()) == folder &&
           (host.size() == folder.size() || host[folder.size()] == '/');
}

std::string withoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

}  // namespace

DriveMap::DriveMap(const std::string& prefix) : prefix_(withoutTrailingSlash(prefix)) {
    // A relative prefix is taken from where the map is read, not from wherever the process goes.
    if (!prefix_.empty() && prefix_.front() != '/') {
        std::error_code ec;
        const std::string cwd = hostWorkingDirectory(ec);
        if (!ec) prefix_ = cwd + (cwd == "/" ? "" : "/") + prefix_;
    }
    const std::string devices = prefix_ + "/dosdevices";
    struct stat st {};
    if (::stat(devices.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        for (char letter = 'a'; letter <= 'z'; ++letter) {
            const std::string link = devices + "/" + letter + ":";
            std::error_code ec;
            const std::string target = readHostLink(link, ec);
            if (ec) continue;
            std::string folder = target.front() == '/' ? target : devices + "/" + target;
            folders_[indexOf(letter)] = withoutTrailingSlash(std::move(folder));
        }
    } else {
        folders_[indexOf('c')] = prefix_ + "/drive_c";
        folders_[indexOf('z')].emplace(1, '/');
    }

    if (const auto& c = folders_[indexOf('c')]; c && ::stat(c->c_str(), &st) != 0) {
        setupError_ = makeFolders(*c);
        // No folder for drive C is no drive C, an error of its own rather than a missing file.
        const int error = setupError_.value();
        if (error == ENOENT || error == ENOTDIR) {
            setupError_ = make_error_code(ERROR_INVALID_DRIVE);
        } else if (error != 0) {
            setupError_ = make_error_code(windowsErrorFor(error, false));
        }
    }
    // Host paths are kept resolved, so that what is stored on the host maps back the same way.
    // Each drive's folder is held open, so that a lookup below it walks only the names below it.
    handles_.fill(-1);
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        auto& folder = folders_[i];
        if (!folder) continue;
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder->c_str(), nullptr),
                                                             &std::free);
        if (resolved) folder = std::string(resolved.get());
        handles_[i] = ::open(folder->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
}

DriveMap::~DriveMap() {
    for (const int handle : handles_) {
        if (handle >= 0) ::close(handle);
    }
}

const std::string* DriveMap::folderOf(char letter) const noexcept {
    const int index = indexOf(letter);
    if (index < 0 || !folders_[index]) return nullptr;
    return &*folders_[index];
}

path DriveMap::windowsPathFor(std::string_view host, std::error_code& ec) const {
    int best = -1;
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        if (folders_[i] && leads(*folders_[i], host) &&
            (best < 0 || folders_[i]->size() > folders_[best]->size())) {
            best = static_cast<int>(i);
        }
    }
    if (best < 0) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    std::string windows{static_cast<char>('A' + best), ':', '\\'};
    std::string_view rest = host.substr(*folders_[best] == "/" ? 1 : folders_[best]->size());
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of('/');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::size_t end = rest.find('/');
        if (windows.back() != '\\') windows.push_back('\\');
        windows.append(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (!isValidUtf8(windows)) {
        ec = std::make_error_code(std::errc::illegal_byte_sequence);
        return {};
    }
    ec.clear();
    return path(windows);
}

DriveMap::Root DriveMap::rootOf(const path& windows, std::error_code& ec) const {
    auto it = windows.begin();
    const auto end = windows.end();
    std::size_t skipped = 0;
    std::string root = it != end ? it->string() : std::string();
    // \\?\C:\x, \\.\C:\x and \??\C:\x stand for C:\x.
    if (root.size() == 3 && (root[2] == '?' || root[2] == '.') &&
        (root[1] == '?' || root[1] == '\\' || root[1] == '/')) {
        ++it;  // the device prefix
        if (it != end && it->native().find_first_not_of("\\/") == std::string::npos) ++it;
        skipped = 2;
        root = it != end ? it->string() : std::string();
        if (root.size() != 2 || root[1] != ':' || indexOf(root[0]) < 0) {
            ec = make_error_code(ERROR_BAD_NETPATH);
            return {};
        }
        ++skipped;
    } else if (root.size() == 2 && root[1] == ':' && indexOf(root[0]) >= 0) {
        ++skipped;
        ++it;
        if (it != end && it->native().find_first_not_of("\\/") == std::string::npos) ++skipped;
    } else {
        ec = make_error_code(ERROR_BAD_NETPATH);
        return {};
    }
    const std::string* folder = folderOf(root[0]);
    if (folder == nullptr) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    ec.clear();
    const int index = indexOf(root[0]);
    // Drive C's folder could not be made: say why at the first use of the drive.
    if (index == indexOf('c') && setupError_) {
        ec = setupError_;
        return {};
    }
    return Root{static_cast<char>('A' + index), *folder, handles_[index], skipped};
}

std::string DriveMap::hostPathFor(const path& windows, std::error_code& ec) const {
    const Root root = rootOf(windows, ec);
    if (ec) return {};
    std::string host = root.host;
    std::size_t index = 0;
    for (const path& element : windows) {
        if (index++ < root.skipped || element.empty()) continue;
        if (host.back() != '/') host.push_back('/');
        host.append(element.native());
    }
    return host;
}

namespace {

std::unique_ptr<DriveMap>& current() {
    static std::unique_ptr<DriveMap> map;
    return map;
}

}  // namespace

const DriveMap& drives() {
    auto& map = current();
    if (!map) map = std::make_unique<DriveMap>(defaultPrefix());
    return *map;
}

void reload_drives() {
    current() = std::make_unique<DriveMap>(defaultPrefix());
}

}  // namespace winfs
