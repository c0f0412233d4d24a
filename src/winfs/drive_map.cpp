#include "winfs/drive_map.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "winfs/error.h"
#include "winfs/names.h"
#include "winfs/utf8.h"

namespace winfs {
namespace {

int indexOf(char letter) noexcept {
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    return -1;
}

// $WINEPREFIX, else .wine in the home folder: $HOME, else the account's, as Wine finds it. Empty
// when there is no home folder at all, rather than a prefix at the root of the file system.
std::string defaultPrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.wine";
    }
    if (const auto home = host::homeFolder()) return *home + "/.wine";
    return {};
}

bool isDotName(std::string_view name) noexcept {
    return name == "." || name == "..";
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
    if (prefix_.empty()) {
        // No prefix, no drive C; the rest of the default map stands.
        drives_[static_cast<std::size_t>(indexOf('c'))].emplace().letter = 'C';
        drives_[static_cast<std::size_t>(indexOf('c'))]->failure =
            make_error_code(ERROR_INVALID_DRIVE);
        drives_[static_cast<std::size_t>(indexOf('z'))].emplace().letter = 'Z';
        drives_[static_cast<std::size_t>(indexOf('z'))]->folder = "/";
        drives_[static_cast<std::size_t>(indexOf('z'))]->handle = host::openFolder("/");
        return;
    }
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
    // A folder that is not a folder (a file, a loop of dosdevices links) is no drive.
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (!folders[i]) continue;
        Drive& drive = drives_[i].emplace();
        drive.letter = static_cast<char>('A' + i);
        const int unresolved = host::realPath(*folders[i], drive.folder);
        if (unresolved != 0) drive.folder = *folders[i];
        file_type type = file_type::none;
        const bool there = host::typeAt({-1, drive.folder.c_str()}, true, type) == 0;
        if (unresolved == ELOOP || (there && type != file_type::directory)) {
            drive.failure = make_error_code(ERROR_INVALID_DRIVE);
            continue;
        }
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
    // ".." goes where the host takes it, through any link before it: resolve up to the last one.
    std::size_t afterLastUp = 0;
    for (std::size_t at = host.find("/.."); at != std::string_view::npos;
         at = host.find("/..", at + 1)) {
        if (at + 3 == host.size() || host[at + 3] == '/') afterLastUp = at + 3;
    }
    std::string resolved;
    if (afterLastUp != 0) {
        const int error = host::realPath(std::string(host.substr(0, afterLastUp)), resolved);
        if (error != 0) {
            ec = host::windowsError(error, host::At::folderOnTheWay);
            return {};
        }
        resolved.append(host.substr(afterLastUp));
        host = resolved;
    }
    const Drive* best = nullptr;
    for (const auto& candidate : drives_) {
        if (candidate && !candidate->failure && leads(candidate->folder, host) &&
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
        const std::string_view name = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        if (name == ".") continue;
        if (!isValidUtf8(name)) {
            ec = std::make_error_code(std::errc::illegal_byte_sequence);
            return {};
        }
        // A name Windows cannot spell ("a\\b", "a:b") must not be read as another path.
        if (isDotName(name) || !isValidName(name) || name.find('\\') != std::string_view::npos) {
            ec = make_error_code(ERROR_INVALID_NAME);
            return {};
        }
        if (windows.back() != '\\') windows.push_back('\\');
        windows.append(name);
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

path windowsPathOf(std::string_view relativeHost, std::error_code& ec) {
    if (!isValidUtf8(relativeHost)) {
        ec = std::make_error_code(std::errc::illegal_byte_sequence);
        return {};
    }
    std::string windows;
    for (std::size_t start = 0; start <= relativeHost.size();) {
        const std::size_t end = std::min(relativeHost.find('/', start), relativeHost.size());
        const std::string_view name = relativeHost.substr(start, end - start);
        if (!isValidName(name) || name.find('\\') != std::string_view::npos) {
            ec = make_error_code(ERROR_INVALID_NAME);
            return {};
        }
        if (!windows.empty()) windows.push_back('\\');
        windows.append(name);
        start = end + 1;
    }
    return path(std::move(windows));
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
