// Internal to winfs, not installed.
// What the two directory iterators share: one folder's names read whole and put in NTFS's index
// order, the folder that a path given names, and the Windows code of a failed reading. Internal
// to winfs.
//
// Threading: a Listing belongs to the iterators that share it, one thread at a time; the free
// functions are safe from any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "host/host.h"
#include "operations/lookup.h"
#include "operations/status.h"
#include "pathprobe/winfs/directory.h"
#include "pathprobe/winfs/file_status.h"
#include "pathprobe/winfs/path.h"

namespace winfs::detail {

// A folder's names in one block, each once, and for each where it lies and the type that the
// folder records for it, in NTFS's index order. Names that are equal ignoring case, which NTFS
// cannot hold side by side and the host can, come in the order of their bytes ("Mixed" before
// "mIXED"). Names that Windows cannot write are left out.
class Names {
  public:
    // Reads the folder at `place`, opened with no link followed on the way or as the folder.
    host::Error read(host::Place place, host::FolderStamp& stamp);
    // Reads the open folder `folder`.
    host::Error read(const host::Handle& folder, host::FolderStamp& stamp);

    std::size_t size() const noexcept { return slots_.size(); }
    std::string_view name(std::size_t k) const noexcept {
        return {block_.data() + slots_[k].at, slots_[k].size};
    }
    file_type type(std::size_t k) const noexcept { return slots_[k].type; }

  private:
    struct Slot {
        std::uint32_t at;
        std::uint8_t size;  // a host name takes 255 bytes at most
        file_type type;
    };
    // Empties the block, and takes each name that a reading gives into it.
    std::function<void(std::string_view, file_type)> collector(bool& tooMany);
    // Puts the names read in order, once the reading is done.
    host::Error settle(host::Error error, bool tooMany, const host::Listed& listed,
                       host::FolderStamp& stamp);

    std::string block_;
    std::vector<Slot> slots_;
};

// A folder that a listing holds open: its entries read their names in it while it is held.
struct ListedFolder {
    host::Handle handle;
};

// A folder being listed: its names, the next one to give, and the entry given last, whose path is
// the folder's path as given joined with the name in its case on disk.
struct Listing {
    Names names;
    path prefix;  // what every entry's path begins with: "c:\zor\" for "c:\zor", "c:" for "c:"
    std::size_t next = 0;
    directory_entry entry;
    std::shared_ptr<const ListedFolder> opened;

    explicit Listing(const path& folder);
    // Holds the folder read for as long as the listing lives, for its entries.
    void hold(host::Handle handle);
    // Makes the entry the next name's; false when none is left.
    bool advance();
};

// The folder that a listing of `p` reads, links followed: a missing one, or one below a missing
// one, is ERROR_PATH_NOT_FOUND (as FindFirstFileW gives for "p\*"); the empty path, and one
// holding a null character, ERROR_FILE_NOT_FOUND, as Microsoft's library has them; a file
// ERROR_DIRECTORY; a device ERROR_NOT_SUPPORTED.
Found folderToList(const path& p, std::error_code& ec);

// The Windows code of a failed reading of a folder: ERROR_DIRECTORY for what is no folder (by now),
// none for a folder that may not be read when `options` skip those.
std::error_code readingError(host::Error error, directory_options options);

}  // namespace winfs::detail
