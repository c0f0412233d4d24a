#include "winfs/kernel32.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

#include "winfs/error.h"
#include "winfs/operations.h"
#include "winfs/utf8.h"

namespace {

thread_local DWORD lastError = 0;

BOOLEAN fail(DWORD error) {
    lastError = error;
    return 0;
}

bool privilegeHeld() {
    const char* setting = std::getenv("WINFS_SYMLINK_PRIVILEGE");
    return setting == nullptr || std::strcmp(setting, "0") != 0;
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
