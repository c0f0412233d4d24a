#include "pathprobe/winfs/operations.h"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "drives/drive.h"
#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/long_paths.h"
#include "resolve/resolver.h"
#include "text/names.h"
#include "text/path_grammar.h"
#include "text/utf8.h"
#include "windows/full_path.h"

namespace winfs {
namespace {}  // namespace

namespace {

std::size_t nameCount(const path& p) {
    std::size_t count = 0;
    for (const path& element : p.relative_path()) {
        if (!element.empty()) ++count;
    }
    return count;
}

}  // namespace

namespace {

// The temporary folder as GetTempPath2W finds it: the first of TMP, TEMP and USERPROFILE that is
// set, made full against the working directory, else the Windows folder. A prefix that Wine did
// not make has no C:\\windows; there the host's temporary folder takes its place. What is not a
// folder, or not there, fails with the generic errc::not_a_directory, as Microsoft's library
// reports it (never ERROR_DIRECTORY, which would compare unequal to it).
path tempFolder(std::error_code& ec) {
    path candidate;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0' || !isValidUtf8(value)) continue;
        candidate = path(value);
        break;
    }
    const Map map = drives();
    if (candidate.empty()) {
        candidate = path("C:\\windows");
        if (!is_directory(lookUpStatus(candidate, kStatus, ec))) {
            const char* host = std::getenv("TMPDIR");
            candidate = map->windowsPathFor(host != nullptr && *host == '/' ? host : "/tmp", ec);
            if (ec) return {};
        }
        ec.clear();
    }
    candidate = absoluteOn(*map, candidate, ec, Verbatim::rewrite);
    if (ec) return {};
    if (candidate.native().back() != '\\') candidate += "\\";

    const file_status s = lookUpStatus(candidate, kStatus, ec);
    if (!is_directory(s) && (!ec || isNotFound(ec)))
        ec = std::make_error_code(std::errc::not_a_directory);
    return candidate;
}

}  // namespace

namespace {

path makeWeaklyCanonical(const path& p, std::error_code& ec) {
    if (p.empty()) return path();
    path normal = p.lexically_normal();
    const Map map = drives();
    // From `p` itself: its lexically normal form has lost the drive of "\\?\C:\..".
    // Without long paths each leading part is looked up as a path of its own, and one past
    // MAX_PATH opens nothing: the most that can be found is the part that fits, and the names
    // beyond it are kept as given.
    const bool limited = !long_paths() && !grammar::isVerbatim(p.native());
    const path full = absoluteOn(*map, p, ec, limited ? Verbatim::rewrite : Verbatim::keep);
    if (ec) return path();
    path looked = full;
    path beyond;
    if (limited && exceedsLimit(full.native(), kMaxPath)) {
        looked = full.parent_path();  // "C:\a\b\" as "C:\a\b"
        if (!grammar::endsInSeparator(full.native())) beyond = full.filename();
        while (exceedsLimit(looked.native(), kMaxPath) && looked.has_relative_path()) {
            beyond = beyond.empty() ? looked.filename() : looked.filename() / beyond;
            looked = looked.parent_path();
        }
    }
    Resolution found = resolve(*map, looked, {}, ec);
    if (ec) {
        // Nothing of it exists when even its root does not (an unmapped drive, a server).
        if (!isNotFound(ec)) return path();
        ec.clear();
        return normal;
    }
    if (!beyond.empty()) found.rest /= beyond;
    if (found.rest.empty()) {
        // "file.txt\\" is no path Windows opens: the file is the head that exists, and the
        // separator stays after it, as after a missing tail. A folder opens with one.
        if (grammar::endsInSeparator(full.native()) && onTheHost(found) && !found.folder.here()) {
            found.head += "\\";
        }
        return std::move(found.head);
    }

    // A relative path whose first own name is missing stays relative.
    if (!normal.has_root_name() && !normal.has_root_directory()) {
        const bool leadsUp = normal.begin() != normal.end() && normal.begin()->native() == "..";
        if (!leadsUp && nameCount(found.rest) == nameCount(normal)) return normal;
    }
    path result = std::move(found.head);
    result /= found.rest;
    if (grammar::endsInSeparator(full.native())) result += "\\";
    return result.lexically_normal();
}

}  // namespace

namespace {

// Both paths made weakly canonical, then compared lexically by `compare`.
template <class Compare>
path related(const char* operation, const path& p, const path& base, std::error_code* ec,
             Compare compare) {
    return reported(operation, ec, p, base, [&](std::error_code& code) {
        const path from = makeWeaklyCanonical(p, code);
        if (code) return path();
        const path to = makeWeaklyCanonical(base, code);
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

// Without long paths the working directory is kept in MAX_PATH units with a trailing '\' and the
// NUL, "\\?\" or not: "C:\" and 255 more characters can be it, 256 cannot.
bool fitsAsWorkingDirectory(const path& p) {
    if (long_paths()) return true;
    std::error_code ec;
    std::string_view text = p.native();
    std::size_t limit = kMaxPath;
    path full;
    if (grammar::isVerbatim(text)) {
        text.remove_prefix(4);
        if (text.starts_with("UNC\\")) limit += 2;  // kept as "\\server\share"
    } else {
        full = absoluteOn(*drives(), p, ec, Verbatim::rewrite);
        if (ec) return true;  // the move fails with its own reason
        text = full.native();
    }
    if (!grammar::endsInSeparator(text)) --limit;
    return !exceedsLimit(text, limit);
}

void currentPathOf(const path& p, std::error_code* ec) {
    reported("current_path", ec, p, [&](std::error_code& code) {
        if (!fitsAsWorkingDirectory(p)) {
            code = make_error_code(ERROR_FILENAME_EXCED_RANGE);
            return;
        }
        const Resolution found = resolveOn(*drives(), p, kStatus, code);
        if (code) return;
        if (!found.rest.empty()) {
            code = found.missing;
        } else if (found.type != file_type::directory) {
            code = make_error_code(ERROR_DIRECTORY);
        } else {
            host::Cursor folder = found.folder;
            const host::Result<host::Place> here = folder.here();
            const host::Error error = here ? host::changeDirectory(*here) : here.error();
            if (error) code = error.windows(host::At::folderOnTheWay);
        }
    });
}

// The failure names the folder that was found wanting; the error_code form then gives no path.
path tempDirectoryPathOf(std::error_code* ec) {
    std::error_code code;
    path folder;
    caught(code, [&] { folder = tempFolder(code); });
    settle("temp_directory_path", ec, folder, path(), code);
    if (code) folder.clear();
    return folder;
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
                    [&](std::error_code& code) { return makeWeaklyCanonical(p, code); });
}

}  // namespace

// The two public forms of each operation, one line each.
// clang-format off
path current_path() { return currentPathOf(nullptr); }
path current_path(std::error_code& ec) { return currentPathOf(&ec); }
void current_path(const path& p) { currentPathOf(p, nullptr); }
void current_path(const path& p, std::error_code& ec) { currentPathOf(p, &ec); }
path temp_directory_path() { return tempDirectoryPathOf(nullptr); }
path temp_directory_path(std::error_code& ec) { return tempDirectoryPathOf(&ec); }
path absolute(const path& p) { return absoluteOf(p, nullptr); }
path absolute(const path& p, std::error_code& ec) { return absoluteOf(p, &ec); }
path canonical(const path& p) { return canonicalOf(p, nullptr); }
path canonical(const path& p, std::error_code& ec) { return canonicalOf(p, &ec); }
path weakly_canonical(const path& p) { return weaklyCanonicalOf(p, nullptr); }
path weakly_canonical(const path& p, std::error_code& ec) { return weaklyCanonicalOf(p, &ec); }
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
