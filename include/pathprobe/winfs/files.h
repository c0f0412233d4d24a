// Files opened by their Windows paths, as CreateFileW opens them: a winfs::file handle from
// open_file(), and C's FILE* from winfs::fopen(). The file streams are in fstream.h. Each open
// walks the path as every winfs operation does (any case, links with their Windows meaning, short
// names, devices) and opens the last name in the folder the walk holds, with no link followed; it
// answers with Windows's codes: ERROR_FILE_NOT_FOUND (2), ERROR_PATH_NOT_FOUND (3), a folder or a
// file with the read-only attribute opened for writing ERROR_ACCESS_DENIED (5), create_new on a
// file that is there ERROR_FILE_EXISTS (80), a name Windows forbids ERROR_INVALID_NAME (123).
//
// Sharing: the process keeps one table of the files winfs holds open, with what each open may do
// and what it lets later opens do, and every winfs call that opens, removes, renames or replaces a
// file asks it first, as Windows does: a file open without file_share::delete_ cannot be removed
// (ERROR_SHARING_VIOLATION, 32) or replaced by a rename (ERROR_ACCESS_DENIED, 5); an open that
// asks for what an earlier one does not share, or does not share what an earlier one does, fails
// with 32. Opens by other processes, and by anything but winfs, are not in it.
//
// Threading: every function is safe to call from any number of threads; a file belongs to one
// owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ios>
#include <system_error>
#include <utility>

#include "file_status.h"
#include "path.h"

namespace winfs {

// What an open may do with the file's data, as CreateFileW's access: read it, write it, or append
// to it (every write lands at the end, FILE_APPEND_DATA); read with write or append for both.
enum class file_access : unsigned {
    read = 1,
    write = 2,
    read_write = 3,
    append = 4,
};
template <>
inline constexpr bool isBitmask<file_access> = true;

// What CreateFileW does when the file is there, and when it is not: fail (create_new,
// open_existing, truncate_existing), open it, cut it to nothing, or make it.
enum class file_disposition {
    create_new,         // there: ERROR_FILE_EXISTS; else made
    create_always,      // there: cut to nothing; else made
    open_existing,      // there: opened; else ERROR_FILE_NOT_FOUND
    open_always,        // there: opened; else made
    truncate_existing,  // there: cut to nothing, with write access; else ERROR_FILE_NOT_FOUND
};

// What later opens of the file may do while this one is open: FILE_SHARE_READ, FILE_SHARE_WRITE
// and FILE_SHARE_DELETE (remove and rename). Microsoft's streams and fopen share read and write.
enum class file_share : unsigned {
    none = 0,
    read = 1,
    write = 2,
    delete_ = 4,
};
template <>
inline constexpr bool isBitmask<file_share> = true;
inline constexpr file_share default_share = file_share::read | file_share::write;

namespace detail {

// An open's place in the process's table of open files, given up when it goes.
class open_entry {
  public:
    open_entry() noexcept = default;
    explicit open_entry(std::uint64_t id) noexcept : id_(id) {}
    open_entry(open_entry&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    open_entry& operator=(open_entry&& other) noexcept {
        if (this != &other) {
            reset();
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    open_entry(const open_entry&) = delete;
    open_entry& operator=(const open_entry&) = delete;
    ~open_entry() { reset(); }
    void reset() noexcept;

  private:
    std::uint64_t id_ = 0;
};

// What an open gives a file, a stream or a FILE*: the host descriptor, whether the file was there
// before, and the open's entry.
struct opened {
    int fd = -1;
    bool existed = false;
    open_entry entry;
};

}  // namespace detail

// An open file: its host descriptor and its place in the table of open files, both given up by
// close() or when it goes. Move-only. Each operation has a throwing form (filesystem_error naming
// the operation) and one that reports through an error_code.
class file {
  public:
    file() noexcept = default;
    explicit file(detail::opened opened) noexcept
        : fd_(opened.fd), existed_(opened.existed), entry_(std::move(opened.entry)) {}
    file(file&& other) noexcept;
    file& operator=(file&& other) noexcept;
    file(const file&) = delete;
    file& operator=(const file&) = delete;
    ~file();

    bool is_open() const noexcept { return fd_ >= 0; }
    // The host descriptor, for calls that winfs does not make; -1 when closed.
    int native_handle() const noexcept { return fd_; }
    // Whether the file was there before open_file made or opened it: what GetLastError() tells
    // as ERROR_ALREADY_EXISTS (183) after CREATE_ALWAYS or OPEN_ALWAYS succeeds.
    bool existed() const noexcept { return existed_; }

    // Reads at most `size` bytes at the position: how many, 0 at the end of the file.
    std::size_t read(void* buffer, std::size_t size);
    std::size_t read(void* buffer, std::size_t size, std::error_code& ec);
    // Writes all `size` bytes at the position (at the end with file_access::append).
    void write(const void* buffer, std::size_t size);
    void write(const void* buffer, std::size_t size, std::error_code& ec);
    // Moves the position `offset` bytes from the start, the position or the end: the new one.
    std::uint64_t seek(std::int64_t offset, std::ios_base::seekdir from = std::ios_base::beg);
    std::uint64_t seek(std::int64_t offset, std::ios_base::seekdir from, std::error_code& ec);
    // The size in bytes; resize() cuts or extends the file to `size`.
    std::uint64_t size() const;
    std::uint64_t size(std::error_code& ec) const;
    void resize(std::uint64_t size);
    void resize(std::uint64_t size, std::error_code& ec);
    // Writes what the host holds of the file to the disk, as FlushFileBuffers.
    void flush();
    void flush(std::error_code& ec);
    void close();
    void close(std::error_code& ec);

  private:
    int fd_ = -1;
    bool existed_ = false;
    detail::open_entry entry_;
};

// Opens or makes the file `p` names, as CreateFileW with `access`, `disposition` and `share`. A
// name in any case opens the file there; a new file takes the name as written, and none is made
// beside a name that differs from it only in case. truncate_existing without write access is
// ERROR_INVALID_PARAMETER. NUL opens a sink (writes vanish, reads end at once); CONIN$ is the
// process's standard input, CONOUT$ its standard output, CON either as `access` says.
file open_file(const path& p, file_access access, file_disposition disposition,
               file_share share = default_share);
file open_file(const path& p, file_access access, file_disposition disposition,
               std::error_code& ec);
file open_file(const path& p, file_access access, file_disposition disposition, file_share share,
               std::error_code& ec);

// C's fopen by a Windows path: "r", "w", "a", "r+", "w+", "a+", each with "b" or "t" (no text is
// translated on this host) and "w" with C11's "x" (create_new), sharing read and write as
// Microsoft's fopen does; fclose() closes it. Null on failure with errno as the host's fopen sets
// it for the same cause (ENOENT, EACCES, EEXIST, EISDIR, EINVAL for a mode it does not take), and
// open_file gives the Windows code of the same failure. The stream has no descriptor of its own:
// fileno() gives -1; take open_file for one.
std::FILE* fopen(const path& p, const char* mode);
// The same with the mode in wide characters, as Windows's _wfopen takes it.
std::FILE* _wfopen(const path& p, const wchar_t* mode);

// Whether the table of open files is asked (the default): set_sharing(false), or WINFS_SHARING=0
// (or false, no, off) in the environment, lets every open, remove and rename go on as the host
// lets it, for code that relies on that. Opens made while it was off are never in the table.
void set_sharing(bool enforced) noexcept;
bool sharing() noexcept;

}  // namespace winfs
