#include "pathprobe/winfs/drive_map.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <utility>

#include "drives/drive.h"
#include "pathprobe/winfs/error.h"
#include "text/names.h"
#include "text/path_grammar.h"
#include "text/utf8.h"
#include "windows/lookup_form.h"

namespace winfs {
namespace {

using grammar::ElementCursor;
using grammar::Separators;
using Folders = std::array<std::optional<std::string>, 26>;

int indexOf(char letter) noexcept {
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    return -1;
}

template <class Table>
auto& ofLetter(Table& table, char letter) {
    return table[static_cast<std::size_t>(indexOf(letter))];
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

// Why a host name cannot stand in a Windows path, if it cannot: not UTF-8 (the conversion
// error), or a character that Windows forbids or reads as a separator ("a\\b", "a:b"), which
// must not be read as another path (ERROR_INVALID_NAME).
std::error_code spellingOf(std::string_view name) {
    if (!isValidUtf8(name)) return std::make_error_code(std::errc::illegal_byte_sequence);
    if (!isValidName(name) || name.find('\\') != std::string_view::npos) {
        return make_error_code(ERROR_INVALID_NAME);
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

// The prefix as an absolute host path: a relative one is taken from where the map is read, not
// from wherever the process goes later.
std::string absolutePrefix(const std::string& prefix) {
    std::string absolute = withoutTrailingSlash(prefix);
    if (absolute.empty() || absolute.front() == '/') return absolute;
    host::Result<std::string> cwd = host::workingDirectory();
    if (!cwd) return absolute;
    if (*cwd != "/") cwd->push_back('/');
    return cwd->append(absolute);
}

// Each drive's folder as the prefix names it: the dosdevices links, or without them C and Z.
Folders folderNames(const std::string& prefix) {
    Folders folders;
    const std::string devices = prefix + "/dosdevices";
    const host::Result<file_type> devicesType = host::typeAt({-1, devices.c_str()}, true);
    if (!devicesType || *devicesType != file_type::directory) {
        ofLetter(folders, 'c') = prefix + "/drive_c";
        ofLetter(folders, 'z') = std::string("/");
        return folders;
    }
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        host::Result<std::string> target = host::readLink(devices + "/" + letter + ":");
        if (!target || target->empty()) continue;
        if (target->front() != '/') target->insert(0, devices + "/");
        ofLetter(folders, letter) = withoutTrailingSlash(std::move(*target));
    }
    return folders;
}

// Drive C's folder made where it is missing, as Wine makes its prefix. No folder for drive C is no
// drive C, an error of its own rather than a missing file.
std::error_code makeDriveC(const std::optional<std::string>& folder) {
    if (!folder || host::typeAt({-1, folder->c_str()}, true)) return {};
    const host::Error error = host::makeFolders(*folder);
    if (!error) return {};
    if (error.missing() || error.notAFolder()) return make_error_code(ERROR_INVALID_DRIVE);
    return error.windows(host::At::folderOnTheWay);
}

// One drive, its folder resolved so that what is stored on the host maps back the same way, and
// held open so that a lookup below it walks only the names below it. A folder that is not a
// folder (a file, a loop of dosdevices links) is no drive.
std::unique_ptr<Drive> openDrive(char letter, const std::string& folder) {
    auto drive = std::make_unique<Drive>();
    drive->letter = letter;
    const host::Result<std::string> resolved = host::realPath(folder);
    drive->folder = resolved ? *resolved : folder;
    const host::Result<file_type> type = host::typeAt({-1, drive->folder.c_str()}, true);
    if (resolved.error().loop() || (type && *type != file_type::directory)) {
        drive->failure = make_error_code(ERROR_INVALID_DRIVE);
        return drive;
    }
    host::Result<host::Handle> handle = host::openFolder(drive->folder);
    if (handle) {
        drive->handle = std::move(*handle);
    } else if (handle.error().scarce()) {
        // Without its handle, no path deeper than the host takes would resolve on it.
        drive->failure = handle.error().windows(host::At::folderOnTheWay);
    }
    return drive;
}

// No prefix, no drive C; the rest of the default map stands.
std::unique_ptr<Drive> missingDrive(char letter) {
    auto drive = std::make_unique<Drive>();
    drive->letter = letter;
    drive->failure = make_error_code(ERROR_INVALID_DRIVE);
    return drive;
}

std::uint64_t nextSerial() {
    static std::atomic<std::uint64_t> serial{0};
    return ++serial;
}

}  // namespace

DriveMap::DriveMap(const std::string& prefix)
    : prefix_(absolutePrefix(prefix)), hostName_(host::hostName()), serial_(nextSerial()) {
    if (prefix_.empty()) {
        ofLetter(drives_, 'c') = missingDrive('C');
        ofLetter(drives_, 'z') = openDrive('Z', "/");
    } else {
        openDrives();
    }
    for (const auto& drive : drives_) {
        if (drive && (drive->failure == make_error_code(ERROR_TOO_MANY_OPEN_FILES) ||
                      drive->failure == make_error_code(ERROR_NOT_ENOUGH_MEMORY))) {
            provisional_ = true;
        }
    }
}

void DriveMap::openDrives() {
    const Folders folders = folderNames(prefix_);
    const std::error_code driveCFailure = makeDriveC(ofLetter(folders, 'c'));
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (!folders[i]) continue;
        const char letter = static_cast<char>('A' + i);
        std::unique_ptr<Drive> drive = openDrive(letter, *folders[i]);
        if (letter == 'C' && !drive->failure) drive->failure = driveCFailure;
        drives_[i] = std::move(drive);
    }
}

DriveMap::~DriveMap() = default;

const Drive* DriveMapAccess::drive(const DriveMap& map, char letter) noexcept {
    const int index = indexOf(letter);
    if (index < 0 || !map.drives_[static_cast<std::size_t>(index)]) return nullptr;
    return &*map.drives_[static_cast<std::size_t>(index)];
}

const std::string* DriveMap::folderOf(char letter) const noexcept {
    const Drive* found = DriveMapAccess::drive(*this, letter);
    return found != nullptr ? &found->folder : nullptr;
}

path DriveMap::windowsPathFor(std::string_view host, std::error_code& ec, Outside outside) const {
    // ".." goes where the host takes it, through any link before it: resolve up to the last one.
    std::size_t afterLastUp = 0;
    for (std::size_t at = host.find("/.."); at != std::string_view::npos;
         at = host.find("/..", at + 1)) {
        if (at + 3 == host.size() || host[at + 3] == '/') afterLastUp = at + 3;
    }
    std::string resolved;
    if (afterLastUp != 0) {
        host::Result<std::string> real = host::realPath(std::string(host.substr(0, afterLastUp)));
        if (!real) {
            ec = real.error().windows(host::At::folderOnTheWay);
            return {};
        }
        resolved = std::move(*real);
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
    if (best == nullptr && outside == Outside::fail) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    std::string windows =
        best == nullptr ? std::string("\\\\?\\unix\\") : std::string{best->letter, ':', '\\'};
    const std::string_view rest =
        host.substr(best == nullptr || best->folder == "/" ? 1 : best->folder.size());
    for (ElementCursor names(rest, 0, Separators::host); names.more();) {
        const std::string_view name = names.take();
        if (name.empty() || name == ".") continue;
        if (const std::error_code unspellable = spellingOf(name); unspellable || name == "..") {
            ec = unspellable ? unspellable : make_error_code(ERROR_INVALID_NAME);
            return {};
        }
        if (windows.back() != '\\') windows.push_back('\\');
        windows.append(name);
    }
    ec.clear();
    return path(windows);
}

const Drive* DriveMapAccess::driveOf(const DriveMap& map, const LookupForm& form,
                                     std::error_code& ec) {
    const auto local = [&map](std::string_view server) {
        return grammar::equalIgnoringAsciiCase(server, "localhost") || server == "127.0.0.1" ||
               (!map.hostName_.empty() && grammar::equalIgnoringAsciiCase(server, map.hostName_));
    };
    if (form.kind != LookupForm::Kind::drive &&
        (form.kind != LookupForm::Kind::share || form.drive == 0 || !local(form.server))) {
        ec = make_error_code(ERROR_BAD_NETPATH);
        return nullptr;
    }
    const Drive* found = drive(map, form.drive);
    if (found == nullptr) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    if (found->failure) {
        ec = found->failure;
        return nullptr;
    }
    return found;
}

std::string DriveMap::hostPathFor(const path& windows, std::error_code& ec) const {
    const LookupForm form = lookupFormOf(windows);
    const bool wholeHost = form.kind == LookupForm::Kind::unixNamespace;
    const Drive* found = wholeHost ? nullptr : DriveMapAccess::driveOf(*this, form, ec);
    if (found == nullptr && !wholeHost) return {};
    std::string host = wholeHost ? std::string("/") : found->folder;
    for (const std::string& name : form.names) {
        if (!grammar::canBeAName(name) || (wholeHost && !isValidName(name))) {
            ec = make_error_code(ERROR_INVALID_NAME);
            return {};
        }
        if (host.back() != '/') host.push_back('/');
        host.append(name);
    }
    ec.clear();
    return host;
}

path relativeWindowsPathFor(std::string_view relativeHost, std::error_code& ec) {
    std::string windows;
    for (ElementCursor names(relativeHost, 0, Separators::host); names.more();) {
        const std::string_view name = names.take();
        if ((ec = spellingOf(name))) return {};
        if (!windows.empty()) windows.push_back('\\');
        windows.append(name);
    }
    return path(std::move(windows));
}

std::shared_ptr<const DriveMap> DriveMapHolder::current() {
    const std::lock_guard lock(mutex_);
    if (!map_ || DriveMapAccess::provisional(*map_))
        map_ = std::make_shared<const DriveMap>(defaultPrefix());
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

void reloadDrives() {
    processMap().reload();
}

}  // namespace winfs
