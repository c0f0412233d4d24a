// winfs::file and open_file, of files.h.
#include <cstdint>
#include <ios>
#include <limits>
#include <utility>

#include "files/opening.h"
#include "host/host.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/files.h"

namespace winfs {
namespace {

std::error_code notOpen() {
    return make_error_code(ERROR_INVALID_HANDLE);
}

}  // namespace

file::file(file&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      existed_(other.existed_),
      entry_(std::move(other.entry_)) {}

file& file::operator=(file&& other) noexcept {
    if (this != &other) {
        std::error_code ignored;
        close(ignored);
        fd_ = std::exchange(other.fd_, -1);
        existed_ = other.existed_;
        entry_ = std::move(other.entry_);
    }
    return *this;
}

file::~file() {
    std::error_code ignored;
    close(ignored);
}

std::size_t file::read(void* buffer, std::size_t size) {
    std::error_code ec;
    const std::size_t got = read(buffer, size, ec);
    if (ec) throw filesystem_error("file::read", ec);
    return got;
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, as fstream's do
std::size_t file::read(void* buffer, std::size_t size, std::error_code& ec) {
    ec.clear();
    if (fd_ < 0) {
        ec = notOpen();
        return 0;
    }
    const host::Result<std::size_t> got = host::readSome(fd_, buffer, size);
    if (!got) {
        ec = got.error().windows(host::At::lastName);
        return 0;
    }
    return *got;
}

void file::write(const void* buffer, std::size_t size) {
    std::error_code ec;
    write(buffer, size, ec);
    if (ec) throw filesystem_error("file::write", ec);
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, as fstream's do
void file::write(const void* buffer, std::size_t size, std::error_code& ec) {
    ec.clear();
    if (fd_ < 0) {
        ec = notOpen();
        return;
    }
    if (const host::Error error = host::writeAll(fd_, buffer, size))
        ec = error.windows(host::At::lastName);
}

std::uint64_t file::seek(std::int64_t offset, std::ios_base::seekdir from) {
    std::error_code ec;
    const std::uint64_t at = seek(offset, from, ec);
    if (ec) throw filesystem_error("file::seek", ec);
    return at;
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, as fstream's do
std::uint64_t file::seek(std::int64_t offset, std::ios_base::seekdir from, std::error_code& ec) {
    ec.clear();
    if (fd_ < 0) {
        ec = notOpen();
        return 0;
    }
    const int origin = from == std::ios_base::beg ? 0 : from == std::ios_base::cur ? 1 : 2;
    const host::Result<std::uint64_t> at = host::seekTo(fd_, offset, origin);
    if (!at) {
        // Before the start: ERROR_NEGATIVE_SEEK on Windows, which the parameter covers here.
        ec = at.error().windows(host::At::lastName);
        return 0;
    }
    return *at;
}

std::uint64_t file::size() const {
    std::error_code ec;
    const std::uint64_t bytes = size(ec);
    if (ec) throw filesystem_error("file::size", ec);
    return bytes;
}

std::uint64_t file::size(std::error_code& ec) const {
    ec.clear();
    if (fd_ < 0) {
        ec = notOpen();
        return 0;
    }
    const host::Result<host::Stat> st = host::statOf(fd_);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return 0;
    }
    return st->size;
}

void file::resize(std::uint64_t size) {
    std::error_code ec;
    resize(size, ec);
    if (ec) throw filesystem_error("file::resize", ec);
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, as fstream's do
void file::resize(std::uint64_t size, std::error_code& ec) {
    ec.clear();
    if (fd_ < 0) {
        ec = notOpen();
        return;
    }
    if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);
        return;
    }
    if (const host::Error error = host::resizeTo(fd_, size)) ec = error.windows(host::At::lastName);
}

void file::flush() {
    std::error_code ec;
    flush(ec);
    if (ec) throw filesystem_error("file::flush", ec);
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, as fstream's do
void file::flush(std::error_code& ec) {
    ec.clear();
    if (fd_ < 0) {
        ec = notOpen();
        return;
    }
    if (const host::Error error = host::syncFile(fd_)) ec = error.windows(host::At::lastName);
}

void file::close() {
    std::error_code ec;
    close(ec);
    if (ec) throw filesystem_error("file::close", ec);
}

void file::close(std::error_code& ec) {
    ec.clear();
    if (fd_ < 0) return;
    const host::Error error = host::closeFile(std::exchange(fd_, -1));
    entry_.reset();
    if (error) ec = error.windows(host::At::lastName);
}

file open_file(const path& p, file_access access, file_disposition disposition, file_share share) {
    std::error_code ec;
    file opened = open_file(p, access, disposition, share, ec);
    if (ec) throw filesystem_error("open_file", p, ec);
    return opened;
}

file open_file(const path& p, file_access access, file_disposition disposition,
               std::error_code& ec) {
    return open_file(p, access, disposition, default_share, ec);
}

file open_file(const path& p, file_access access, file_disposition disposition, file_share share,
               std::error_code& ec) {
    ec.clear();
    std::error_code code;
    file opened;
    caught(code, [&] { opened = file(openPath(p, access, disposition, share, code)); });
    if (code) {
        ec = code;
        return {};
    }
    return opened;
}

}  // namespace winfs
