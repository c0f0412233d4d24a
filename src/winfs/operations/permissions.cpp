// permissions, of changes.h: the read-only attribute, as Microsoft's library reads and sets it.
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/changes.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace {

// Whether the change leaves the file read-only, as Microsoft's library decides it: only the write
// bits count. Empty when it changes nothing.
std::optional<bool> readOnlyAfter(perms prms, perm_options opts, std::error_code& ec) {
    const perms writes = perms::owner_write | perms::group_write | perms::others_write;
    const bool writable = (prms & writes) != perms::none;
    switch (opts & (perm_options::replace | perm_options::add | perm_options::remove)) {
        case perm_options::replace:
            return !writable;
        case perm_options::add:
            return writable ? std::optional<bool>(false) : std::nullopt;
        case perm_options::remove:  // only all three set the attribute
            return (prms & writes) == writes ? std::optional<bool>(true) : std::nullopt;
        default:
            ec = make_error_code(ERROR_INVALID_PARAMETER);
            return std::nullopt;
    }
}

void changePermissions(const path& p, perms prms, perm_options opts, std::error_code& ec) {
    const std::optional<bool> readOnly = readOnlyAfter(prms, opts, ec);
    if (ec) return;
    const bool follow = (opts & perm_options::nofollow) == perm_options{};
    const Found found = findExisting(p, follow ? kStatus : kSymlinkStatus, ec);
    if (ec || !readOnly) return;
    Held entry;
    if (const host::Error error = hold(found.at, entry)) {
        ec = error.windows(host::At::folderOnTheWay);
        return;
    }
    const host::Place place = entry.place();
    if (found.at.type == file_type::symlink) {
        // The link's own attribute (nofollow), kept beside the drives: Linux keeps none on a link.
        const std::string table = linkAttributesFolder(*found.map);
        if (table.empty()) {
            ec = make_error_code(ERROR_NOT_SUPPORTED);
        } else if (const host::Error error =
                       host::setLinkReadOnly({-1, table.c_str()}, place, *readOnly)) {
            ec = error.windows(host::At::lastName);
        }
        return;
    }
    if (found.at.type == file_type::directory) {
        // A folder's attribute is a record beside it: its mode stays, so names are still made in
        // it, as in a read-only folder on Windows.
        if (const host::Error error = host::setDosReadOnly(place, *readOnly))
            ec = error.windows(host::At::lastName);
        return;
    }
    const host::Result<host::Stat> st = host::statAt(place, false);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return;
    }
    // Read-only takes every write bit away; writable gives the owner's back, and no one else's.
    const std::uint32_t mode = *readOnly ? st->mode & ~std::uint32_t{0222} : st->mode | 0200U;
    if (mode == st->mode) return;
    if (const host::Error error = host::setMode(place, mode))
        ec = error.windows(host::At::lastName);
}

void permissionsOf(const path& p, perms prms, perm_options opts, std::error_code* ec) {
    reported("permissions", ec, p,
             [&](std::error_code& code) { changePermissions(p, prms, opts, code); });
}

}  // namespace

// clang-format off
void permissions(const path& p, perms prms, perm_options opts) { permissionsOf(p, prms, opts, nullptr); }
void permissions(const path& p, perms prms, std::error_code& ec) {
    permissionsOf(p, prms, perm_options::replace, &ec);
}
void permissions(const path& p, perms prms, perm_options opts, std::error_code& ec) {
    permissionsOf(p, prms, opts, &ec);
}
// clang-format on

}  // namespace winfs
