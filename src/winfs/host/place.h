// Internal to winfs, not installed.
// Where a host call acts and the time it reads or sets: the two values that the host layer's face
// (host.h) and the helpers its sources share (host_internal.h) both speak of, below both so that
// neither includes the other.
//
// Threading: plain values.
#pragma once

#include <compare>
#include <cstdint>

namespace winfs::host {

// Where a call acts: a folder's handle and one name in it ("" or "." for the folder itself), or
// names below it ("a/b") for a call that opens them with no link followed; without a handle, an
// absolute host path in `below` (the prefix's own folders, and tests).
struct Place {
    int folder = -1;
    const char* below = "";
};

// A time as the host keeps it, a timespec: whole seconds since 1970 (negative before it) and the
// nanoseconds past them, which spans every time a file system holds, where 64-bit nanoseconds
// since 1970 span only 1677 to 2262.
struct Time {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;  // 0 to 999'999'999
    auto operator<=>(const Time&) const = default;
};

}  // namespace winfs::host
