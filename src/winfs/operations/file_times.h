// Internal to winfs: times between the host's clock and FILETIME's, for last_write_time. Exact to
// the 100 ns tick, in checked arithmetic, so that no time either side holds overflows on the way.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "host/host.h"
#include "pathprobe/winfs/file_time.h"

namespace winfs {

inline constexpr std::int64_t kTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kSecondsFrom1601To1970 =
    std::chrono::duration_cast<std::chrono::seconds>(file_clock::fromWindowsEpochToUnix).count();

// The FILETIME of a host time, at the tick at or before it; empty for a time past the ends of
// file_time_type (years -27627 and 30828), which a file system may hold (tmpfs holds 64-bit
// seconds).
inline std::optional<file_time_type> fileTimeFor(host::Time t) noexcept {
    std::int64_t since1601 = 0;
    if (__builtin_add_overflow(t.seconds, kSecondsFrom1601To1970, &since1601)) return std::nullopt;
    std::int64_t inSecond = t.nanoseconds / 100;
    if (since1601 < 0 && inSecond > 0) {  // from the second after, so that the lowest fits
        ++since1601;
        inSecond -= kTicksPerSecond;
    }
    std::int64_t ticks = 0;
    if (__builtin_mul_overflow(since1601, kTicksPerSecond, &ticks) ||
        __builtin_add_overflow(ticks, inSecond, &ticks)) {
        return std::nullopt;
    }
    return file_time_type(file_time_type::duration(ticks));
}

// The host time of a FILETIME, exactly: every file_time_type fits in seconds since 1970.
inline host::Time hostTimeFor(file_time_type t) noexcept {
    const std::int64_t ticks = t.time_since_epoch().count();
    const std::int64_t beyond = ticks % kTicksPerSecond;  // negative below 1601: round down
    const std::int64_t since1601 = ticks / kTicksPerSecond - (beyond < 0 ? 1 : 0);
    const std::int64_t inSecond = beyond < 0 ? beyond + kTicksPerSecond : beyond;
    return {since1601 - kSecondsFrom1601To1970, inSecond * 100};
}

}  // namespace winfs
