#include "pathprobe/winfs/queries.h"

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "host/host.h"
#include "operations/operations_internal.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace {

constexpr auto kNoSize = static_cast<std::uintmax_t>(-1);

// What fstatat tells of what `p` names, links followed.
host::Result<host::Stat> statOf(const path& p, std::error_code& ec) {
    const Found found = existingOn(p, kStatus, ec);
    if (ec) return host::Stat{};
    host::Result<host::Stat> st = host::statAt(found.at.folder.place(), false);
    if (!st) ec = st.error().windows(host::At::lastName);
    return st;
}

bool sameFile(const path& p1, const path& p2, std::error_code& ec) {
    const host::Result<host::Stat> one = statOf(p1, ec);
    if (ec) return false;
    const host::Result<host::Stat> two = statOf(p2, ec);
    if (ec) return false;
    return one->device == two->device && one->inode == two->inode;
}

std::uintmax_t sizeOf(const path& p, std::error_code& ec) {
    const host::Result<host::Stat> st = statOf(p, ec);
    if (ec) return kNoSize;
    if (st->type != file_type::regular) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
        return kNoSize;
    }
    return st->size;
}

std::uintmax_t linksOf(const path& p, std::error_code& ec) {
    const host::Result<host::Stat> st = statOf(p, ec);
    return ec ? kNoSize : st->links;
}

bool emptyAt(const path& p, std::error_code& ec) {
    const Found found = existingOn(p, kStatus, ec);
    if (ec) return false;
    if (found.at.type != file_type::directory) return sizeOf(p, ec) == 0 && !ec;
    std::vector<std::string> names;
    if (const host::Error error = namesIn(found.at.folder.place(), names)) {
        ec = error.windows(host::At::lastName);
        return false;
    }
    return names.empty();
}

file_time_type modifiedOf(const path& p, std::error_code& ec) {
    const host::Result<host::Stat> st = statOf(p, ec);
    if (ec) return file_time_type::min();
    const std::chrono::sys_time<std::chrono::nanoseconds> modified{
        std::chrono::nanoseconds(st->modified)};
    return file_clock::from_sys(modified);
}

space_info roomOf(const path& p, std::error_code& ec) {
    constexpr space_info kNone{kNoSize, kNoSize, kNoSize};
    const Found found = existingOn(p, kStatus, ec);
    if (ec) return kNone;
    const host::Result<host::Space> room = host::spaceAt(found.at.folder.place());
    if (!room) {
        ec = room.error().windows(host::At::lastName);
        return kNone;
    }
    return {room->capacity, room->free, room->available};
}

// A type predicate of both forms: a missing path is false, without error.
bool typeIs(const path& p, std::error_code* ec, bool (*test)(file_status)) {
    return test(statusQuery("status", p, kStatus, ec, true));
}

bool equivalentOf(const path& p1, const path& p2, std::error_code* ec) {
    return reported("equivalent", ec, p1, p2,
                    [&](std::error_code& code) { return sameFile(p1, p2, code); });
}

std::uintmax_t fileSizeOf(const path& p, std::error_code* ec) {
    return reported("file_size", ec, p, [&](std::error_code& code) {
        const std::uintmax_t size = sizeOf(p, code);
        return code ? kNoSize : size;
    });
}

std::uintmax_t linkCountOf(const path& p, std::error_code* ec) {
    return reported("hard_link_count", ec, p, [&](std::error_code& code) {
        const std::uintmax_t count = linksOf(p, code);
        return code ? kNoSize : count;
    });
}

bool isEmptyOf(const path& p, std::error_code* ec) {
    return reported("is_empty", ec, p, [&](std::error_code& code) { return emptyAt(p, code); });
}

file_time_type writeTimeOf(const path& p, std::error_code* ec) {
    return reported("last_write_time", ec, p, [&](std::error_code& code) {
        const file_time_type time = modifiedOf(p, code);
        return code ? file_time_type::min() : time;
    });
}

space_info spaceOf(const path& p, std::error_code* ec) {
    return reported("space", ec, p, [&](std::error_code& code) {
        const space_info room = roomOf(p, code);
        return code ? space_info{kNoSize, kNoSize, kNoSize} : room;
    });
}

}  // namespace

// clang-format off
bool equivalent(const path& p1, const path& p2) { return equivalentOf(p1, p2, nullptr); }
bool equivalent(const path& p1, const path& p2, std::error_code& ec) { return equivalentOf(p1, p2, &ec); }
std::uintmax_t file_size(const path& p) { return fileSizeOf(p, nullptr); }
std::uintmax_t file_size(const path& p, std::error_code& ec) { return fileSizeOf(p, &ec); }
std::uintmax_t hard_link_count(const path& p) { return linkCountOf(p, nullptr); }
std::uintmax_t hard_link_count(const path& p, std::error_code& ec) { return linkCountOf(p, &ec); }
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
bool is_empty(const path& p) { return isEmptyOf(p, nullptr); }
bool is_empty(const path& p, std::error_code& ec) { return isEmptyOf(p, &ec); }
file_time_type last_write_time(const path& p) { return writeTimeOf(p, nullptr); }
file_time_type last_write_time(const path& p, std::error_code& ec) { return writeTimeOf(p, &ec); }
space_info space(const path& p) { return spaceOf(p, nullptr); }
space_info space(const path& p, std::error_code& ec) { return spaceOf(p, &ec); }
// clang-format on

}  // namespace winfs
