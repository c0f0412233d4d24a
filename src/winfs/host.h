// The host's system calls, each with its errors as values (0 or an errno value), and the one table
// that turns an errno value into the Windows code that winfs reports. Nothing else in winfs calls
// the host directly.
//
// Threading: every function is safe to call concurrently; a Handle belongs to one owner.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "winfs/file_status.h"

namespace winfs::host {

// Where an error was met: on the last name of a path (ENOENT is "file not found") or on a folder
// on the way to it (ENOENT is "path not found").
enum class At { lastName, folderOnTheWay };

// The Windows code for an errno value, in winfs::system_category(); an errno value with no Windows
// counterpart keeps its own meaning, in std::generic_category().
std::error_code windowsError(int error, At where);

// A descriptor opened with O_PATH, closed when the Handle goes.
class Handle {
  public:
    Handle() noexcept = default;
    explicit Handle(int fd) noexcept : fd_(fd) {}
    Handle(Handle&& other) noexcept : fd_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle();

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// A folder to start lookups from: a handle on it and names below it ("a/b"), or, without a handle,
// an absolute host path in `below`.
struct Place {
    int folder = -1;
    const char* below = "";
};

// A folder reached from a handle by names below it. Names are added one by one; once they grow
// long, a handle on the folder reached so far takes their place, so that no system call sees a
// path longer than the host takes, however deep the folder lies. Copies share the handles.
class Cursor {
  public:
    Cursor() = default;
    // At `folder` (not owned; -1 for none: then every call takes the whole host path), whose host
    // path is `host`.
    Cursor(int folder, std::string host);

    // The folder itself, and a name in it; `scratch` holds the text.
    Place place() const;
    Place placeOf(std::string_view name, std::string& scratch) const;
    // Moves to the name in this folder: 0, or the errno value of opening a handle on the way.
    int descend(std::string_view name);
    // Back to the first `depth` names.
    void truncate(std::size_t depth);
    std::size_t depth() const noexcept { return marks_.size(); }
    // The whole host path: for reading and for messages, not for system calls.
    const std::string& host() const noexcept { return host_; }

  private:
    struct Anchor {
        std::shared_ptr<const Handle> owned;  // empty for the folder the cursor started at
        int fd;
        std::size_t at;     // where the names below it start in host_
        std::size_t depth;  // how many names were added when it was opened
    };
    Place placeIn(const std::string& full) const;

    std::vector<Anchor> anchors_;
    std::string host_;
    std::vector<std::size_t> marks_;  // host_'s size before each name
};

// What one name is, without following it: a link with its target, or another type.
struct Entry {
    file_type type = file_type::unknown;
    std::string target;  // a link's target as stored; empty for anything else
};

// One look at `place`: readlink tells a link (and gives its target) from anything else, whose type
// is asked only when `wantType`. A name that changes kind between the two calls is looked at again,
// so the entry is always one state the name had.
int lookAt(Place place, bool wantType, Entry& entry);

// The type of what `place` names, links followed (stat) or not (lstat).
int typeAt(Place place, bool follow, file_type& type);

Handle openFolder(const std::string& host);
// The host path with every link and "." and ".." resolved, as the host resolves it.
int realPath(const std::string& host, std::string& resolved);
// The home folder of the account the process runs as, from the account database.
std::optional<std::string> homeFolder();
int readLink(const std::string& link, std::string& target);
int workingDirectory(std::string& host);
int changeDirectory(Place place);
int makeFolder(Place place);
// Every missing folder of an absolute host path, as mkdir -p does.
int makeFolders(const std::string& host);
int makeLink(const std::string& target, Place place);

// Which folder a folder is, and when it last changed (nanoseconds since 1970): a listing of it
// holds for as long as its stamp stays the same, since adding, removing or renaming a name in it
// sets its change time.
struct FolderStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    bool operator==(const FolderStamp&) const = default;
};

// The stamp of the folder at `place`, links followed.
int stampOf(Place place, FolderStamp& stamp);

// Calls `each` with every name in the folder at `place` but "." and "..", after taking its stamp
// from the same open folder. `hostClock` tells whether its file system dates changes by this host's
// own clock (a local one); a network or FUSE file system dates them by another machine's or
// process's.
int listFolder(Place place, FolderStamp& stamp, bool& hostClock,
               const std::function<void(std::string_view)>& each);

// What openLinkFree does with a last name that is a link: refuse it (ELOOP), or open the link
// itself.
enum class LastLink { refuse, open };

// Opens (O_PATH) what `place` names in one call, only if no name on the way is a link: ELOOP when
// one is, ENOENT when a name is missing, ENOSYS on a host without openat2 (asked once).
int openLinkFree(Place place, LastLink last, Handle& handle);

// The type of what a handle names, and the target of a link opened as itself.
int typeOf(const Handle& handle, file_type& type);
int readLinkOf(const Handle& handle, std::string& target);

}  // namespace winfs::host
