// Internal to winfs, not installed.
// The names of host folders by their case-folded form, so that a name asked for in another case
// than the one on disk, or not there at all, costs one stat of its folder and a hash lookup rather
// than a reading of the whole folder. A folder is read on the first such lookup in it; folders
// whose names are only ever asked for in their on-disk case are never read.
//
// Every answer is one the folder really gave: each lookup first compares the folder's identity
// (device and inode) and its modification and change times with those it had when it was read,
// and reads it again when any differs. A reading that a change crossed (the stamps before and
// after differ) is used for that one lookup and not kept; one that then lacks the name is read
// again, a few times at most, since it may have missed both spellings of a name being renamed.
// Two changes within one tick of the clock that dates them leave the same times, so a folder read
// less than its file system's settling time after its last change may already have changed again
// unseen: such a listing is not kept either. That time is 50 ms on file systems stamped in
// nanoseconds (ext4, xfs, btrfs, tmpfs, ...), whose clock ticks every few milliseconds, and 3 s
// on FAT and exFAT; network and FUSE file systems, dated by another clock, and any other it does
// not know are never kept.
//
// Threading: a NameCache may be used from any number of threads at once. Each listing is immutable
// once read and shared; the index and the order of use are guarded by one mutex, held only to find
// or swap a listing, never while a folder is read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "host/host.h"
#include "pathprobe/winfs/file_status.h"

namespace winfs {

struct NameCacheOptions {
    // The most names held in all folders together, each folder counting as one name at least: an
    // empty folder's listing still takes about 300 bytes, so 250,000 of them take some 75 MB at
    // most. The folders used least recently go first. A folder of 100,000 names takes about 2.2 MB.
    std::size_t maxNames = 250'000;
    // How long a folder must have stayed unchanged for its listing to be kept; unset, its file
    // system's settling time (see above).
    std::optional<std::chrono::nanoseconds> settle;
};

class NameCache {
  public:
    explicit NameCache(NameCacheOptions options = {});
    NameCache(const NameCache&) = delete;
    NameCache& operator=(const NameCache&) = delete;
    ~NameCache();

    // The name in the folder at `folder` that Windows takes as `name`: among names that differ
    // only in case, the one that sorts first byte by byte. A host name that is not UTF-8, or that
    // holds a character Windows forbids in a name ('\' and those of isValidName), is never given.
    // A `name` that no name matches in any case, but that may be a short name ("PROG~FBU"), gives
    // the name that owns it: of the names whose short name it is, the first in NTFS's order (of
    // two equal but for case, the first byte by byte), whatever order the host lists them in, so
    // that a short name names one file of its folder ("PROG~02B" is "Program Files 0313", not
    // "Program Files 1209", which shares it). A kept listing computes its names' short names on
    // the first such lookup, once, some 40 bytes a name more.
    // ERROR_FILE_NOT_FOUND when there is none; a folder that cannot be read gives its own error
    // ("Access is denied." for EACCES), never "not found".
    std::error_code find(host::Place folder, std::string_view name, std::string& found);

    // What a kept listing of the folder at `folder` says of `name`, without reading the folder:
    // unknown when none is kept or the folder changed since; one stat of the folder. When it is
    // present, `spelling` (if given) takes the name on disk as spellingOf() gives it, and `type`
    // (if given, with it) the type that the folder records for that name, unknown where its file
    // system records none.
    enum class Known { absent, present, unknown };
    Known known(host::Place folder, std::string_view name, std::string* spelling = nullptr,
                file_type* type = nullptr);

    // The name on disk that find() would give for `name`, from a kept listing of the folder at
    // `folder`, with one stat of the folder: `name` itself when the folder holds it as spelt, the
    // long name for a short one ("PROG~FBU").
    // Empty when no listing is kept, the folder changed since, it lacks the name in every case, or
    // only a look at `name` as spelt could tell (it has names that differ only in case).
    std::string spellingOf(host::Place folder, std::string_view name);

    struct Usage {
        std::size_t folders = 0;
        std::size_t names = 0;
        std::size_t bytes = 0;          // held by the listings
        std::uint64_t foldersRead = 0;  // since the cache was made
    };
    Usage usage() const;
    void clear();

  private:
    class Listing;
    struct Key {
        std::uint64_t device;
        std::uint64_t inode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept;
    };
    struct Held {
        std::shared_ptr<const Listing> listing;
        std::list<Key>::iterator use;
    };

    using Index = std::unordered_map<Key, Held, KeyHash>;

    // The listing kept for the folder of `stamp`, when its stamp is still the same.
    std::shared_ptr<const Listing> held(const host::FolderStamp& stamp);
    // Reads the folder once: `steady` when no change crossed the reading.
    std::error_code read(host::Place folder, std::string_view name, std::string& found,
                         bool& steady);
    // Keeps a listing, dropping the least recently used ones until the names fit.
    void keep(std::shared_ptr<const Listing> listing);
    // Takes a listing out of the cache; the caller lets it go once the lock is released.
    std::shared_ptr<const Listing> forget(Index::iterator it);

    const NameCacheOptions options_;
    mutable std::mutex mutex_;
    Index folders_;
    std::list<Key> uses_;  // most recent first
    std::size_t names_ = 0;
    std::size_t weight_ = 0;  // names_, with each folder counting as one name at least
    std::size_t bytes_ = 0;
    std::uint64_t foldersRead_ = 0;
};

// The process's cache, which the resolver uses.
NameCache& folderNames();

}  // namespace winfs
