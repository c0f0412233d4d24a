#include "kernel32.h"

#include <mutex>
#include <optional>
#include <system_error>

#include "operations/switches.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"
#include "text/utf8.h"

namespace {

thread_local DWORD lastError = 0;

BOOLEAN fail(DWORD error) {
    lastError = error;
    return 0;
}

// WINFS_SYMLINK_PRIVILEGE: 0, false, no or off for an account without the privilege; 1, true, yes,
// on or nothing for one with it. Any other value is said once on standard error, and changes
// nothing.
bool privilegeHeld() {
    if (const std::optional<bool> held = winfs::switchSetting("WINFS_SYMLINK_PRIVILEGE"))
        return *held;
    static std::once_flag reported;
    std::call_once(reported, [] {
        winfs::reportNotUnderstood(
            "WINFS_SYMLINK_PRIVILEGE",
            "0, false, no or off take the privilege away; 1, true, yes or on "
            "give it); links are made as with the privilege");
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
