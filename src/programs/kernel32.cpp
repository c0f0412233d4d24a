#include "kernel32.h"

#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "operations/switches.h"
#include "pathprobe/winfs/changes.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/files.h"
#include "pathprobe/winfs/operations.h"
#include "text/utf8.h"

namespace {

thread_local DWORD lastError = 0;

BOOLEAN fail(DWORD error) {
    lastError = error;
    return 0;
}

// A winfs failure as the Windows code it carries; one in another category has none, and is
// ERROR_GEN_FAILURE, "A device attached to the system is not functioning."
BOOL fail(const std::error_code& ec) {
    constexpr DWORD kGenFailure = 31;
    const bool windowsCode = ec.category() == winfs::system_category();
    return fail(windowsCode ? static_cast<DWORD>(ec.value()) : kGenFailure);
}

BOOL succeed(DWORD lastErrorAfter = 0) {
    lastError = lastErrorAfter;
    return 1;
}

// The path a wide name gives, or nothing when it is not valid UTF-32 (a lone surrogate, say).
std::optional<winfs::path> pathOf(LPCWSTR name) {
    if (name == nullptr) return std::nullopt;
    try {
        return winfs::path(name);
    } catch (const winfs::filesystem_error&) {
        return std::nullopt;
    }
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

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    winfs::file_access wanted{};
    if ((access & GENERIC_READ) != 0) wanted |= winfs::file_access::read;
    if ((access & GENERIC_WRITE) != 0) wanted |= winfs::file_access::write;
    if ((access & FILE_APPEND_DATA) != 0) wanted |= winfs::file_access::append;
    const DWORD known = GENERIC_READ | GENERIC_WRITE | FILE_APPEND_DATA;
    const bool attributesKnown =
        flagsAndAttributes == 0 || flagsAndAttributes == FILE_ATTRIBUTE_NORMAL;
    if ((access & ~known) != 0 || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        !attributesKnown || templateFile != nullptr) {
        fail(winfs::ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::optional<winfs::path> p = pathOf(name);
    if (!p) {
        fail(winfs::ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // CREATE_NEW (1) to TRUNCATE_EXISTING (5), in file_disposition's order.
    const auto how = static_cast<winfs::file_disposition>(disposition - CREATE_NEW);
    std::error_code ec;
    auto file = std::make_unique<winfs::file>(
        winfs::open_file(*p, wanted, how, static_cast<winfs::file_share>(share), ec));
    if (ec) {
        fail(ec);
        return INVALID_HANDLE_VALUE;
    }
    const bool told = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    succeed(told && file->existed() ? static_cast<DWORD>(winfs::ERROR_ALREADY_EXISTS) : 0);
    return file.release();
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return fail(winfs::ERROR_INVALID_HANDLE);
    if (overlapped != nullptr || (buffer == nullptr && size > 0)) {
        return fail(winfs::ERROR_INVALID_PARAMETER);
    }
    std::error_code ec;
    static_cast<winfs::file*>(file)->write(buffer, size, ec);
    if (ec) return fail(ec);
    if (written != nullptr) *written = size;
    return succeed();
}

BOOL CloseHandle(HANDLE object) {
    if (object == nullptr || object == INVALID_HANDLE_VALUE) {
        return fail(winfs::ERROR_INVALID_HANDLE);
    }
    const std::unique_ptr<winfs::file> file(static_cast<winfs::file*>(object));
    std::error_code ec;
    file->close(ec);
    return ec ? fail(ec) : succeed();
}

BOOL DeleteFileW(LPCWSTR name) {
    const std::optional<winfs::path> p = pathOf(name);
    if (!p) return fail(winfs::ERROR_INVALID_NAME);
    std::error_code ec;
    const winfs::file_status st = winfs::symlink_status(*p, ec);
    if (ec) return fail(ec);
    // winfs::remove removes a read-only file, as Microsoft's library does; DeleteFileW does not.
    const bool readOnly = (st.permissions() & winfs::perms::owner_write) == winfs::perms::none;
    if (st.type() == winfs::file_type::directory || readOnly) {
        return fail(winfs::ERROR_ACCESS_DENIED);
    }
    winfs::remove(*p, ec);
    return ec ? fail(ec) : succeed();
}

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (flags != MOVEFILE_REPLACE_EXISTING) return fail(winfs::ERROR_INVALID_PARAMETER);
    const std::optional<winfs::path> source = pathOf(from);
    const std::optional<winfs::path> target = pathOf(to);
    if (!source || !target) return fail(winfs::ERROR_INVALID_NAME);
    std::error_code ec;
    winfs::rename(*source, *target, ec);
    return ec ? fail(ec) : succeed();
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
    const std::optional<winfs::path> p = pathOf(name);
    if (!p) return fail(winfs::ERROR_INVALID_NAME);
    using winfs::perms;
    std::error_code ec;
    if (attributes == FILE_ATTRIBUTE_READONLY) {
        winfs::permissions(*p, perms::owner_write | perms::group_write | perms::others_write,
                           winfs::perm_options::remove, ec);
    } else if (attributes == FILE_ATTRIBUTE_NORMAL) {
        winfs::permissions(*p, perms::owner_write, winfs::perm_options::add, ec);
    } else {
        return fail(winfs::ERROR_INVALID_PARAMETER);
    }
    return ec ? fail(ec) : succeed();
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}
