// What the host layer's sources share beside its face (host.h). Internal to the host layer.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <ctime>
#include <limits>

#include "host/place.h"

namespace winfs::host {

// The descriptor that a Place's names start from: its folder, or the working directory.
inline int descriptor(Place place) noexcept {
    return place.folder >= 0 ? place.folder : AT_FDCWD;
}

// What `place` names, for a call that takes "" as no name: "." for the folder itself.
inline const char* nameOf(Place place) noexcept {
    return *place.below != '\0' ? place.below : ".";
}

inline Time timeOf(const timespec& t) noexcept {
    return {static_cast<std::int64_t>(t.tv_sec), static_cast<std::int64_t>(t.tv_nsec)};
}

// Nanoseconds since 1970 for a folder's stamp, held at int64's ends before 1677 and after 2262:
// a stamp is only compared, and any change in a folder sets its change time to now, well inside.
inline std::int64_t nanoseconds(const timespec& t) noexcept {
    constexpr std::int64_t kPerSecond = 1'000'000'000;
    constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max() / kPerSecond - 1;
    if (t.tv_sec > kMost) return std::numeric_limits<std::int64_t>::max();
    if (t.tv_sec < -kMost) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(t.tv_sec) * kPerSecond + t.tv_nsec;
}

}  // namespace winfs::host
