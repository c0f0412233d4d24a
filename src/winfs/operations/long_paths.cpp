#include "pathprobe/winfs/long_paths.h"

#include <atomic>
#include <optional>

#include "operations/switches.h"

namespace winfs {
namespace {

// WINFS_LONG_PATHS, read once: 0, false, no or off for the legacy limit.
bool fromEnvironment() {
    if (const std::optional<bool> lifted = switchSetting("WINFS_LONG_PATHS")) return *lifted;
    reportNotUnderstood(
        "WINFS_LONG_PATHS",
        "0, false, no or off apply MAX_PATH; 1, true, yes or on lift it); paths may "
        "be long");
    return true;
}

enum Setting : int { unread = -1, legacy = 0, lifted = 1 };
std::atomic<int> setting{unread};

}  // namespace

void set_long_paths(bool enabled) noexcept {
    setting.store(enabled ? lifted : legacy, std::memory_order_relaxed);
}

bool long_paths() noexcept {
    const int now = setting.load(std::memory_order_relaxed);
    if (now != unread) return now == lifted;
    // The first reader decides; one that set the value meanwhile wins over the environment.
    static const bool environment = fromEnvironment();
    int expected = unread;
    setting.compare_exchange_strong(expected, environment ? lifted : legacy,
                                    std::memory_order_relaxed);
    return setting.load(std::memory_order_relaxed) == lifted;
}

}  // namespace winfs
