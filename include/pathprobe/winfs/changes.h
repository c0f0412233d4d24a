// The operations that change the disk, with Windows behaviour: no name is made beside one that
// differs from it only in case, a name with a character Windows forbids fails with
// ERROR_INVALID_NAME, and one that the host cannot hold with ERROR_FILENAME_EXCED_RANGE. Both
// forms of each, as in operations.h.
//
// Threading: as operations.h: safe from any number of threads while others change the disk.
#pragma once

#include <cstdint>
#include <system_error>

#include "file_status.h"
#include "file_time.h"
#include "path.h"

namespace winfs {

enum class copy_options : unsigned {
    none = 0,
    skip_existing = 1,
    overwrite_existing = 2,
    update_existing = 4,
    recursive = 8,
    copy_symlinks = 16,
    skip_symlinks = 32,
    directories_only = 64,
    create_symlinks = 128,
    create_hard_links = 256,
};
template <>
inline constexpr bool isBitmask<copy_options> = true;

// As the standard's copy(). A folder with `recursive` (or no option) makes the destination folder
// and copies into it what is in the source. Nothing to copy (a link with skip_symlinks, a file
// with directories_only) is no error. A source that is neither a file, a folder nor a link fails
// with ERROR_NOT_SUPPORTED, as does create_symlinks on a folder; a folder onto a file with
// ERROR_ALREADY_EXISTS; a path onto itself with ERROR_FILE_EXISTS.
void copy(const path& from, const path& to);
void copy(const path& from, const path& to, std::error_code& ec);
void copy(const path& from, const path& to, copy_options options);
void copy(const path& from, const path& to, copy_options options, std::error_code& ec);

// As CopyFileW: the data, the read-only attribute and the last write time. Onto a file that is
// there, without an option, ERROR_FILE_EXISTS; skip_existing gives false; update_existing copies
// only a newer source. A folder on either side fails with ERROR_ACCESS_DENIED; a file onto itself
// with overwrite_existing with ERROR_SHARING_VIOLATION; two options of one group with
// ERROR_INVALID_PARAMETER. True when it copied.
bool copy_file(const path& from, const path& to);
bool copy_file(const path& from, const path& to, std::error_code& ec);
bool copy_file(const path& from, const path& to, copy_options options);
bool copy_file(const path& from, const path& to, copy_options options, std::error_code& ec);

// A new link `to` with the target of the link `from`, as stored.
void copy_symlink(const path& from, const path& to);
void copy_symlink(const path& from, const path& to, std::error_code& ec);

// Creates `p` and any missing folders above it: true when it created the last one, false when that
// was already a folder, made by someone else in the meantime included. Every name is checked before
// anything is created. A file in the way fails with ERROR_ALREADY_EXISTS; a name longer than 255
// UTF-16 units with ERROR_FILENAME_EXCED_RANGE, as on NTFS; a name with a character that Windows
// forbids (< > : " | ? * or a control character) with ERROR_INVALID_NAME.
bool create_directories(const path& p);
bool create_directories(const path& p, std::error_code& ec);

// True when it made the folder; false when a folder of that name, in any case, is there. A file in
// the way fails with ERROR_ALREADY_EXISTS, a missing folder above with ERROR_PATH_NOT_FOUND. The
// form with `existing` gives the new folder that folder's permissions, as CreateDirectoryExW.
bool create_directory(const path& p);
bool create_directory(const path& p, std::error_code& ec);
bool create_directory(const path& p, const path& existing);
bool create_directory(const path& p, const path& existing, std::error_code& ec);

// A host symbolic link: an absolute Windows target is stored as its host path, a relative one with
// '/'. The target need not exist.
void create_symlink(const path& target, const path& link);
void create_symlink(const path& target, const path& link, std::error_code& ec);
void create_directory_symlink(const path& target, const path& link);
void create_directory_symlink(const path& target, const path& link, std::error_code& ec);

// A second name for the file `target` (a link itself, not followed); a folder fails with
// ERROR_ACCESS_DENIED, another drive with ERROR_NOT_SAME_DEVICE.
void create_hard_link(const path& target, const path& link);
void create_hard_link(const path& target, const path& link, std::error_code& ec);

// Sets the last write time, links followed.
void last_write_time(const path& p, file_time_type time);
void last_write_time(const path& p, file_time_type time, std::error_code& ec);

// The read-only attribute: replacing with no write bit, or removing any write bit, sets it; adding
// any write bit or replacing with one clears it. On the host it is the file's write bits: all of
// them cleared, or the owner's set again. A folder's attribute changes nothing that Windows
// enforces and is left alone; a link itself (nofollow) has no host bits to set and fails with
// ERROR_NOT_SUPPORTED. Not exactly one of replace, add and remove fails with
// ERROR_INVALID_PARAMETER.
void permissions(const path& p, perms prms, perm_options opts = perm_options::replace);
void permissions(const path& p, perms prms, std::error_code& ec);
void permissions(const path& p, perms prms, perm_options opts, std::error_code& ec);

// Removes a file, a link (not what it names) or an empty folder: false, without error, when
// nothing is there. A folder that holds anything fails with ERROR_DIR_NOT_EMPTY.
bool remove(const path& p);
bool remove(const path& p, std::error_code& ec);

// Removes `p` and, for a folder, all it holds, never following a link: the number of entries
// removed, 0 when nothing is there. A drive's root is refused with ERROR_ACCESS_DENIED.
std::uintmax_t remove_all(const path& p);
std::uintmax_t remove_all(const path& p, std::error_code& ec);

// As MoveFileExW with MOVEFILE_REPLACE_EXISTING: a file replaces a file (or a link) of the new
// name in any case, and the name takes the case given; a folder is in the way of anything, and
// anything of a folder (ERROR_ACCESS_DENIED). A change of case alone renames on disk. Another
// drive fails with ERROR_NOT_SAME_DEVICE.
void rename(const path& from, const path& to);
void rename(const path& from, const path& to, std::error_code& ec);

// Cuts or extends a file, links followed; a folder fails with ERROR_ACCESS_DENIED.
void resize_file(const path& p, std::uintmax_t size);
void resize_file(const path& p, std::uintmax_t size, std::error_code& ec);

}  // namespace winfs
