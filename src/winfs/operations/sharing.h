// Internal to winfs: the files that winfs holds open in this process, each open with its data
// access and its share mode, as Windows keeps them for every file. Every winfs call that opens,
// removes, renames or replaces a file asks the table first, as Windows checks every open against
// those already made: each open's data access must be shared by every other, both ways. Only data
// access counts (reading, writing or appending, deleting); an open with none shares everything.
//
// Threading: safe from any number of threads. One mutex guards the table, and an atomic count
// tells the callers that need not ask it (none is open) without taking it.
#pragma once

#include <cstdint>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/files.h"

namespace winfs {

// Which file an open holds: its device and inode, so that every name of it (hard links) is one.
struct OpenFileKey {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const OpenFileKey&) const = default;
};

// The data access of an open, as sharing counts it: bits that the share mode of another open
// must hold (file_share's read, write and delete_).
enum class DataAccess : unsigned { none = 0, read = 1, write = 2, remove = 4 };

// Enters an open of `key` with `access` and `share` in the table, when it and every open there
// share each other's access: its entry, or ERROR_SHARING_VIOLATION and no entry. With the table
// off, an empty entry and no error.
detail::open_entry enterOpen(OpenFileKey key, DataAccess access, file_share share,
                             std::error_code& ec);

// Whether an open of `key` with `access`, sharing everything, would be let now: what a call that
// opens the file for a moment asks (a remove, a rename, a copy). ERROR_SHARING_VIOLATION if not.
std::error_code mayOpen(OpenFileKey key, DataAccess access);

// The same for what `place` names, read now with no link followed: host::Error::inUse() when it
// is a file that an open keeps from `access`; nothing to refuse while no file is open.
host::Error mayOpenAt(host::Place place, DataAccess access);

// Whether any open is in the table: when none is, a call need not ask.
bool anyOpen() noexcept;

}  // namespace winfs
