#include "pathprobe/winfs/long_paths.h"

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace winfs {
namespace {

bool spelledAs(const char* setting, std::initializer_list<const char*> spellings) {
    for (const char* spelling : spellings) {
        if (::strcasecmp(setting, spelling) == 0) return true;
    }
    return false;
}

// WINFS_LONG_PATHS, read once: 0, false, no or off for the legacy limit.
bool fromEnvironment() {
    const char* setting = std::getenv("WINFS_LONG_PATHS");
    if (setting == nullptr || *setting == '\0' || spelledAs(setting, {"1", "true", "yes", "on"})) {
        return true;
    }
    if (spelledAs(setting, {"0", "false", "no", "off"})) return false;
    std::fprintf(stderr,
                 "winfs: WINFS_LONG_PATHS=%s is not understood (0, false, no or off apply "
                 "MAX_PATH; 1, true, yes or on lift it); paths may be long\n",
                 setting);
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
