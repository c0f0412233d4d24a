#include "pathprobe/winfs/queries.h"

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "operations/file_times.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace {

constexpr auto kNoSize = static_cast<std::uintmax_t>(-1);

std::uintmax_t readSize(const path& p, std::error_code& ec) {
    const host::Result<host::Stat> st = statExisting(p, ec);
    if (ec) return kNoSize;
    // A folder has the size that GetFileAttributesExW reports for one, which NTFS gives as 0.
    if (st->type == file_type::directory) return 0;
    if (st->type != file_type::regular) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
        return kNoSize;
    }
    return st->size;
}

// NTFS counts a folder's names as one: its subfolders' ".." are no links to it.
std::uintmax_t countLinks(const path& p, std::error_code& ec) {
    const host::Result<host::Stat> st = statExisting(p, ec);
    if (ec) return kNoSize;
    return st->type == file_type::directory ? 1 : st->links;
}

bool isEmptyFolderOrFile(const path& p, std::error_code& ec) {
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return false;
    if (found.at.type != file_type::directory) return readSize(p, ec) == 0 && !ec;
    std::vector<std::string> names;
    host::Handle folder;
    host::Error error = openFolderOf(found.at, folder);
    if (!error) error = host::namesIn(folder, names);
    if (error) {
        ec = error.windows(host::At::lastName);
        return false;
    }
    return names.empty();
}

file_time_type readWriteTime(const path& p, std::error_code& ec) {
    const host::Result<host::Stat> st = statExisting(p, ec);
    if (ec) return file_time_type::min();
    const std::optional<file_time_type> time = fileTimeFor(st->modified);
    if (!time) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);  // a time that no FILETIME holds
        return file_time_type::min();
    }
    return *time;
}

space_info readRoom(const path& p, std::error_code& ec) {
    constexpr space_info kNone{kNoSize, kNoSize, kNoSize};
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return kNone;
    host::Cursor folder = found.at.folder;
    const host::Result<host::Place> itself = folder.itself();
    const host::Result<host::Space> room = itself ? host::spaceAt(*itself) : itself.error();
    if (!room) {
        ec = room.error().windows(host::At::lastName);
        return kNone;
    }
    return {room->capacity, room->free, room->available};
}

bool equivalentOf(const path& p1, const path& p2, std::error_code* ec) {
    return reported("equivalent", ec, p1, p2,
                    [&](std::error_code& code) { return sameFile(p1, p2, code); });
}

std::uintmax_t fileSizeOf(const path& p, std::error_code* ec) {
    return reported("file_size", ec, p, [&](std::error_code& code) {
        const std::uintmax_t size = readSize(p, code);
        return code ? kNoSize : size;
    });
}

std::uintmax_t hardLinkCountOf(const path& p, std::error_code* ec) {
    return reported("hard_link_count", ec, p, [&](std::error_code& code) {
        const std::uintmax_t count = countLinks(p, code);
        return code ? kNoSize : count;
    });
}

bool isEmptyOf(const path& p, std::error_code* ec) {
    return reported("is_empty", ec, p,
                    [&](std::error_code& code) { return isEmptyFolderOrFile(p, code); });
}

file_time_type lastWriteTimeOf(const path& p, std::error_code* ec) {
    return reported("last_write_time", ec, p, [&](std::error_code& code) {
        const file_time_type time = readWriteTime(p, code);
        return code ? file_time_type::min() : time;
    });
}

space_info spaceOf(const path& p, std::error_code* ec) {
    return reported("space", ec, p, [&](std::error_code& code) {
        const space_info room = readRoom(p, code);
        return code ? space_info{kNoSize, kNoSize, kNoSize} : room;
    });
}

}  // namespace

// clang-format off
bool equivalent(const path& p1, const path& p2) { return equivalentOf(p1, p2, nullptr); }
bool equivalent(const path& p1, const path& p2, std::error_code& ec) { return equivalentOf(p1, p2, &ec); }
std::uintmax_t file_size(const path& p) { return fileSizeOf(p, nullptr); }
std::uintmax_t file_size(const path& p, std::error_code& ec) { return fileSizeOf(p, &ec); }
std::uintmax_t hard_link_count(const path& p) { return hardLinkCountOf(p, nullptr); }
std::uintmax_t hard_link_count(const path& p, std::error_code& ec) { return hardLinkCountOf(p, &ec); }
bool is_empty(const path& p) { return isEmptyOf(p, nullptr); }
bool is_empty(const path& p, std::error_code& ec) { return isEmptyOf(p, &ec); }
file_time_type last_write_time(const path& p) { return lastWriteTimeOf(p, nullptr); }
file_time_type last_write_time(const path& p, std::error_code& ec) { return lastWriteTimeOf(p, &ec); }
space_info space(const path& p) { return spaceOf(p, nullptr); }
space_info space(const path& p, std::error_code& ec) { return spaceOf(p, &ec); }
// clang-format on

}  // namespace winfs
