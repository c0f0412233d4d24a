#include "pathprobe/winfs/operations.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "drives/drive.h"
#include "host/host.h"
#include "operations/operations_internal.h"
#include "operations/report.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/error.h"
#include "resolve/resolver.h"
#include "text/names.h"
#include "text/utf8.h"
#include "windows/full_path.h"

namespace winfs {
namespace {

// The working directory's Windows path, kept by each thread for the map and the host path it
// came from: the host's working directory holds no "..", so the same map gives the same answer for
// it, and a path made absolute costs getcwd alone.
struct WorkingDirectory {
    std::uint64_t map = 0;
    std::string host;
    path windows;
};
thread_local WorkingDirectory lastWorkingDirectory;

path currentPathOn(const DriveMap& map, std::error_code& ec) {
    host::Result<std::string> host = host::workingDirectory();
    if (!host) {
        ec = host.error().windows(host::At::folderOnTheWay);
        return {};
    }
    WorkingDirectory& last = lastWorkingDirectory;
    if (last.map == DriveMapAccess::serial(map) && last.host == *host) return last.windows;
    path windows = map.windowsPathFor(*host, ec);
    if (ec) return {};
    last = {DriveMapAccess::serial(map), std::move(*host), windows};
    return windows;
}

}  // namespace

path absoluteOn(const DriveMap& map, const path& p, std::error_code& ec, Verbatim verbatim) {
    path workingDirectory;
    if (needsWorkingDirectory(p, verbatim)) {
        workingDirectory = currentPathOn(map, ec);
        if (ec) return {};
    }
    return fullPathName(p, workingDirectory, ec, verbatim);
}

Resolution resolveOn(const DriveMap& map, const path& p, Lookup lookup, std::error_code& ec) {
    const path full = absoluteOn(map, p, ec);
    if (ec) return {};
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    return resolve(map, full, lookup, ec);
}

perms permissionsOf(const Resolution& found, std::error_code& ec) {
    // Only a file keeps the attribute; a device has no host name to ask.
    if (found.type != file_type::regular || !onTheHost(found)) return perms::all;
    const host::Result<host::Stat> st = host::statAt(found.folder.place(), false);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return perms::unknown;
    }
    return (st->mode & static_cast<unsigned>(perms::owner_write)) != 0 ? perms::all : kReadOnly;
}

file_status statusOf(const path& p, Lookup lookup, std::error_code& ec, Permissions want) {
    const Map map = drives();
    const Resolution found = resolveOn(*map, p, lookup, ec);
    if (ec) return file_status(isNotFound(ec) ? file_type::not_found : file_type::none);
    if (!found.rest.empty()) {
        ec = found.missing;
        return file_status(file_type::not_found);
    }
    if (want == Permissions::skip) return file_status(found.type);
    const perms permissions = permissionsOf(found, ec);
    return ec ? file_status(file_type::none) : file_status(found.type, permissions);
}

file_status statusQuery(const char* operation, const path& p, Lookup lookup, std::error_code* ec,
                        bool missingIsAnAnswer, Permissions want) {
    return reported(operation, ec, p, [&](std::error_code& code) {
        const file_status s = statusOf(p, lookup, code, want);
        if (s.type() == file_type::not_found && (ec == nullptr || missingIsAnAnswer)) code.clear();
        return s;
    });
}

namespace {

file_status fileStatus(const path& p, std::error_code* ec) {
    return statusQuery("status", p, kStatus, ec, false, Permissions::read);
}

file_status linkStatus(const path& p, std::error_code* ec) {
    return statusQuery("symlink_status", p, kSymlinkStatus, ec, false, Permissions::read);
}

file_status whatIsThere(const path& p, std::error_code* ec) {
    return statusQuery("status", p, kStatus, ec, true);
}

// Whether the last name is a link takes no more than one call on it.
file_status linkOrNot(const path& p, std::error_code* ec) {
    return statusQuery("symlink_status", p, {.follow = Follow::allButLast}, ec, true);
}

std::size_t nameCount(const path& p) {
    std::size_t count = 0;
    for (const path& element : p.relative_path()) {
        if (!element.empty()) ++count;
    }
    return count;
}

bool endsInSeparator(const path& p) {
    const std::string& text = p.native();
    return !text.empty() && (text.back() == '\\' || text.back() == '/');
}

// How a link's target is stored on the host: an absolute Windows target as its host path ("\zor"
// lies on the link's drive), a relative one with '/'.
std::string storedTarget(const DriveMap& map, const path& target, char linkDrive,
                         std::error_code& ec) {
    if (!target.has_root_name() && !target.has_root_directory()) return target.generic_string();
    const path windows = target.has_root_directory() && !target.has_root_name()
                             ? path(std::string{linkDrive, ':'}) / target
                             : target;
    const path full = absoluteOn(map, windows, ec);
    if (ec) return {};
    return map.hostPathFor(full, ec);
}

}  // namespace

void makeLink(const path& target, const path& link, std::error_code& ec) {
    const Map map = drives();
    const path full = absoluteOn(*map, link, ec);
    if (ec) return;
    const path name = full.filename();
    if (name.empty() || !isValidName(name.native())) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return;
    }
    const Resolution folder = resolveOn(*map, full.parent_path(), kStatus, ec);
    if (ec) return;
    if (!folder.rest.empty() || folder.type != file_type::directory) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return;
    }
    // Taken in any case, as Windows sees names.
    const Resolution existing = resolveOn(*map, full, {.follow = Follow::allButLast}, ec);
    if (ec) return;
    if (existing.rest.empty()) {
        ec = make_error_code(ERROR_ALREADY_EXISTS);
        return;
    }
    const std::string stored = storedTarget(*map, target, folder.drive, ec);
    if (ec) return;
    std::string scratch;
    if (const host::Error error =
            host::makeLink(stored, folder.folder.placeOf(name.native(), scratch))) {
        ec = error.windows(host::At::folderOnTheWay);
    }
}

namespace {

// The temporary folder as Windows finds it, with the reason in `ec` when it is not a folder.
path tempFolder(std::error_code& ec) {
    path candidate;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || !isValidUtf8(value)) continue;
        candidate = path(value);
        if (candidate.is_absolute()) break;
        candidate.clear();
    }
    const Map map = drives();
    if (candidate.empty()) {
        const char* host = std::getenv("TMPDIR");
        candidate = map->windowsPathFor(host != nullptr && *host == '/' ? host : "/tmp", ec);
        if (ec) return {};
    }
    candidate = absoluteOn(*map, candidate, ec, Verbatim::rewrite);
    if (ec) return {};
    if (candidate.native().back() != '\\') candidate += "\\";

    // As Windows's standard library: the folder must be there.
    const file_status s = statusOf(candidate, kStatus, ec);
    if (!ec && s.type() != file_type::directory) ec = make_error_code(ERROR_DIRECTORY);
    return candidate;
}

}  // namespace

std::error_code checkNewNames(const path& rest) {
    for (const path& element : rest) {
        const std::string& name = element.native();
        if (!fitsInOneName(name)) return make_error_code(ERROR_FILENAME_EXCED_RANGE);
        if (!isValidName(name) || name == "." || name == "..") {
            return make_error_code(ERROR_INVALID_NAME);
        }
    }
    return {};
}

namespace {

bool isFolder(host::Place place) {
    const host::Result<file_type> type = host::typeAt(place, true);
    return type && *type == file_type::directory;
}

// Makes each name of `rest` below `folder`: true when it made the last one. A folder that someone
// else made in the meantime is there, as asked.
bool makeEach(host::Cursor folder, const path& rest, std::error_code& ec) {
    bool created = false;
    std::string scratch;
    for (const path& element : rest) {
        const host::Place place = folder.placeOf(element.native(), scratch);
        const host::Error error = host::makeFolder(place);
        created = !error;
        if (error && !(error.alreadyThere() && isFolder(place))) {
            ec = error.alreadyThere() ? make_error_code(ERROR_ALREADY_EXISTS)
                 : error.missing()    ? make_error_code(ERROR_PATH_NOT_FOUND)
                                      : error.windows(host::At::folderOnTheWay);
            return false;
        }
        if (const host::Error descended = folder.descend(element.native())) {
            ec = descended.windows(host::At::folderOnTheWay);
            return false;
        }
    }
    return created;
}

path weaklyCanonicalOn(const path& p, std::error_code& ec) {
    if (p.empty()) return path();
    path normal = p.lexically_normal();
    const Map map = drives();
    // From `p` itself: its lexically normal form has lost the drive of "\\?\C:\..".
    const path full = absoluteOn(*map, p, ec);
    if (ec) return path();
    Resolution found = resolve(*map, full, {}, ec);
    if (ec) {
        // Nothing of it exists when even its root does not (an unmapped drive, a server).
        if (!isNotFound(ec)) return path();
        ec.clear();
        return normal;
    }
    if (found.rest.empty()) return std::move(found.head);

    // A relative path whose first own name is missing stays relative.
    if (!normal.has_root_name() && !normal.has_root_directory()) {
        const bool leadsUp = normal.begin() != normal.end() && normal.begin()->native() == "..";
        if (!leadsUp && nameCount(found.rest) == nameCount(normal)) return normal;
    }
    path result = std::move(found.head);
    result /= found.rest;
    if (endsInSeparator(full)) result += "\\";
    return result.lexically_normal();
}

}  // namespace

path readSymlinkOn(const path& p, std::error_code& ec) {
    const Map map = drives();
    const Resolution found = resolveOn(*map, p, {.follow = Follow::allButLast}, ec);
    if (ec) return path();
    if (!found.rest.empty()) {
        ec = found.missing;
        return path();
    }
    if (found.type != file_type::symlink) {
        ec = make_error_code(ERROR_NOT_A_REPARSE_POINT);
        return path();
    }
    const std::string& target = found.linkTarget;
    if (!target.empty() && target.front() == '/') return map->windowsPathFor(target, ec);
    return relativeWindowsPathFor(target, ec);
}

namespace {

// Both paths made weakly canonical, then compared lexically by `compare`.
template <class Compare>
path related(const char* operation, const path& p, const path& base, std::error_code* ec,
             Compare compare) {
    return reported(operation, ec, p, base, [&](std::error_code& code) {
        const path from = weaklyCanonicalOn(p, code);
        if (code) return path();
        const path to = weaklyCanonicalOn(base, code);
        if (code) return path();
        return compare(from, to);
    });
}

path relativeOf(const path& p, const path& base, std::error_code* ec) {
    return related("relative", p, base, ec,
                   [](const path& from, const path& to) { return from.lexically_relative(to); });
}

path proximateOf(const path& p, const path& base, std::error_code* ec) {
    return related("proximate", p, base, ec,
                   [](const path& from, const path& to) { return from.lexically_proximate(to); });
}

path currentPathOf(std::error_code* ec) {
    return reported("current_path", ec, path(),
                    [](std::error_code& code) { return currentPathOn(*drives(), code); });
}

void changeCurrentPath(const path& p, std::error_code* ec) {
    reported("current_path", ec, p, [&](std::error_code& code) {
        const Resolution found = resolveOn(*drives(), p, kStatus, code);
        if (code) return;
        if (!found.rest.empty()) {
            code = found.missing;
        } else if (found.type != file_type::directory) {
            code = make_error_code(ERROR_DIRECTORY);
        } else if (const host::Error error = host::changeDirectory(found.folder.place())) {
            code = error.windows(host::At::folderOnTheWay);
        }
    });
}

// The failure names the folder that was found wanting; the error_code form then gives no path.
path tempDirectoryOf(std::error_code* ec) {
    std::error_code code;
    path folder;
    caught(code, [&] { folder = tempFolder(code); });
    settle("temp_directory_path", ec, folder, path(), code);
    if (code) folder.clear();
    return folder;
}

bool createDirectoriesOf(const path& p, std::error_code* ec) {
    return reported("create_directories", ec, p, [&](std::error_code& code) {
        const Resolution found = resolveOn(*drives(), p, kStatus, code);
        if (code) return false;
        if (found.type != file_type::directory) {
            code = make_error_code(ERROR_ALREADY_EXISTS);  // a file in the way
            return false;
        }
        if ((code = checkNewNames(found.rest))) return false;
        return makeEach(found.folder, found.rest, code);
    });
}

path absoluteOf(const path& p, std::error_code* ec) {
    return reported("absolute", ec, p, [&](std::error_code& code) {
        return absoluteOn(*drives(), p, code, Verbatim::rewrite);
    });
}

path canonicalOf(const path& p, std::error_code* ec) {
    return reported("canonical", ec, p, [&](std::error_code& code) {
        Resolution found = resolveOn(*drives(), p, {}, code);
        if (code) return path();
        if (!found.rest.empty()) {
            code = found.missing;
            return path();
        }
        return std::move(found.head);
    });
}

path weaklyCanonicalOf(const path& p, std::error_code* ec) {
    return reported("weakly_canonical", ec, p,
                    [&](std::error_code& code) { return weaklyCanonicalOn(p, code); });
}

path readSymlinkOf(const path& p, std::error_code* ec) {
    return reported("read_symlink", ec, p,
                    [&](std::error_code& code) { return readSymlinkOn(p, code); });
}

void makeSymlink(const path& target, const path& link, std::error_code* ec) {
    reported("create_symlink", ec, target, link,
             [&](std::error_code& code) { makeLink(target, link, code); });
}

void makeDirectorySymlink(const path& target, const path& link, std::error_code* ec) {
    reported("create_directory_symlink", ec, target, link,
             [&](std::error_code& code) { makeLink(target, link, code); });
}

}  // namespace

// The two public forms of each operation, one line each.
// clang-format off
path current_path() { return currentPathOf(nullptr); }
path current_path(std::error_code& ec) { return currentPathOf(&ec); }
void current_path(const path& p) { changeCurrentPath(p, nullptr); }
void current_path(const path& p, std::error_code& ec) { changeCurrentPath(p, &ec); }
path temp_directory_path() { return tempDirectoryOf(nullptr); }
path temp_directory_path(std::error_code& ec) { return tempDirectoryOf(&ec); }
bool create_directories(const path& p) { return createDirectoriesOf(p, nullptr); }
bool create_directories(const path& p, std::error_code& ec) { return createDirectoriesOf(p, &ec); }
path absolute(const path& p) { return absoluteOf(p, nullptr); }
path absolute(const path& p, std::error_code& ec) { return absoluteOf(p, &ec); }
file_status status(const path& p) { return fileStatus(p, nullptr); }
file_status status(const path& p, std::error_code& ec) { return fileStatus(p, &ec); }
file_status symlink_status(const path& p) { return linkStatus(p, nullptr); }
file_status symlink_status(const path& p, std::error_code& ec) { return linkStatus(p, &ec); }
bool exists(const path& p) { return exists(whatIsThere(p, nullptr)); }
bool exists(const path& p, std::error_code& ec) { return exists(whatIsThere(p, &ec)); }
bool is_directory(const path& p) { return is_directory(whatIsThere(p, nullptr)); }
bool is_directory(const path& p, std::error_code& ec) { return is_directory(whatIsThere(p, &ec)); }
bool is_regular_file(const path& p) { return is_regular_file(whatIsThere(p, nullptr)); }
bool is_regular_file(const path& p, std::error_code& ec) {
    return is_regular_file(whatIsThere(p, &ec));
}
bool is_symlink(const path& p) { return is_symlink(linkOrNot(p, nullptr)); }
bool is_symlink(const path& p, std::error_code& ec) { return is_symlink(linkOrNot(p, &ec)); }
path canonical(const path& p) { return canonicalOf(p, nullptr); }
path canonical(const path& p, std::error_code& ec) { return canonicalOf(p, &ec); }
path weakly_canonical(const path& p) { return weaklyCanonicalOf(p, nullptr); }
path weakly_canonical(const path& p, std::error_code& ec) { return weaklyCanonicalOf(p, &ec); }
path read_symlink(const path& p) { return readSymlinkOf(p, nullptr); }
path read_symlink(const path& p, std::error_code& ec) { return readSymlinkOf(p, &ec); }
void create_symlink(const path& target, const path& link) { makeSymlink(target, link, nullptr); }
void create_symlink(const path& target, const path& link, std::error_code& ec) {
    makeSymlink(target, link, &ec);
}
void create_directory_symlink(const path& target, const path& link) {
    makeDirectorySymlink(target, link, nullptr);
}
void create_directory_symlink(const path& target, const path& link, std::error_code& ec) {
    makeDirectorySymlink(target, link, &ec);
}
// clang-format on

path relative(const path& p, std::error_code& ec) {
    const path base = current_path(ec);
    return ec ? path() : relative(p, base, ec);
}
path relative(const path& p, const path& base) {
    return relativeOf(p, base, nullptr);
}
path relative(const path& p, const path& base, std::error_code& ec) {
    return relativeOf(p, base, &ec);
}

path proximate(const path& p, std::error_code& ec) {
    const path base = current_path(ec);
    return ec ? path() : proximate(p, base, ec);
}
path proximate(const path& p, const path& base) {
    return proximateOf(p, base, nullptr);
}
path proximate(const path& p, const path& base, std::error_code& ec) {
    return proximateOf(p, base, &ec);
}

}  // namespace winfs
