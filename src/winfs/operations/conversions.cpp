#include "pathprobe/winfs/conversions.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"
#include "text/path_grammar.h"
#include "text/utf8.h"
#include "windows/full_path.h"
#include "windows/lookup_form.h"

namespace winfs {
namespace {

using grammar::ElementCursor;
using grammar::endsInSeparator;
using grammar::Separators;

constexpr std::size_t kMaxPathLength = 32767;  // UTF-16 units

// An absolute host path without "." and "..", taken by their text, and without a trailing '/':
// "/a/./b/../c/" is "/a/c", and ".." at the root stays there, as the host takes it.
std::string lexicallyNormal(std::string_view absoluteHost) {
    std::string normal;
    normal.reserve(absoluteHost.size());
    for (ElementCursor names(absoluteHost, 0, Separators::host); names.more();) {
        const std::string_view name = names.take();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            normal.resize(normal.empty() ? 0 : normal.rfind('/'));
            continue;
        }
        normal.push_back('/');
        normal.append(name);
    }
    if (normal.empty()) normal.push_back('/');
    return normal;
}

// The drive whose folder is exactly `folder`, or 0.
char driveWithFolder(const DriveMap& map, std::string_view folder) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string* own = map.folderOf(letter);
        if (own != nullptr && *own == folder) return letter;
    }
    return 0;
}

// `hostPath` (absolute, lexically normal) with its longest leading part that is a link to a
// drive's folder, such as <prefix>/dosdevices/c:, written as that folder; as it is when there is
// none. The drive map keeps its folders resolved, so only a part through a link can be one: the
// parts from the first link on are resolved, longest first.
std::string throughLinks(const DriveMap& map, const std::string& hostPath) {
    std::size_t firstLink = std::string::npos;
    for (std::size_t end = hostPath.find('/', 1);; end = hostPath.find('/', end + 1)) {
        const host::Result<file_type> type =
            host::typeAt({-1, hostPath.substr(0, end).c_str()}, false);
        if (type && *type == file_type::symlink) {
            firstLink = std::min(end, hostPath.size());  // the whole path, when its last name
            break;
        }
        // Nothing missing, or below a file, can lead to a drive.
        if (!type || *type != file_type::directory || end == std::string::npos) return hostPath;
    }
    for (std::size_t end = hostPath.size(); end >= firstLink && end != 0;
         end = hostPath.rfind('/', end - 1)) {
        const host::Result<std::string> resolved = host::realPath(hostPath.substr(0, end));
        if (!resolved || driveWithFolder(map, *resolved) == 0) continue;
        std::string linked = *resolved == "/" ? std::string() : *resolved;
        linked.append(hostPath, end);
        return linked.empty() ? std::string("/") : linked;
    }
    return hostPath;
}

path convertToWindows(const std::filesystem::path& hostPath, std::error_code& ec) {
    if (hostPath.empty()) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return {};
    }
    std::string full;
    if (!hostPath.is_absolute()) {
        const host::Result<std::string> workingDirectory = host::workingDirectory();
        if (!workingDirectory) {
            ec = workingDirectory.error().windows(host::At::folderOnTheWay);
            return {};
        }
        full = *workingDirectory + "/";
    }
    full += hostPath.native();
    const auto map = drives();
    // Outside every drive, as Wine writes it: "\\?\unix\usr\bin".
    path windows = map->windowsPathFor(throughLinks(*map, lexicallyNormal(full)), ec,
                                       DriveMap::Outside::unixNamespace);
    if (ec) return {};
    if (endsInSeparator(hostPath.native()) && !endsInSeparator(windows.native())) windows += '\\';
    // A name that the file calls would read as another ("trail." as "trail", "nul" or "con.txt" as
    // the device) keeps itself only after \\?\, which they take as it stands.
    std::error_code rewritten;
    if (!grammar::isVerbatim(windows.native()) &&
        (fullPathName(windows, {}, rewritten).native() != windows.native() || rewritten ||
         isLegacyDeviceName(windows.filename().native()))) {
        windows = path("\\\\?\\" + windows.native());
    }
    // No Windows call takes a longer path, as host_path() refuses one.
    if (utf16Length(windows.native()) > kMaxPathLength) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    return windows;
}

// The Windows path `full` on its drive, the part that exists resolved, its names as the drive map
// takes them.
path resolvedOn(const DriveMap& map, const path& full, last_link last, std::error_code& ec) {
    // The links before the last name are followed as Windows follows them.
    const Lookup lookup{.follow = last == last_link::name ? Follow::allButLast : Follow::all};
    const Resolution found = resolveOn(map, full, lookup, ec);
    if (ec) return {};
    if (!onTheHost(found)) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);  // a device: no file stands behind it
        return {};
    }
    path resolved = found.head;
    for (const path& element : found.rest) {
        // "new::$DATA" is the file "new" itself; "x:s" is a stream the host cannot keep, never
        // the host's file "x:s"; "x:a:b:c" is no name at all.
        const std::string_view name = element.native();
        const grammar::Stream stream = grammar::streamOf(name);
        if (stream.kind == grammar::Stream::Kind::other) {
            ec = make_error_code(ERROR_NOT_SUPPORTED);
            return {};
        }
        // After \\?\ "." and ".." are names as they stand, which no disk holds, never steps.
        const std::string_view bare = name.substr(0, stream.nameLength);
        if (bare.find(':') != std::string_view::npos || bare == "." || bare == "..") {
            ec = make_error_code(ERROR_INVALID_NAME);
            return {};
        }
        resolved /= path(std::string(bare));
    }
    return resolved.lexically_normal();
}

std::filesystem::path convertToHost(const path& p, last_link last, std::error_code& ec) {
    const Map map = drives();
    // As the file calls read it: "\\?\C:\dir\trail." names "trail.", not "trail".
    const path full = absoluteOn(*map, p, ec);
    if (ec) return {};
    // The host's own tree, "\\?\unix\usr\bin", has no drive's links to follow.
    const bool onHostTree = lookupFormOf(full).kind == LookupForm::Kind::unixNamespace;
    const path resolved = onHostTree ? full : resolvedOn(*map, full, last, ec);
    if (ec) return {};
    std::string hostPath = map->hostPathFor(resolved, ec);
    if (ec) return {};
    if (endsInSeparator(full.native()) && !endsInSeparator(hostPath)) hostPath.push_back('/');
    return hostPath;
}

std::filesystem::path hostPathOf(const path& p, last_link last, std::error_code* ec) {
    return reported("host_path", ec, p,
                    [&](std::error_code& code) { return convertToHost(p, last, code); });
}

// The failure names the host path where it can be held as a path: it may not be UTF-8.
path windowsPathOf(const std::filesystem::path& host, std::error_code* ec) {
    path named;
    std::error_code conversion;
    caught(conversion, [&] { named = path(host.native()); });
    return reported("windows_path", ec, named,
                    [&](std::error_code& code) { return convertToWindows(host, code); });
}

}  // namespace

std::filesystem::path host_path(const path& p, last_link last) {
    return hostPathOf(p, last, nullptr);
}
std::filesystem::path host_path(const path& p, std::error_code& ec) {
    return hostPathOf(p, last_link::follow, &ec);
}
std::filesystem::path host_path(const path& p, last_link last, std::error_code& ec) {
    return hostPathOf(p, last, &ec);
}
path windows_path(const std::filesystem::path& host) {
    return windowsPathOf(host, nullptr);
}
path windows_path(const std::filesystem::path& host, std::error_code& ec) {
    return windowsPathOf(host, &ec);
}

}  // namespace winfs
