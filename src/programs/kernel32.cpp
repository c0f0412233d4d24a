#include "kernel32.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <system_error>

#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"
#include "text/utf8.h"

namespace {

thread_local DWORD lastError = 0;

BOOLEAN fail(DWORD error) {
    lastError = error;
    return 0;
}

bool spelledAs(const char* setting, std::initializer_list<const char*> spellings) {
    for (const char* spelling : spellings) {
        if (::strcasecmp(setting, spelling) == 0) return true;
    }
    return false;
}

// WINFS_SYMLINK_PRIVILEGE: 0, false, no or off for an account without the privilege; 1, true, yes,
// on or nothing for one with it. Any other value is said once on standard error, and changes
// nothing.
bool privilegeHeld() {
    const char* setting = std::getenv("WINFS_SYMLINK_PRIVILEGE");
    if (setting == nullptr || *setting == '\0' || spelledAs(setting, {"1", "true", "yes", "on"})) {
        return true;
    }
    if (spelledAs(setting, {"0", "false", "no", "off"})) return false;
    static std::once_flag reported;
    std::call_once(reported, [setting] {
        std::fprintf(stderr,
                     "winfs: WINFS_SYMLINK_PRIVILEGE=%s is not understood (0, false, no or off "
                     "take the privilege away; 1, true, yes or on give it); links are made as "
                     "with the privilege\n",
                     setting);
    });
    return true;
}

}  // namespace

BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags) {
    constexpr DWORD known =
        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if ((flags & ~known) != 0 || link == nullptr || target == nullptr) {
        return fail(winfs::ERROR_INVALID_PARAMETER);
    }
    if (!privilegeHeld()) return fail(winfs::ERROR_PRIVILEGE_NOT_HELD);
    if (*link == '\0' || !winfs::isValidUtf8(link) || !winfs::isValidUtf8(target)) {
        return fail(winfs::ERROR_INVALID_NAME);
    }
    std::error_code ec;
    winfs::create_symlink(winfs::path(target), winfs::path(link), ec);
    if (ec) {
        const bool windowsCode = ec.category() == winfs::system_category();
        return fail(windowsCode ? static_cast<DWORD>(ec.value())
                                : static_cast<DWORD>(winfs::ERROR_INVALID_NAME));
    }
    return 1;
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}
