#include "operations/links.h"

#include <string>

#include "drives/drive.h"
#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/changes.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"
#include "text/names.h"

namespace winfs {
namespace {

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
    host::Handle holder;
    host::Error error = openFolderOf(folder, holder);
    if (!error) error = host::makeLink(stored, {holder.get(), name.native().c_str()});
    if (error) ec = error.windows(host::At::folderOnTheWay);
}

namespace {

// The link `p` itself, resolved, and its target as a Windows path.
path targetOf(const DriveMap& map, const path& p, Resolution& found, std::error_code& ec) {
    found = resolveOn(map, p, {.follow = Follow::allButLast}, ec);
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
    if (!target.empty() && target.front() == '/') return map.windowsPathFor(target, ec);
    return relativeWindowsPathFor(target, ec);
}

}  // namespace

path readLinkTarget(const path& p, std::error_code& ec) {
    Resolution found;
    return targetOf(*drives(), p, found, ec);
}

path linkDestination(const path& p, std::error_code& ec) {
    Resolution found;
    path target = targetOf(*drives(), p, found, ec);
    if (ec || target.is_absolute()) return target;
    return (found.head.parent_path() / target).lexically_normal();
}

namespace {

path readSymlinkOf(const path& p, std::error_code* ec) {
    return reported("read_symlink", ec, p,
                    [&](std::error_code& code) { return readLinkTarget(p, code); });
}

void createSymlinkOf(const path& target, const path& link, std::error_code* ec) {
    reported("create_symlink", ec, target, link,
             [&](std::error_code& code) { makeLink(target, link, code); });
}

void createDirectorySymlinkOf(const path& target, const path& link, std::error_code* ec) {
    reported("create_directory_symlink", ec, target, link,
             [&](std::error_code& code) { makeLink(target, link, code); });
}

}  // namespace

// clang-format off
path read_symlink(const path& p) { return readSymlinkOf(p, nullptr); }
path read_symlink(const path& p, std::error_code& ec) { return readSymlinkOf(p, &ec); }
void create_symlink(const path& target, const path& link) { createSymlinkOf(target, link, nullptr); }
void create_symlink(const path& target, const path& link, std::error_code& ec) {
    createSymlinkOf(target, link, &ec);
}
void create_directory_symlink(const path& target, const path& link) {
    createDirectorySymlinkOf(target, link, nullptr);
}
void create_directory_symlink(const path& target, const path& link, std::error_code& ec) {
    createDirectorySymlinkOf(target, link, &ec);
}
// clang-format on

}  // namespace winfs
