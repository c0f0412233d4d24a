#include "operations/status.h"

#include <cstdint>
#include <optional>
#include <string>

#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"

namespace winfs {
namespace {

// What Microsoft's library reports for a read-only file: everything but the three write bits.
constexpr perms kReadOnly =
    perms::all & ~(perms::owner_write | perms::group_write | perms::others_write);
constexpr std::uint32_t kFileAttributeReadOnly = 0x1;

perms permissionsFound(const DriveMap& map, const Resolution& found, std::error_code& ec) {
    // A device has no host name to ask.
    if (!onTheHost(found)) return perms::all;
    if (found.type == file_type::symlink) {
        const std::string table = linkAttributesFolder(map);
        if (table.empty()) return perms::all;
        host::Cursor folder = found.folder;
        const host::Result<host::Place> itself = folder.itself();
        const host::Result<bool> readOnly =
            itself ? host::linkReadOnlyAt({-1, table.c_str()}, *itself) : itself.error();
        if (!readOnly && readOnly.error().missing()) return perms::all;  // renamed meanwhile
        if (!readOnly) {
            ec = readOnly.error().windows(host::At::lastName);
            return perms::unknown;
        }
        return *readOnly ? kReadOnly : perms::all;
    }
    if (found.type == file_type::directory) {
        host::Cursor folder = found.folder;
        const host::Result<host::Place> itself = folder.itself();
        const host::Result<std::uint32_t> attributes =
            itself ? host::dosAttributesAt(*itself) : itself.error();
        // Renamed since the walk found it: it was there, with no record that can still be read.
        if (!attributes && attributes.error().missing()) return perms::all;
        if (!attributes) {
            ec = attributes.error().windows(host::At::lastName);
            return perms::unknown;
        }
        return (*attributes & kFileAttributeReadOnly) != 0 ? kReadOnly : perms::all;
    }
    if (found.type != file_type::regular) return perms::all;
    const host::Result<host::Stat> st = statFound(found);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return perms::unknown;
    }
    return (st->mode & static_cast<unsigned>(perms::owner_write)) != 0 ? perms::all : kReadOnly;
}

// The status of what `p` names, and, when `itself` is given, what the walk read of it.
file_status statusFound(const path& p, Lookup lookup, std::error_code& ec, Permissions want,
                        std::optional<host::Stat>* itself) {
    const Map map = drives();
    const Resolution found = resolveOn(*map, p, lookup, ec, Trailing::refused);
    if (ec) return file_status(isNotFound(ec) ? file_type::not_found : file_type::none);
    if (!found.rest.empty()) {
        ec = found.missing;
        return file_status(file_type::not_found);
    }
    if (want == Permissions::skip) return file_status(found.type);
    const perms permissions = permissionsFound(*map, found, ec);
    if (ec) return file_status(file_type::none);
    if (itself != nullptr && onTheHost(found)) {
        if (const host::Result<host::Stat> st = statFound(found)) *itself = *st;
    }
    return file_status(found.type, permissions);
}

}  // namespace

std::string linkAttributesFolder(const DriveMap& map) {
    return map.prefix().empty() ? std::string() : map.prefix() + "/winfs-link-attributes";
}

file_status lookUpStatus(const path& p, Lookup lookup, std::error_code& ec, Permissions want) {
    return statusFound(p, lookup, ec, want, nullptr);
}

file_status lookUpEntry(const path& p, std::error_code& ec, std::optional<host::Stat>& itself) {
    return statusFound(p, kSymlinkStatus, ec, Permissions::read, &itself);
}

file_status queryStatus(const char* operation, const path& p, Lookup lookup, std::error_code* ec,
                        Missing missing, Permissions want) {
    return reported(operation, ec, p, [&](std::error_code& code) {
        const file_status s = lookUpStatus(p, lookup, code, want);
        if (s.type() == file_type::not_found && (ec == nullptr || missing == Missing::isAnAnswer))
            code.clear();
        return s;
    });
}

namespace {

file_status statusOf(const path& p, std::error_code* ec) {
    return queryStatus("status", p, kStatus, ec, Missing::isAnError, Permissions::read);
}

file_status symlinkStatusOf(const path& p, std::error_code* ec) {
    return queryStatus("symlink_status", p, kSymlinkStatus, ec, Missing::isAnError,
                       Permissions::read);
}

// The type alone. A missing path is false to the type predicates, which report it in `ec` as
// status() does, and to exists(), which does not, as Microsoft's library answers.
file_status typeOf(const path& p, std::error_code* ec, Missing missing = Missing::isAnError) {
    return queryStatus("status", p, kStatus, ec, missing);
}

// Whether the last name is a link takes no more than one call on it.
file_status symlinkTypeOf(const path& p, std::error_code* ec) {
    return queryStatus("symlink_status", p, {.follow = Follow::allButLast}, ec, Missing::isAnError);
}

bool typeIs(const path& p, std::error_code* ec, bool (*test)(file_status)) {
    return test(typeOf(p, ec));
}

}  // namespace

// The two public forms of each query, one line each.
// clang-format off
file_status status(const path& p) { return statusOf(p, nullptr); }
file_status status(const path& p, std::error_code& ec) { return statusOf(p, &ec); }
file_status symlink_status(const path& p) { return symlinkStatusOf(p, nullptr); }
file_status symlink_status(const path& p, std::error_code& ec) { return symlinkStatusOf(p, &ec); }
bool exists(const path& p) { return exists(typeOf(p, nullptr)); }
bool exists(const path& p, std::error_code& ec) { return exists(typeOf(p, &ec, Missing::isAnAnswer)); }
bool is_directory(const path& p) { return is_directory(typeOf(p, nullptr)); }
bool is_directory(const path& p, std::error_code& ec) { return is_directory(typeOf(p, &ec)); }
bool is_regular_file(const path& p) { return is_regular_file(typeOf(p, nullptr)); }
bool is_regular_file(const path& p, std::error_code& ec) {
    return is_regular_file(typeOf(p, &ec));
}
bool is_symlink(const path& p) { return is_symlink(symlinkTypeOf(p, nullptr)); }
bool is_symlink(const path& p, std::error_code& ec) { return is_symlink(symlinkTypeOf(p, &ec)); }
bool is_block_file(const path& p) { return typeIs(p, nullptr, is_block_file); }
bool is_block_file(const path& p, std::error_code& ec) { return typeIs(p, &ec, is_block_file); }
bool is_character_file(const path& p) { return typeIs(p, nullptr, is_character_file); }
bool is_character_file(const path& p, std::error_code& ec) { return typeIs(p, &ec, is_character_file); }
bool is_fifo(const path& p) { return typeIs(p, nullptr, is_fifo); }
bool is_fifo(const path& p, std::error_code& ec) { return typeIs(p, &ec, is_fifo); }
bool is_socket(const path& p) { return typeIs(p, nullptr, is_socket); }
bool is_socket(const path& p, std::error_code& ec) { return typeIs(p, &ec, is_socket); }
bool is_other(const path& p) { return typeIs(p, nullptr, is_other); }
bool is_other(const path& p, std::error_code& ec) { return typeIs(p, &ec, is_other); }
// clang-format on

}  // namespace winfs
