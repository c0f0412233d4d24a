// File streams by Windows paths: winfs::ifstream, ofstream and fstream (and their wide forms) are
// the standard's istream, ostream and iostream over a winfs::basic_filebuf, which is a
// std::basic_filebuf opened by open_file()'s walk rather than by a host path. Their modes are
// Microsoft's: the valid combinations of in, out, trunc, app and binary open as its table maps
// them onto fopen's "r", "w", "a", "r+", "w+" and "a+" (app implies out), any other fails to
// open; ate moves to the end once open; noreplace (std::ios_base::noreplace in C++23, and
// winfs::noreplace here) fails on a file that is there. They share read and write, and not
// delete, as Microsoft's streams do: a file open in one cannot be removed through winfs. Binary or
// not, no byte is translated on this host.
//
// namespace fs = winfs; fs::ofstream report(fs::path("C:\\zor\\out\\report.txt"));
//
// Threading: as the standard's streams: one object belongs to one thread at a time.
#pragma once

#include <ext/stdio_filebuf.h>

#include <cstdio>
#include <ios>
#include <istream>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>

#include "files.h"
#include "path.h"

namespace winfs {

// C++23's std::ios_base::noreplace, which the host's library holds as an extension before it.
inline constexpr std::ios_base::openmode noreplace = std::ios_base::__noreplace;

namespace detail {

// The open behind a stream: `p` opened as Microsoft's library opens a stream in `mode`, sharing
// read and write. ec holds the Windows code of a failure, ERROR_INVALID_PARAMETER for a mode its
// table lacks.
opened open_for_stream(const path& p, std::ios_base::openmode mode, std::error_code& ec);
// Closes a descriptor that no stream took.
void close_descriptor(int fd) noexcept;

}  // namespace detail

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_filebuf : public __gnu_cxx::stdio_filebuf<CharT, Traits> {
    using base = __gnu_cxx::stdio_filebuf<CharT, Traits>;

  public:
    basic_filebuf() = default;
    basic_filebuf(basic_filebuf&& other) noexcept
        : base(std::move(other)), entry_(std::move(other.entry_)) {}
    basic_filebuf& operator=(basic_filebuf&& other) noexcept {
        close();
        base::operator=(std::move(other));
        entry_ = std::move(other.entry_);
        return *this;
    }
    ~basic_filebuf() override { close(); }

    void swap(basic_filebuf& other) {
        base::swap(other);
        std::swap(entry_, other.entry_);
    }

    // Opens the file `p` names in `mode`; null when it cannot, with the reason in last_error().
    basic_filebuf* open(const path& p, std::ios_base::openmode mode) {
        if (this->is_open()) {
            error_ = std::make_error_code(std::errc::device_or_resource_busy);
            return nullptr;
        }
        error_.clear();
        detail::opened opened = detail::open_for_stream(p, mode, error_);
        if (error_) return nullptr;
        std::ios_base::openmode kept = mode & ~(std::ios_base::ate | noreplace);
        if ((kept & std::ios_base::app) != 0) kept |= std::ios_base::out;
        base::operator=(base(opened.fd, kept, BUFSIZ));
        if (!this->is_open()) {
            detail::close_descriptor(opened.fd);
            error_ = std::make_error_code(std::errc::invalid_argument);
            return nullptr;
        }
        entry_ = std::move(opened.entry);
        if ((mode & std::ios_base::ate) != 0 &&
            this->pubseekoff(0, std::ios_base::end, mode) ==
                typename Traits::pos_type(typename Traits::off_type(-1))) {
            close();
            error_ = std::make_error_code(std::errc::invalid_seek);
            return nullptr;
        }
        return this;
    }
    basic_filebuf* close() {
        basic_filebuf* closed = base::close() != nullptr ? this : nullptr;
        entry_.reset();
        return closed;
    }
    // Why the last open() failed: a Windows code in winfs::system_category().
    const std::error_code& last_error() const noexcept { return error_; }

  private:
    detail::open_entry entry_;
    std::error_code error_;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_ifstream : public std::basic_istream<CharT, Traits> {
    using stream = std::basic_istream<CharT, Traits>;

  public:
    basic_ifstream() : stream(nullptr) { this->init(&buf_); }
    explicit basic_ifstream(const path& p, std::ios_base::openmode mode = std::ios_base::in)
        : basic_ifstream() {
        open(p, mode);
    }
    basic_ifstream(basic_ifstream&& other) : stream(std::move(other)), buf_(std::move(other.buf_)) {
        stream::set_rdbuf(&buf_);
    }
    basic_ifstream& operator=(basic_ifstream&& other) {
        stream::operator=(std::move(other));
        buf_ = std::move(other.buf_);
        return *this;
    }
    void swap(basic_ifstream& other) {
        stream::swap(other);
        buf_.swap(other.buf_);
    }

    basic_filebuf<CharT, Traits>* rdbuf() const {
        return const_cast<basic_filebuf<CharT, Traits>*>(&buf_);
    }
    bool is_open() const { return buf_.is_open(); }
    void open(const path& p, std::ios_base::openmode mode = std::ios_base::in) {
        if (buf_.open(p, mode | std::ios_base::in) == nullptr) {
            this->setstate(std::ios_base::failbit);
        } else {
            this->clear();
        }
    }
    void close() {
        if (buf_.close() == nullptr) this->setstate(std::ios_base::failbit);
    }

  private:
    basic_filebuf<CharT, Traits> buf_;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_ofstream : public std::basic_ostream<CharT, Traits> {
    using stream = std::basic_ostream<CharT, Traits>;

  public:
    basic_ofstream() : stream(nullptr) { this->init(&buf_); }
    explicit basic_ofstream(const path& p, std::ios_base::openmode mode = std::ios_base::out)
        : basic_ofstream() {
        open(p, mode);
    }
    basic_ofstream(basic_ofstream&& other) : stream(std::move(other)), buf_(std::move(other.buf_)) {
        stream::set_rdbuf(&buf_);
    }
    basic_ofstream& operator=(basic_ofstream&& other) {
        stream::operator=(std::move(other));
        buf_ = std::move(other.buf_);
        return *this;
    }
    void swap(basic_ofstream& other) {
        stream::swap(other);
        buf_.swap(other.buf_);
    }

    basic_filebuf<CharT, Traits>* rdbuf() const {
        return const_cast<basic_filebuf<CharT, Traits>*>(&buf_);
    }
    bool is_open() const { return buf_.is_open(); }
    void open(const path& p, std::ios_base::openmode mode = std::ios_base::out) {
        if (buf_.open(p, mode | std::ios_base::out) == nullptr) {
            this->setstate(std::ios_base::failbit);
        } else {
            this->clear();
        }
    }
    void close() {
        if (buf_.close() == nullptr) this->setstate(std::ios_base::failbit);
    }

  private:
    basic_filebuf<CharT, Traits> buf_;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_fstream : public std::basic_iostream<CharT, Traits> {
    using stream = std::basic_iostream<CharT, Traits>;

  public:
    basic_fstream() : stream(nullptr) { this->init(&buf_); }
    explicit basic_fstream(const path& p,
                           std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out)
        : basic_fstream() {
        open(p, mode);
    }
    basic_fstream(basic_fstream&& other) : stream(std::move(other)), buf_(std::move(other.buf_)) {
        stream::set_rdbuf(&buf_);
    }
    basic_fstream& operator=(basic_fstream&& other) {
        stream::operator=(std::move(other));
        buf_ = std::move(other.buf_);
        return *this;
    }
    void swap(basic_fstream& other) {
        stream::swap(other);
        buf_.swap(other.buf_);
    }

    basic_filebuf<CharT, Traits>* rdbuf() const {
        return const_cast<basic_filebuf<CharT, Traits>*>(&buf_);
    }
    bool is_open() const { return buf_.is_open(); }
    void open(const path& p,
              std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out) {
        if (buf_.open(p, mode) == nullptr) {
            this->setstate(std::ios_base::failbit);
        } else {
            this->clear();
        }
    }
    void close() {
        if (buf_.close() == nullptr) this->setstate(std::ios_base::failbit);
    }

  private:
    basic_filebuf<CharT, Traits> buf_;
};

template <class CharT, class Traits>
void swap(basic_filebuf<CharT, Traits>& a, basic_filebuf<CharT, Traits>& b) {
    a.swap(b);
}
template <class CharT, class Traits>
void swap(basic_ifstream<CharT, Traits>& a, basic_ifstream<CharT, Traits>& b) {
    a.swap(b);
}
template <class CharT, class Traits>
void swap(basic_ofstream<CharT, Traits>& a, basic_ofstream<CharT, Traits>& b) {
    a.swap(b);
}
template <class CharT, class Traits>
void swap(basic_fstream<CharT, Traits>& a, basic_fstream<CharT, Traits>& b) {
    a.swap(b);
}

using filebuf = basic_filebuf<char>;
using ifstream = basic_ifstream<char>;
using ofstream = basic_ofstream<char>;
using fstream = basic_fstream<char>;
using wfilebuf = basic_filebuf<wchar_t>;
using wifstream = basic_ifstream<wchar_t>;
using wofstream = basic_ofstream<wchar_t>;
using wfstream = basic_fstream<wchar_t>;

}  // namespace winfs
