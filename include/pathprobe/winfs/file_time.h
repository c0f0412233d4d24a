// The clock of file times, as Windows counts them: 100-nanosecond ticks since 1601-01-01 UTC (a
// FILETIME), so that a file_time_type's count is the FILETIME that Windows code sees.
// file_clock::to_sys and from_sys convert to and from system_clock, as C++20's file_clock does.
//
// Threading: plain values and a stateless clock; safe from any number of threads.
#pragma once

#include <chrono>
#include <ratio>
#include <type_traits>

namespace winfs {

class file_clock {
  public:
    using rep = long long;
    using period = std::ratio<1, 10'000'000>;
    using duration = std::chrono::duration<rep, period>;
    using time_point = std::chrono::time_point<file_clock>;
    static constexpr bool is_steady = false;

    // 1970-01-01 less 1601-01-01: 369 years with 89 leap days.
    static constexpr duration fromWindowsEpochToUnix{std::chrono::seconds(11'644'473'600LL)};

    // Finer than a tick, a system time is taken to the tick at or before it: nanoseconds since
    // 1601 would overflow 64 bits in 1893.
    template <class Duration>
    using Ticks = std::conditional_t<std::ratio_less_v<typename Duration::period, period>, duration,
                                     std::common_type_t<Duration, duration>>;

    template <class Duration>
    static auto to_sys(const std::chrono::time_point<file_clock, Duration>& t) {
        using Common = std::common_type_t<Duration, duration>;
        return std::chrono::time_point<std::chrono::system_clock, Common>(t.time_since_epoch() -
                                                                          fromWindowsEpochToUnix);
    }
    template <class Duration>
    static auto from_sys(const std::chrono::time_point<std::chrono::system_clock, Duration>& t) {
        const auto since1970 = std::chrono::floor<Ticks<Duration>>(t.time_since_epoch());
        return std::chrono::time_point<file_clock, Ticks<Duration>>(since1970 +
                                                                    fromWindowsEpochToUnix);
    }

    static time_point now() noexcept { return from_sys(std::chrono::system_clock::now()); }
};

using file_time_type = std::chrono::time_point<file_clock>;

}  // namespace winfs
