// winfs::fopen and _wfopen, of files.h: a FILE* over the one open, whose close gives up the
// file's entry in the table of open files with its descriptor.
#include <stdio.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "files/opening.h"
#include "host/host.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/files.h"

namespace winfs {
namespace {

// What a FILE* of ours holds.
struct Cookie {
    int fd;
    detail::open_entry entry;
};

ssize_t readCookie(void* cookie, char* buffer, std::size_t size) {
    const host::Result<std::size_t> got =
        host::readSome(static_cast<Cookie*>(cookie)->fd, buffer, size);
    if (!got) return -1;
    return static_cast<ssize_t>(*got);
}

// As fopencookie asks: how many bytes went, 0 on failure.
ssize_t writeCookie(void* cookie, const char* buffer, std::size_t size) {
    if (host::writeAll(static_cast<Cookie*>(cookie)->fd, buffer, size)) return 0;
    return static_cast<ssize_t>(size);
}

int seekCookie(void* cookie, off64_t* offset, int whence) {
    const int origin = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? 1 : 2;
    const host::Result<std::uint64_t> at =
        host::seekTo(static_cast<Cookie*>(cookie)->fd, *offset, origin);
    if (!at) return -1;
    *offset = static_cast<off64_t>(*at);
    return 0;
}

int closeCookie(void* cookie) {
    Cookie* held = static_cast<Cookie*>(cookie);
    const host::Error error = host::closeFile(held->fd);
    delete held;
    return error ? -1 : 0;
}

// The errno that the host's fopen sets for the same cause as a Windows code; those the host never
// meets (a name Windows forbids, a file another open holds) as the Windows C library maps them.
int errnoFor(const std::error_code& ec) {
    if (ec.category() != system_category()) return ec.value();
    if (isNotFound(ec)) return ENOENT;
    switch (ec.value()) {
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
            return ENOMEM;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DISK_FULL:
            return ENOSPC;
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EACCES;  // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION and the rest
    }
}

// C's mode: 'r', 'w' or 'a', then '+', 'b', 't' and, after 'w', 'x', in any order, each once.
bool modeOf(const char* mode, file_access& access, file_disposition& disposition,
            const char*& cookieMode) {
    if (mode == nullptr) return false;
    const char kind = *mode;
    bool plus = false;
    bool exclusive = false;
    bool typed = false;  // 'b' or 't' seen
    for (const char* at = mode + 1; *at != '\0'; ++at) {
        if (*at == '+' && !plus) {
            plus = true;
        } else if ((*at == 'b' || *at == 't') && !typed) {
            typed = true;
        } else if (*at == 'x' && kind == 'w' && !exclusive) {
            exclusive = true;
        } else {
            return false;
        }
    }
    switch (kind) {
        case 'r':
            access = plus ? file_access::read_write : file_access::read;
            disposition = file_disposition::open_existing;
            cookieMode = plus ? "r+" : "r";
            return true;
        case 'w':
            access = plus ? file_access::read_write : file_access::write;
            disposition =
                exclusive ? file_disposition::create_new : file_disposition::create_always;
            cookieMode = plus ? "w+" : "w";
            return true;
        case 'a':
            access = plus ? file_access::read | file_access::append : file_access::append;
            disposition = file_disposition::open_always;
            cookieMode = plus ? "a+" : "a";
            return true;
        default:
            return false;
    }
}

}  // namespace

std::FILE* fopen(const path& p, const char* mode) {
    file_access access{};
    file_disposition disposition{};
    const char* cookieMode = nullptr;
    if (!modeOf(mode, access, disposition, cookieMode)) {
        errno = EINVAL;
        return nullptr;
    }
    std::error_code ec;
    detail::opened opened;
    caught(ec, [&] { opened = openPath(p, access, disposition, default_share, ec); });
    if (ec) {
        errno = errnoFor(ec);
        return nullptr;
    }
    Cookie* cookie = new (std::nothrow) Cookie{opened.fd, std::move(opened.entry)};
    if (cookie == nullptr) {
        host::closeFile(opened.fd);
        errno = ENOMEM;
        return nullptr;
    }
    const cookie_io_functions_t calls{readCookie, writeCookie, seekCookie, closeCookie};
    std::FILE* stream = ::fopencookie(cookie, cookieMode, calls);
    if (stream == nullptr) {
        const int error = errno;
        closeCookie(cookie);
        errno = error;
    }
    return stream;
}

std::FILE* _wfopen(const path& p, const wchar_t* mode) {
    if (mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    std::string narrow;
    for (const wchar_t* at = mode; *at != L'\0'; ++at) {
        if (*at < 0 || *at > 0x7f) {
            errno = EINVAL;
            return nullptr;
        }
        narrow.push_back(static_cast<char>(*at));
    }
    return fopen(p, narrow.c_str());
}

}  // namespace winfs
