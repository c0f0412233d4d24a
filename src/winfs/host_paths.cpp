#include "host_paths.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "drive_map.h"
#include "error.h"
#include "operations.h"

namespace winfs {
namespace {

namespace host = std::filesystem;

bool endsInSeparator(std::string_view text) noexcept {
    return !text.empty() && (text.back() == '/' || text.back() == '\\');
}

// The length of the longest drive folder that leads `hostPath` by its text; 0 for none.
std::size_t driveFolderLength(const DriveMap& map, std::string_view hostPath) {
    std::size_t longest = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const MappedDrive* drive = map.drive(letter);
        if (drive == nullptr || drive->failure) continue;
        const std::string_view folder = drive->folder;
        const bool leads =
            folder == "/" || (hostPath.substr(0, folder.size()) == folder &&
                              (hostPath.size() == folder.size() || hostPath[folder.size()] == '/'));
        if (leads && folder.size() > longest) longest = folder.size();
    }
    return longest;
}

// `hostPath` (absolute, lexically normal, no trailing '/') with its longest leading part that is a
// drive's folder reached through a link, such as <prefix>/dosdevices/c:, written as that folder;
// as it is when there is none. Only a part with a link in it can be one, and only below the
// folder of the drive that it lies on by its text, since the drive map keeps its folders resolved.
std::string throughLinks(const DriveMap& map, const std::string& hostPath) {
    const std::size_t onDrive = driveFolderLength(map, hostPath);
    if (onDrive == hostPath.size()) return hostPath;
    std::size_t firstLink = std::string::npos;
    for (std::size_t end = hostPath.find('/', std::max<std::size_t>(onDrive, 1) + 1);;
         end = hostPath.find('/', end + 1)) {
        std::error_code ec;
        const host::file_type type = host::symlink_status(hostPath.substr(0, end), ec).type();
        if (type == host::file_type::symlink) {
            firstLink = end;
            break;
        }
        // Nothing missing, or below a file, can lead to a drive.
        if (type != host::file_type::directory || end == std::string::npos) return hostPath;
    }
    // Longest first, down to the first link.
    const std::size_t shortest = firstLink == std::string::npos ? hostPath.size() : firstLink;
    for (std::size_t end = hostPath.size(); end >= shortest; end = hostPath.rfind('/', end - 1)) {
        std::error_code ec;
        const host::path resolved = host::canonical(hostPath.substr(0, end), ec);
        if (ec) continue;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            const MappedDrive* drive = map.drive(letter);
            if (drive == nullptr || drive->failure || drive->folder != resolved.native()) continue;
            std::string linked = drive->folder == "/" ? std::string() : drive->folder;
            linked.append(hostPath, end);
            return linked.empty() ? std::string("/") : linked;
        }
    }
    return hostPath;
}

// An absolute host path without "." and "..", taken by their text, and without a trailing '/':
// "/a/./b/../c/" is "/a/c", and ".." at the root stays there, as the host takes it.
std::string lexicallyNormal(std::string_view absoluteHost) {
    std::string normal;
    normal.reserve(absoluteHost.size());
    for (std::size_t start = 0; start < absoluteHost.size();) {
        std::size_t end = absoluteHost.find('/', start);
        if (end == std::string_view::npos) end = absoluteHost.size();
        const std::string_view name = absoluteHost.substr(start, end - start);
        start = end + 1;
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

// A failure of the host's own calls (the working directory gone, or denied) as a Windows code.
std::error_code windowsError(const std::error_code& ec) {
    if (ec == std::errc::permission_denied) return make_error_code(ERROR_ACCESS_DENIED);
    if (ec == std::errc::not_enough_memory) return make_error_code(ERROR_NOT_ENOUGH_MEMORY);
    return make_error_code(ERROR_PATH_NOT_FOUND);
}

path windowsPathOf(const host::path& hostPath, std::error_code& ec) {
    if (hostPath.empty()) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return {};
    }
    std::string full;
    if (!hostPath.is_absolute()) {
        const host::path workingDirectory = host::current_path(ec);
        if (ec) {
            ec = windowsError(ec);
            return {};
        }
        full = workingDirectory.native() + "/";
    }
    full += hostPath.native();
    const std::string normal = lexicallyNormal(full);
    const auto map = drives();
    path windows = map->windowsPathFor(throughLinks(*map, normal), ec);
    if (ec) return {};
    if (endsInSeparator(hostPath.native()) && !endsInSeparator(windows.native())) windows += '\\';
    return windows;
}

std::filesystem::path hostPathOf(const path& p, std::error_code& ec) {
    const path full = absolute(p, ec);
    if (ec) return {};
    const path resolved = weakly_canonical(full, ec);
    if (ec) return {};
    std::string hostPath = drives()->hostPathFor(resolved, ec);
    if (ec) return {};
    if (endsInSeparator(full.native()) && !endsInSeparator(hostPath)) hostPath.push_back('/');
    return hostPath;
}

// The error_code form's body: what it throws is reported through `ec`.
template <class Body>
auto reported(std::error_code& ec, Body body) -> decltype(body()) {
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
    return {};
}

}  // namespace

std::filesystem::path host_path(const path& p) {
    std::error_code ec;
    std::filesystem::path result = host_path(p, ec);
    if (ec) throw filesystem_error("host_path", p, ec);
    return result;
}

std::filesystem::path host_path(const path& p, std::error_code& ec) {
    return reported(ec, [&] { return hostPathOf(p, ec); });
}

path windows_path(const std::filesystem::path& host) {
    std::error_code ec;
    path result = windows_path(host, ec);
    if (!ec) return result;
    // The host path is named where it can be held as a path: it may not be UTF-8.
    path named;
    try {
        named = path(host.native());
    } catch (const filesystem_error&) {
        throw filesystem_error("windows_path", ec);
    }
    throw filesystem_error("windows_path", named, ec);
}

path windows_path(const std::filesystem::path& host, std::error_code& ec) {
    return reported(ec, [&] { return windowsPathOf(host, ec); });
}

}  // namespace winfs
