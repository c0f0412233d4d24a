#include "winfs/operations.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "winfs/drive_map.h"
#include "winfs/error.h"
#include "winfs/full_path.h"
#include "winfs/host.h"
#include "winfs/names.h"
#include "winfs/resolver.h"
#include "winfs/utf8.h"

namespace winfs {
namespace {

using Map = std::shared_ptr<const DriveMap>;

// Errors that mean "there is nothing there" to status(), as on Windows.
bool isNotFound(const std::error_code& ec) noexcept {
    if (ec.category() != system_category()) return false;
    switch (ec.value()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return true;
        default:
            return false;
    }
}

[[noreturn]] void raise(const char* operation, const path& p1, const path& p2,
                        const std::error_code& ec) {
    throw filesystem_error(operation, p1, p2, ec);
}

// The throwing form of an operation: its error_code form, and a filesystem_error for what that
// reports.
template <class Operation>
auto orThrow(const char* name, const path& p1, const path& p2, Operation operation) {
    std::error_code ec;
    if constexpr (std::is_void_v<decltype(operation(ec))>) {
        operation(ec);
        if (ec) raise(name, p1, p2, ec);
    } else {
        auto result = operation(ec);
        if (ec) raise(name, p1, p2, ec);
        return result;
    }
}

template <class Operation>
auto orThrow(const char* name, const path& p, Operation operation) {
    return orThrow(name, p, path(), std::move(operation));
}

// The body of an error_code form: whatever it throws is reported through `ec`, and the result is
// then the empty value of its type (an empty path, false, an unknown status).
template <class Body>
auto guarded(std::error_code& ec, Body body) -> decltype(body()) {
    using Result = decltype(body());
    try {
        ec.clear();
        return body();
    } catch (const std::bad_alloc&) {
        ec = make_error_code(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::length_error&) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
    } catch (const filesystem_error& e) {
        ec = e.code();
    }
    if constexpr (!std::is_void_v<Result>) return Result{};
}

path currentPathOn(const DriveMap& map, std::error_code& ec) {
    std::string host;
    if (const int error = host::workingDirectory(host); error != 0) {
        ec = host::windowsError(error, host::At::folderOnTheWay);
        return {};
    }
    return map.windowsPathFor(host, ec);
}

// What the file calls look up: \\?\ and \??\ paths as given, as CreateFileW takes them; only
// absolute() rewrites them, as GetFullPathNameW does.
path absoluteOn(const DriveMap& map, const path& p, std::error_code& ec,
                Verbatim verbatim = Verbatim::keep) {
    path workingDirectory;
    if (needsWorkingDirectory(p, verbatim)) {
        workingDirectory = currentPathOn(map, ec);
        if (ec) return {};
    }
    return fullPathName(p, workingDirectory, ec, verbatim);
}

// `p` resolved on the disk; a path that comes out empty is no path at all.
Resolution resolveOn(const DriveMap& map, const path& p, Lookup lookup, std::error_code& ec) {
    const path full = absoluteOn(map, p, ec);
    if (ec) return {};
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    return resolve(map, full, lookup, ec);
}

// What the status queries answer: a missing path is a type (not_found) with its reason in `ec`.
file_status statusOf(const path& p, Lookup lookup, std::error_code& ec) {
    const Map map = drives();
    const Resolution found = resolveOn(*map, p, lookup, ec);
    if (ec) return file_status(isNotFound(ec) ? file_type::not_found : file_type::none);
    if (!found.rest.empty()) {
        ec = found.missing;
        return file_status(file_type::not_found);
    }
    return file_status(found.type);
}

// For the predicates: a missing path is an answer (false), not an error.
file_status statusOfWhatIsThere(const path& p, std::error_code& ec) {
    const file_status s = status(p, ec);
    if (s.type() == file_type::not_found) ec.clear();
    return s;
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

void makeLink(const path& target, const path& link, std::error_code& ec) {
    const Map map = drives();
    const path full = absoluteOn(*map, link, ec);
    if (ec) return;
    const path name = full.filename();
    if (name.empty() || !isValidName(name.native())) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return;
    }
    const Resolution folder =
        resolveOn(*map, full.parent_path(), {.follow = Follow::all, .typeOfLast = true}, ec);
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

    std::string stored;
    if (target.has_root_name() || target.has_root_directory()) {
        // "\zor\store" lies on the link's drive.
        const path windows = target.has_root_directory() && !target.has_root_name()
                                 ? path(std::string{folder.head.native()[0], ':'}) / target
                                 : target;
        const path fullTarget = absoluteOn(*map, windows, ec);
        if (ec) return;
        stored = map->hostPathFor(fullTarget, ec);
        if (ec) return;
    } else {
        stored = target.generic_string();
    }
    std::string scratch;
    if (const int error = host::makeLink(stored, folder.folder.placeOf(name.native(), scratch));
        error != 0) {
        ec = host::windowsError(error, host::At::folderOnTheWay);
    }
}

}  // namespace

path current_path() {
    return orThrow("current_path", path(), [](std::error_code& ec) { return current_path(ec); });
}

path current_path(std::error_code& ec) {
    return guarded(ec, [&] { return currentPathOn(*drives(), ec); });
}

void current_path(const path& p) {
    orThrow("current_path", p, [&](std::error_code& ec) { current_path(p, ec); });
}

void current_path(const path& p, std::error_code& ec) {
    guarded(ec, [&] {
        const Map map = drives();
        const Resolution found =
            resolveOn(*map, p, {.follow = Follow::all, .typeOfLast = true}, ec);
        if (ec) return;
        if (!found.rest.empty()) {
            ec = found.missing;
        } else if (found.type != file_type::directory) {
            ec = make_error_code(ERROR_DIRECTORY);
        } else if (const int error = host::changeDirectory(found.folder.place()); error != 0) {
            ec = host::windowsError(error, host::At::folderOnTheWay);
        }
    });
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
    if (candidate.empty()) {
        const char* host = std::getenv("TMPDIR");
        candidate = drives()->windowsPathFor(host != nullptr && *host == '/' ? host : "/tmp", ec);
        if (ec) return {};
    }
    candidate = absolute(candidate, ec);
    if (ec) return {};
    if (candidate.native().back() != '\\') candidate += "\\";

    // As Windows's standard library: the folder must be there.
    const file_status s = status(candidate, ec);
    if (!ec && s.type() != file_type::directory) ec = make_error_code(ERROR_DIRECTORY);
    return candidate;
}

}  // namespace

// The failure names the folder that was found wanting.
path temp_directory_path() {
    std::error_code ec;
    path folder = guarded(ec, [&] { return tempFolder(ec); });
    if (ec) raise("temp_directory_path", folder, path(), ec);
    return folder;
}

path temp_directory_path(std::error_code& ec) {
    path folder = guarded(ec, [&] { return tempFolder(ec); });
    if (ec) folder.clear();
    return folder;
}

bool create_directories(const path& p) {
    return orThrow("create_directories", p,
                   [&](std::error_code& ec) { return create_directories(p, ec); });
}

bool create_directories(const path& p, std::error_code& ec) {
    return guarded(ec, [&] {
        const Map map = drives();
        const Resolution found =
            resolveOn(*map, p, {.follow = Follow::all, .typeOfLast = true}, ec);
        if (ec) return false;
        if (found.type != file_type::directory) {
            ec = make_error_code(ERROR_ALREADY_EXISTS);  // a file in the way
            return false;
        }
        for (const path& element : found.rest) {
            const std::string& name = element.native();
            if (!fitsInOneName(name)) {
                ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
                return false;
            }
            if (!isValidName(name) || name == "." || name == "..") {
                ec = make_error_code(ERROR_INVALID_NAME);
                return false;
            }
        }
        bool created = false;
        host::Cursor folder = found.folder;
        std::string scratch;
        for (const path& element : found.rest) {
            const host::Place place = folder.placeOf(element.native(), scratch);
            const int error = host::makeFolder(place);
            created = error == 0;
            file_type type = file_type::none;
            // Someone else made it in the meantime: it is there, as asked.
            if (error != 0 && !(error == EEXIST && host::typeAt(place, true, type) == 0 &&
                                type == file_type::directory)) {
                ec = error == EEXIST   ? make_error_code(ERROR_ALREADY_EXISTS)
                     : error == ENOENT ? make_error_code(ERROR_PATH_NOT_FOUND)
                                       : host::windowsError(error, host::At::folderOnTheWay);
                return false;
            }
            if (const int descended = folder.descend(element.native()); descended != 0) {
                ec = host::windowsError(descended, host::At::folderOnTheWay);
                return false;
            }
        }
        return created;
    });
}

path absolute(const path& p) {
    return orThrow("absolute", p, [&](std::error_code& ec) { return absolute(p, ec); });
}

path absolute(const path& p, std::error_code& ec) {
    return guarded(ec, [&] { return absoluteOn(*drives(), p, ec, Verbatim::rewrite); });
}

file_status status(const path& p) {
    return orThrow("status", p, [&](std::error_code& ec) {
        const file_status s = status(p, ec);
        if (s.type() == file_type::not_found) ec.clear();
        return s;
    });
}

file_status status(const path& p, std::error_code& ec) {
    return guarded(ec,
                   [&] { return statusOf(p, {.follow = Follow::all, .typeOfLast = true}, ec); });
}

file_status symlink_status(const path& p) {
    return orThrow("symlink_status", p, [&](std::error_code& ec) {
        const file_status s = symlink_status(p, ec);
        if (s.type() == file_type::not_found) ec.clear();
        return s;
    });
}

file_status symlink_status(const path& p, std::error_code& ec) {
    return guarded(
        ec, [&] { return statusOf(p, {.follow = Follow::allButLast, .typeOfLast = true}, ec); });
}

bool exists(const path& p) {
    return exists(status(p));
}

bool exists(const path& p, std::error_code& ec) {
    return exists(statusOfWhatIsThere(p, ec));
}

bool is_directory(const path& p) {
    return is_directory(status(p));
}

bool is_directory(const path& p, std::error_code& ec) {
    return is_directory(statusOfWhatIsThere(p, ec));
}

bool is_regular_file(const path& p) {
    return is_regular_file(status(p));
}

bool is_regular_file(const path& p, std::error_code& ec) {
    return is_regular_file(statusOfWhatIsThere(p, ec));
}

// Whether the last name is a link takes no more than one call on it.
bool is_symlink(const path& p) {
    return orThrow("symlink_status", p, [&](std::error_code& ec) { return is_symlink(p, ec); });
}

bool is_symlink(const path& p, std::error_code& ec) {
    return guarded(ec, [&] {
        const file_status s = statusOf(p, {.follow = Follow::allButLast}, ec);
        if (s.type() == file_type::not_found) ec.clear();
        return is_symlink(s);
    });
}

path canonical(const path& p) {
    return orThrow("canonical", p, [&](std::error_code& ec) { return canonical(p, ec); });
}

path canonical(const path& p, std::error_code& ec) {
    return guarded(ec, [&] {
        Resolution found = resolveOn(*drives(), p, {}, ec);
        if (ec) return path();
        if (!found.rest.empty()) {
            ec = found.missing;
            return path();
        }
        return std::move(found.head);
    });
}

path weakly_canonical(const path& p) {
    return orThrow("weakly_canonical", p,
                   [&](std::error_code& ec) { return weakly_canonical(p, ec); });
}

path weakly_canonical(const path& p, std::error_code& ec) {
    return guarded(ec, [&] {
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
    });
}

path read_symlink(const path& p) {
    return orThrow("read_symlink", p, [&](std::error_code& ec) { return read_symlink(p, ec); });
}

path read_symlink(const path& p, std::error_code& ec) {
    return guarded(ec, [&] {
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
        return windowsPathOf(target, ec);
    });
}

void create_symlink(const path& target, const path& link) {
    orThrow("create_symlink", target, link,
            [&](std::error_code& ec) { create_symlink(target, link, ec); });
}

void create_symlink(const path& target, const path& link, std::error_code& ec) {
    guarded(ec, [&] { makeLink(target, link, ec); });
}

void create_directory_symlink(const path& target, const path& link) {
    orThrow("create_directory_symlink", target, link,
            [&](std::error_code& ec) { create_directory_symlink(target, link, ec); });
}

void create_directory_symlink(const path& target, const path& link, std::error_code& ec) {
    create_symlink(target, link, ec);
}

path relative(const path& p, std::error_code& ec) {
    const path base = current_path(ec);
    if (ec) return {};
    return relative(p, base, ec);
}

path relative(const path& p, const path& base) {
    return orThrow("relative", p, base, [&](std::error_code& ec) { return relative(p, base, ec); });
}

path relative(const path& p, const path& base, std::error_code& ec) {
    const path from = weakly_canonical(p, ec);
    if (ec) return {};
    const path to = weakly_canonical(base, ec);
    if (ec) return {};
    return guarded(ec, [&] { return from.lexically_relative(to); });
}

path proximate(const path& p, std::error_code& ec) {
    const path base = current_path(ec);
    if (ec) return {};
    return proximate(p, base, ec);
}

path proximate(const path& p, const path& base) {
    return orThrow("proximate", p, base,
                   [&](std::error_code& ec) { return proximate(p, base, ec); });
}

path proximate(const path& p, const path& base, std::error_code& ec) {
    const path from = weakly_canonical(p, ec);
    if (ec) return {};
    const path to = weakly_canonical(base, ec);
    if (ec) return {};
    return guarded(ec, [&] { return from.lexically_proximate(to); });
}

}  // namespace winfs
