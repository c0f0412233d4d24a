// What the disk holds, beyond the status queries of operations.h: sizes, times, links, identity
// and room. Links are followed. Both forms of each, as in operations.h.
//
// Threading: as operations.h: safe from any number of threads while others change the disk.
#pragma once

#include <cstdint>
#include <system_error>

#include "file_status.h"
#include "file_time.h"
#include "path.h"

namespace winfs {

struct space_info {
    std::uintmax_t capacity;
    std::uintmax_t free;
    std::uintmax_t available;
    friend bool operator==(const space_info&, const space_info&) = default;
};

// Whether the two paths name one file, through any spelling, case or link: as the host's device
// and inode tell. A missing path fails with its reason.
bool equivalent(const path& p1, const path& p2);
bool equivalent(const path& p1, const path& p2, std::error_code& ec);

// The size of a file in bytes; a folder, or anything else but a file, fails with
// ERROR_NOT_SUPPORTED. (uintmax_t)-1 after an error.
std::uintmax_t file_size(const path& p);
std::uintmax_t file_size(const path& p, std::error_code& ec);

// The host's count of names for the file; (uintmax_t)-1 after an error.
std::uintmax_t hard_link_count(const path& p);
std::uintmax_t hard_link_count(const path& p, std::error_code& ec);

// A folder with no names in it, or a file of no bytes; a missing path fails.
bool is_empty(const path& p);
bool is_empty(const path& p, std::error_code& ec);

// When the data last changed; file_time_type::min() after an error.
file_time_type last_write_time(const path& p);
file_time_type last_write_time(const path& p, std::error_code& ec);

// The room on the file system that holds what `p` names (which must exist); every field
// (uintmax_t)-1 after an error.
space_info space(const path& p);
space_info space(const path& p, std::error_code& ec);

}  // namespace winfs
