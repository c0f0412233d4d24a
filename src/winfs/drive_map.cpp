#include "winfs/drive_map.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "winfs/error.h"
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

// No folder for drive C is no drive C, an error of its own rather than a missing file.
std::error_code setupFailure(int error) {
    if (error == 0) return {};
    if (error == ENOENT || error == ENOTDIR) return make_error_code(ERROR_INVALID_DRIVE);
    return host::windowsError(error, host::At::folderOnTheWay);
}

}  // namespace

DriveMap::DriveMap(const std::string& prefix) : prefix_(withoutTrailingSlash(prefix)) {
    // A relative prefix is taken from where the map is read, not from wherever the process goes.
    if (!prefix_.empty() && prefix_.front() != '/') {
        std::string cwd;
        if (host::workingDirectory(cwd) == 0) {
            if (cwd != "/") cwd.push_back('/');
            prefix_ = cwd.append(prefix_);
        }
    }
    std::array<std::optional<std::string>, 26> folders;
    const std::string devices = prefix_ + "/dosdevices";
    file_type devicesType = file_type::none;
    if (host::typeAt({-1, devices.c_str()}, true, devicesType) == 0 &&
        devicesType == file_type::directory) {
        for (char letter = 'a'; letter <= 'z'; ++letter) {
            std::string target;
            if (host::readLink(devices + "/" + letter + ":", target) != 0 || target.empty()) {
                continue;
            }
            if (target.front() != '/') target.insert(0, devices + "/");
            folders[static_cast<std::size_t>(indexOf(letter))] =
                withoutTrailingSlash(std::move(target));
        }
    } else {
        folders[static_cast<std::size_t>(indexOf('c'))] = prefix_ + "/drive_c";
        folders[static_cast<std::size_t>(indexOf('z'))] = std::string("/");
    }

    std::error_code driveCFailure;
    if (const auto& c = folders[static_cast<std::size_t>(indexOf('c'))]) {
        file_type type = file_type::none;
        if (host::typeAt({-1, c->c_str()}, true, type) != 0) {
            driveCFailure = setupFailure(host::makeFolders(*c));
        }
    }
    // Host paths are kept resolved, so that what is stored on the host maps back the same way.
    // Each drive's folder is held open, so that a lookup below it walks only the names below it.
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (!folders[i]) continue;
        Drive& drive = drives_[i].emplace();
        drive.letter = static_cast<char>('A' + i);
        drive.folder = host::realPath(*folders[i]).value_or(*folders[i]);
        drive.handle = host::openFolder(drive.folder);
        if (drive.letter == 'C') drive.failure = driveCFailure;
    }
}

const DriveMap::Drive* DriveMap::drive(char letter) const noexcept {
    const int index = indexOf(letter);
    if (index < 0 || !drives_[static_cast<std::size_t>(index)]) return nullptr;
    return &*drives_[static_cast<std::size_t>(index)];
}

const std::string* DriveMap::folderOf(char letter) const noexcept {
    const Drive* found = drive(letter);
    return found != nullptr ? &found->folder : nullptr;
}

path DriveMap::windowsPathFor(std::string_view host, std::error_code& ec) const {
    const Drive* best = nullptr;
    for (const auto& candidate : drives_) {
        if (candidate && leads(candidate->folder, host) &&
            (best == nullptr || candidate->folder.size() > best->folder.size())) {
            best = &*candidate;
        }
    }
    if (best == nullptr) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    std::string windows{best->letter, ':', '\\'};
    std::string_view rest = host.substr(best->folder == "/" ? 1 : best->folder.size());
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

std::string DriveMap::hostPathFor(const path& windows, std::error_code& ec) const {
    const path plain = drivePathOf(windows);
    if (plain.empty()) {
        ec = make_error_code(ERROR_BAD_NETPATH);
        return {};
    }
    const Drive* found = drive(plain.native()[0]);
    if (found == nullptr) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    if (found->failure) {
        ec = found->failure;
        return {};
    }
    ec.clear();
    std::string host = found->folder;
    for (const path& element : plain.relative_path()) {
        if (element.empty()) continue;
        if (host.back() != '/') host.push_back('/');
        host.append(element.native());
    }
    return host;
}

std::shared_ptr<const DriveMap> DriveMapHolder::current() {
    const std::lock_guard lock(mutex_);
    if (!map_) map_ = std::make_shared<const DriveMap>(defaultPrefix());
    return map_;
}

void DriveMapHolder::reload() {
    auto fresh = std::make_shared<const DriveMap>(defaultPrefix());
    const std::lock_guard lock(mutex_);
    map_.swap(fresh);
    // The old map goes when its last user lets it go, outside the lock if someone else holds it.
}

namespace {

DriveMapHolder& processMap() {
    static DriveMapHolder holder;
    return holder;
}

}  // namespace

std::shared_ptr<const DriveMap> drives() {
    return processMap().current();
}

void reload_drives() {
    processMap().reload();
}

}  // namespace winfs
