// Internal to winfs, not installed.
// The host's system calls, each returning its error as a typed value (an Error, or a Result that
// holds a value or an Error), and the one table that turns a host error into the Windows code that
// winfs reports. Nothing else in winfs calls the host or reads errno: code above asks an Error what
// it means by name (missing(), notAFolder(), ...) and for its Windows code.
//
// A call that reads, changes or lists the disk acts on a folder descriptor that the walk opened
// and vouched for, and on one last name in it with no link followed (unlinkat, renameat2, linkat
// without AT_SYMLINK_FOLLOW, AT_SYMLINK_NOFOLLOW, O_NOFOLLOW): a folder opened as several names
// below a handle is opened with openBeneath or openLinkFree, never through a link the host would
// follow. A Cursor holds the walk's folders so.
//
// Threading: every function is safe to call concurrently; a Handle and a Cursor belong to one
// owner (copies of a Cursor may go to other threads).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "host/place.h"
#include "pathprobe/winfs/file_status.h"

namespace winfs::host {

// Where an error was met: on the last name of a path (ENOENT is "file not found") or on a folder
// on the way to it (ENOENT is "path not found").
enum class At { lastName, folderOnTheWay };

// The Windows code for an errno value, in winfs::system_category(); an errno value with no Windows
// counterpart keeps its own meaning, in std::generic_category().
std::error_code windowsError(int error, At where);

// What a system call said when it failed; empty when it did not.
class Error {
  public:
    constexpr Error() noexcept = default;
    explicit constexpr Error(int errnoValue) noexcept : value_(errnoValue) {}
    // The calling thread's errno, as the last call left it.
    static Error last() noexcept;
    // A file that another open holds in a way that keeps this call from it (ETXTBSY, the host's
    // nearest): ERROR_SHARING_VIOLATION.
    static Error inUse() noexcept;

    explicit operator bool() const noexcept { return value_ != 0; }
    bool missing() const noexcept;       // no such name
    bool denied() const noexcept;        // no permission to search or read
    bool notAFolder() const noexcept;    // a name on the way is no folder
    bool alreadyThere() const noexcept;  // the name exists
    bool loop() const noexcept;          // too many links, or a link where none may be
    bool unsupported() const noexcept;   // the host lacks the call
    bool notALink() const noexcept;      // readlink of something else
    bool scarce() const noexcept;        // no descriptor or memory free: it may work later
    bool notEmpty() const noexcept;      // a folder to remove still holds names
    bool aFolder() const noexcept;       // a folder where a file was wanted
    bool crossDevice() const noexcept;   // a move or link to another file system
    // The Windows code that winfs reports for it.
    std::error_code windows(At where) const { return windowsError(value_, where); }

  private:
    int value_ = 0;
};

// A value, or the Error that kept the call from giving one.
template <class T>
class Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(error) {}

    explicit operator bool() const noexcept { return !error_; }
    Error error() const noexcept { return error_; }
    T& operator*() noexcept { return value_; }
    const T& operator*() const noexcept { return value_; }
    T* operator->() noexcept { return &value_; }
    const T* operator->() const noexcept { return &value_; }

  private:
    T value_{};
    Error error_;
};

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

// What fstatat tells of one name: its type, its permission bits (the low 12 of st_mode), its size
// in bytes, its hard links, which file it is, and when its data last changed.
struct Stat {
    file_type type = file_type::unknown;
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    std::uint64_t links = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    Time modified;
};

// Whether two Stats are of one file: the same device and inode, whatever names led to them.
inline bool sameFile(const Stat& one, const Stat& two) noexcept {
    return one.device == two.device && one.inode == two.inode;
}

// A folder reached from a drive's handle by names below it, each of them a folder that the walk
// found to be no link. Names are added by their text alone; a folder is held (opened) only when a
// call needs it: the one the cursor stands at, and a few above it, each opened from the one held
// before it with no link followed on the way or at the end (openat2 with RESOLVE_NO_SYMLINKS and
// RESOLVE_BENEATH, or one O_NOFOLLOW open a name). So a call acts on one name in a held folder,
// or opens names below one with no link followed, and no system call takes a path that the host
// resolves again on its own terms: a folder on the way that became a link or a file since the walk
// looked at it fails with notAFolder(), at any depth, and nothing is reached through it.
// Copies share the folders held so far.
class Cursor {
  public:
    Cursor() = default;
    // At `root` (not owned), whose host path is `host`.
    Cursor(int root, std::string host);

    // Moves to the name, a folder, in this one; makes no call.
    void descend(std::string_view name);
    // Back to the first `depth` names.
    void truncate(std::size_t depth);
    std::size_t depth() const noexcept { return marks_.size(); }
    // The whole host path: for reading and for messages, not for system calls.
    const std::string& host() const noexcept { return host_; }

    // The folder it stands at, held: its handle and no name.
    Result<Place> here();
    // A name in the folder it stands at; `scratch` holds the text.
    Result<Place> in(std::string_view name, std::string& scratch);
    // Names below the folder it stands at ("a/b"), from the deepest folder held on the way, for a
    // call that opens them with no link followed (openLinkFree, openFolderBeneath) and so vouches
    // for every folder between; `scratch` holds the text.
    Result<Place> beneath(std::string_view names, std::string& scratch);
    // What it stands at, as its name in the folder above it, held; at the root, the root as ".".
    Result<Place> entry();
    // What it stands at, for a call that reads it: the folder itself where it is held (no name),
    // else as entry() gives it.
    Result<Place> itself();
    // Takes `folder`, opened with no link followed from a folder this cursor held, as the folder
    // it stands at.
    void hold(Handle folder);

  private:
    struct Anchor {
        std::shared_ptr<const Handle> owned;  // empty for the root
        int fd;
        std::size_t depth;  // how many names lead to it
    };
    std::size_t startOf(std::size_t name) const noexcept;
    std::size_t endOf(std::size_t depth) const noexcept;
    // The deepest held folder at most `depth` names down.
    const Anchor& heldAbove(std::size_t depth) const noexcept;
    // Holds the folder `depth` names down.
    Result<int> open(std::size_t depth);
    void add(Anchor anchor);

    std::vector<Anchor> anchors_;  // by depth, the root first
    std::string host_;
    std::vector<std::size_t> marks_;  // host_'s size before each name
};

// What one name is, without following it: a link with its target, or another type, and, when its
// type was asked, what fstatat told of it.
struct Entry {
    file_type type = file_type::unknown;
    std::string target;  // a link's target as stored; empty for anything else
    std::optional<Stat> stat;
};

// One look at `place`: readlink tells a link (and gives its target) from anything else, whose type
// (and the rest of what fstatat tells) is asked only when `wantType`. A name that changes kind
// between the two calls is looked at again, so the entry is always one state the name had.
// `entry` keeps its buffer from call to call.
Error lookAt(Place place, bool wantType, Entry& entry);

// The type of what `place` names, links followed (stat) or not (lstat).
Result<file_type> typeAt(Place place, bool follow);
// Whether what `place` names, links followed, is a folder.
bool isFolderAt(Place place);

Result<Handle> openFolder(const std::string& host);
// The host path with every link and "." and ".." resolved, as the host resolves it.
Result<std::string> realPath(const std::string& host);
// The name this host goes by on the network (gethostname); empty when it has none.
std::string hostName();
// The home folder of the account the process runs as, from the account database.
std::optional<std::string> homeFolder();
Result<std::string> readLink(const std::string& link);
Result<std::string> workingDirectory();
Error changeDirectory(Place place);
Error makeFolder(Place place);
// Every missing folder of an absolute host path, as mkdir -p does.
Error makeFolders(const std::string& host);
Error makeLink(const std::string& target, Place place);

// What `place` names, links followed (stat) or not (lstat).
Result<Stat> statAt(Place place, bool follow);
// Whether the two names, links not followed, are one file; false when either cannot be told.
bool sameFile(Place one, Place two);

// unlink of a name that is no folder (aFolder() for a folder), and rmdir of an empty folder
// (notEmpty() for one that is not).
Error removeName(Place place);
Error removeFolder(Place place);

// Whether a move may replace what is at its destination.
enum class Replacing { allowed, refused };

// rename, or renameat2 with RENAME_NOREPLACE (alreadyThere() when the destination exists).
Error moveName(Place from, Place to, Replacing replacing);

// renameat2 with RENAME_EXCHANGE: each name then holds what the other held.
Error exchangeNames(Place one, Place two);

// A new hard link `link` to `target` itself, a link not followed.
Error makeHardLink(Place target, Place link);

// The three changes below act on the name itself, a link not followed: a link there now stands
// where the walk saw none, and fails with loop(), changing nothing.
// Sets the data's last change time; the access time stays. A time the file system cannot hold is
// EINVAL and the file keeps the time it had: the host refuses some, and stores others as the
// nearest it holds (ext4 holds 1901 to 2446). A time cut to the file system's granularity (FAT's
// two seconds) is held. `modified.nanoseconds` is below 1e9.
Error setModified(Place place, Time modified);
// Sets the permission bits.
Error setMode(Place place, std::uint32_t mode);
// Cuts or extends the file to `size` bytes; a FIFO with no reader fails rather than waits.
Error resizeFile(Place place, std::uint64_t size);

// The DOS attributes of a folder that its mode cannot carry (read-only, which on a folder does not
// keep names from being made in it), kept as Wine and Samba keep them: the extended attribute
// "user.DOSATTRIB", "0x" and hexadecimal digits (0x1 for read-only), which Samba follows with a NUL
// and a binary part that holds them again. 0 where there is no record, none in a form we read, one
// we may not read (Linux reads a folder's user attributes only for one who may list it), or the
// file system keeps none. The folder is held with no link followed as the last name, and needs no
// permission of its own.
Result<std::uint32_t> dosAttributesAt(Place place);
// Sets or clears read-only, and keeps what else the record says: Wine's text is written when there
// is none, and removed when it holds no attribute left. A record there that we may not read is
// EACCES, and stays.
Error setDosReadOnly(Place place, bool readOnly);

// A link's own read-only attribute, which neither its mode (Linux ignores and refuses it) nor a
// user extended attribute (Linux refuses those on a link) can keep. It is an empty file in the
// folder `table`, named after the link's device, inode and birth time ("2049.131074.1733671235.5"),
// so that it follows the link through any rename and a new link that takes a removed one's inode
// does not inherit it. One atomic call makes or removes it, so any number of threads and processes
// may set and read it at once; the link is looked at with no link followed, and the record's name
// in `table` alone. A table that is not there holds no record; setting one makes it.
Result<bool> linkReadOnlyAt(Place table, Place link);
Error setLinkReadOnly(Place table, Place link, bool readOnly);

// The size of the file system that holds `place` and its free bytes, in bytes.
struct Space {
    std::uint64_t capacity = 0;
    std::uint64_t free = 0;
    std::uint64_t available = 0;  // free to an unprivileged process
};
Result<Space> spaceAt(Place place);

// Copies the data of the file at `from` (a link refused, as `to`) to `to`: a new file, or with
// Replacing::allowed one that exists cut to the new data. The copy takes the source's permission
// bits and last change time, as CopyFileW takes its attributes and last write time.
Error copyData(Place from, Place to, Replacing replacing);

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
Result<FolderStamp> stampOf(Place place);

// What a reading of a folder tells besides its names.
struct Listed {
    FolderStamp stamp;    // taken before the first name
    bool steady = false;  // and still the same after the last: no change crossed the reading
    // How long after a change a later one may still leave the same stamp: the tick of the clock
    // that dates changes, or the file system's coarser granularity. Empty for a file system dated
    // by another machine's or process's clock (network, FUSE), whose stamps never settle here.
    std::optional<std::chrono::nanoseconds> settle;
};

// Calls `each` with every name in the folder at `place` but "." and "..", between two stamps of
// the same open folder, and with the type that the folder records for it (file_type::unknown
// where its file system keeps none). The folder is opened as openFolderBeneath opens it: a link
// on the way, or as the folder, fails with loop().
Error listFolder(Place place, Listed& listed,
                 const std::function<void(std::string_view, file_type)>& each);
Error listFolder(Place place, Listed& listed, const std::function<void(std::string_view)>& each);
// The names in the folder at `place` (not "." and ".."), read whole before any is used.
Error namesIn(Place place, std::vector<std::string>& names);

// What openLinkFree does with a last name that is a link: refuse it (a loop() error), or open the
// link itself.
enum class LastLink { refuse, open };

// As listFolder, on a folder already open for reading, from its first name.
Error listFolder(const Handle& folder, Listed& listed,
                 const std::function<void(std::string_view, file_type)>& each);

// Opens (O_PATH) what `place` names in one call, only if no name on the way is a link: loop() when
// one is, missing() when a name is missing, unsupported() on a host without openat2 (asked once).
Result<Handle> openLinkFree(Place place, LastLink last);

// What `place` names below its handle, opened with `flags` and no link followed on the way or at
// the end (openat2 with RESOLVE_NO_SYMLINKS and RESOLVE_BENEATH, or, where openat2 is missing, one
// openat with O_NOFOLLOW a name, those on the way opened only to pass through). A link where a
// folder was fails with loop() (or notAFolder(), as the host's openat with O_NOFOLLOW and
// O_DIRECTORY says of a last name that is a link), a file on the way with notAFolder(): the walk's
// answer no longer holds, and nothing is reached through the link. "" and "." name the folder.
Result<Handle> openBeneath(Place place, int flags);
// A folder to list and change, opened as openBeneath opens it: what `place` names below its
// handle, or the folder `name` in the folder `parent`.
Result<Handle> openFolderBeneath(Place place);
// A folder to act on names in, not to list: opened as openBeneath opens it, only to pass through
// (O_PATH), so that a folder that may be entered but not read still holds names to change.
Result<Handle> openFolderToActIn(Place place);
Result<Handle> openChildFolder(int parent, const char* name);
// The folder that `place` names in its folder, opened (O_PATH) only to look and make calls in it,
// with no link followed: a link or a file fails with notAFolder().
Result<Handle> enterFolder(Place place);

// The names in an open folder (not "." and ".."), from its first, read whole before any is used.
Error namesIn(const Handle& folder, std::vector<std::string>& names);

// What a file is opened for: its data read, written, or both; every write at the end.
struct FileMode {
    bool read = false;
    bool write = false;
    bool append = false;
};

// Whether an open makes the file: never, or only where no name is there (alreadyThere() else).
enum class Create { never, exclusive };

// The file that `place` names in its folder, opened with `mode` and no link followed as the last
// name (loop() for a link); with Create::exclusive, made with the permissions 0666 less the
// umask. A FIFO or a device is opened without waiting for its other end, for the caller to refuse.
Result<Handle> openFile(Place place, FileMode mode, Create create);
// The file that names below a folder name, opened as openBeneath opens them (no link anywhere),
// never made.
Result<Handle> openFileBeneath(Place place, FileMode mode);
// The host's bit bucket, and a descriptor of its own for the process's standard input (0) or
// output (1).
Result<Handle> openNullDevice(FileMode mode);
Result<Handle> duplicateStandard(int which);

// Reads at most `size` bytes at the descriptor's position: how many, 0 at the end.
Result<std::size_t> readSome(int fd, void* buffer, std::size_t size);
// Writes all `size` bytes at its position.
Error writeAll(int fd, const void* buffer, std::size_t size);
// Moves the position `offset` bytes from the start (0), the position (1) or the end (2).
Result<std::uint64_t> seekTo(int fd, std::int64_t offset, int origin);
Error resizeTo(int fd, std::uint64_t size);
// Writes what the host holds of the file to its disk.
Error syncFile(int fd);
// Closes a descriptor that a Handle gave up, telling what the close said.
Error closeFile(int fd);

// The type of what a handle names, what fstat tells of it, and the target of a link opened as
// itself.
Result<file_type> typeAt(const Handle& handle);
Result<Stat> statOf(const Handle& handle);
Result<Stat> statOf(int fd);
Error readLinkOf(const Handle& handle, std::string& target);

}  // namespace winfs::host
