#include "operations/switches.h"

#include <strings.h>

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

}  // namespace

std::optional<bool> switchSetting(const char* name) {
    const char* setting = std::getenv(name);
    if (setting == nullptr || *setting == '\0' || spelledAs(setting, {"1", "true", "yes", "on"})) {
        return true;
    }
    if (spelledAs(setting, {"0", "false", "no", "off"})) return false;
    return std::nullopt;
}

void reportNotUnderstood(const char* name, const char* meaning) {
    const char* setting = std::getenv(name);
    std::fprintf(stderr, "winfs: %s=%s is not understood (%s\n", name,
                 setting != nullptr ? setting : "", meaning);
}

}  // namespace winfs
