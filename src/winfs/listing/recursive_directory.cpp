// recursive_directory_iterator, of directory.h.
#include "pathprobe/winfs/directory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "listing/listing.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace detail {

// One folder of a descent, held open so that nothing above it is looked up again: its names, the
// next one to give, and where they start in the entry's path. A folder entered through a link,
// and the first, keep their Windows path with every link on the way resolved, from which a link
// below them is followed.
struct Level {
    Names names;
    std::size_t next = 0;
    std::size_t prefix = 0;
    // Closed between the kept ones, reopened by name from the one above; its entries read their
    // names in it while it is open.
    std::shared_ptr<const ListedFolder> folder;
    host::FolderStamp stamp;
    path resolved;  // empty for a folder entered by its name
    bool throughLink = false;
};

namespace {
std::shared_ptr<const ListedFolder> held(host::Handle handle) {
    return std::make_shared<const ListedFolder>(ListedFolder{std::move(handle)});
}
}  // namespace

struct FolderKey {
    std::uint64_t device;
    std::uint64_t inode;
    bool operator==(const FolderKey&) const = default;
};
struct FolderKeyHash {
    std::size_t operator()(const FolderKey& key) const noexcept {
        return std::hash<std::uint64_t>()(key.inode * 31 + key.device);
    }
};

struct Descent {
    Map map;  // keeps the drive folders that the walk starts from open
    directory_options options = directory_options::none;
    bool pending = true;
    std::vector<Level> levels;                            // the folder given first
    std::unordered_set<FolderKey, FolderKeyHash> inside;  // the folders of `levels`
    std::string text;                                     // the entry's path, built in place
    directory_entry entry;

    // The deepest levels are kept open, and one level in this many above them, from which a
    // closed one is opened again: descriptors and system calls grow with the depth, no faster.
    static constexpr std::size_t kOpen = 64;

    bool following() const noexcept {
        return (options & directory_options::follow_directory_symlink) ==
               directory_options::follow_directory_symlink;
    }
    // Reads `level`'s open folder and puts it below the others: false, without error, when there
    // is nothing to give (an empty folder, one skipped, or one that the descent is already inside:
    // a loop of links).
    bool push(Level level, std::error_code& ec);
    // Enters the current entry when it is a folder to enter; true when it gave a first name.
    bool enter(std::error_code& ec);
    // Makes the entry the deepest level's next name; false when none is left.
    bool give();
    // The next name, in the current folder or the first that has one on the way up.
    void advance();
    void pop();
    // Opens the deepest level again if it was closed, and the closed ones above it up to the
    // nearest open one, by their names with no link followed; each must be the folder it was.
    host::Error reopen();
    // The Windows path of the current entry with every link on the way resolved.
    path resolvedEntry() const;
};

bool Descent::push(Level level, std::error_code& ec) {
    if (const host::Error error = level.names.read(level.folder->handle, level.stamp)) {
        ec = readingError(error, options);
        return false;
    }
    if (level.names.size() == 0) return false;
    if (!inside.insert({level.stamp.device, level.stamp.inode}).second) return false;
    levels.push_back(std::move(level));
    const std::size_t depth = levels.size() - 1;
    if (depth >= kOpen && (depth - kOpen) % kOpen != 0 && !levels[depth - kOpen].throughLink) {
        levels[depth - kOpen].folder.reset();
    }
    return give();
}

bool Descent::give() {
    Level& level = levels.back();
    if (level.next == level.names.size()) return false;
    text.resize(level.prefix);
    text += level.names.name(level.next);
    entry.path_.clear();
    entry.path_ += text;
    entry.type_ = level.names.type(level.next);
    entry.listed_ = true;
    entry.folder_ = level.folder;
    entry.kept_.clear();
    ++level.next;
    return true;
}

void Descent::pop() {
    inside.erase({levels.back().stamp.device, levels.back().stamp.inode});
    levels.pop_back();
}

void Descent::advance() {
    while (!levels.empty() && !give())
        pop();
}

host::Error Descent::reopen() {
    std::size_t open = levels.size() - 1;
    while (!levels[open].folder)
        --open;  // the first level is never closed
    for (std::size_t k = open + 1; k < levels.size(); ++k) {
        const Level& above = levels[k - 1];
        const std::string name(above.names.name(above.next - 1));
        host::Result<host::Handle> folder =
            host::openChildFolder(above.folder->handle.get(), name.c_str());
        if (!folder) return folder.error();
        const host::Result<host::FolderStamp> stamp = host::stampOf({folder->get(), ""});
        if (!stamp) return stamp.error();
        // Another folder in its place: the one listed is gone from here.
        if (stamp->device != levels[k].stamp.device || stamp->inode != levels[k].stamp.inode) {
            return host::Error(ENOENT);
        }
        levels[k].folder = held(std::move(*folder));
    }
    return {};
}

path Descent::resolvedEntry() const {
    std::size_t from = levels.size() - 1;
    while (levels[from].resolved.empty())
        --from;  // the first level has one
    path resolved = levels[from].resolved;
    for (std::size_t k = from; k < levels.size(); ++k)
        resolved /= path(levels[k].names.name(levels[k].next - 1));
    return resolved;
}

bool Descent::enter(std::error_code& ec) {
    if (const host::Error error = reopen()) {
        ec = error.windows(host::At::folderOnTheWay);
        return false;
    }
    const Level& top = levels.back();
    const std::string name(top.names.name(top.next - 1));
    file_type type = top.names.type(top.next - 1);
    if (type == file_type::unknown) {
        const host::Result<file_type> found =
            host::typeAt({top.folder->handle.get(), name.c_str()}, false);
        if (!found) {
            if (found.error().missing()) return false;  // gone since the folder was read
            ec = found.error().windows(host::At::lastName);
            return false;
        }
        type = *found;
    }
    Level level;
    level.prefix = text.size() + 1;
    if (type == file_type::directory) {
        host::Result<host::Handle> folder =
            host::openChildFolder(top.folder->handle.get(), name.c_str());
        if (!folder) {
            ec = readingError(folder.error(), options);
            return false;
        }
        level.folder = held(std::move(*folder));
    } else if (type == file_type::symlink && following()) {
        Resolution found = resolveOn(*map, resolvedEntry(), kStatus, ec);
        // A link to anything but a folder, or to nothing, is an entry like any other.
        if (ec || !found.rest.empty() || found.type != file_type::directory || !onTheHost(found)) {
            ec.clear();
            return false;
        }
        host::Handle folder;
        if (const host::Error error = openFolderOf(found, folder)) {
            ec = readingError(error, options);
            return false;
        }
        level.folder = held(std::move(folder));
        level.resolved = std::move(found.head);
        level.throughLink = true;
    } else {
        return false;
    }
    // No name holds a separator, so the entry's path is its folder's joined with it by one.
    text += path::preferred_separator;
    return push(std::move(level), ec);
}

}  // namespace detail

namespace {

std::shared_ptr<detail::Descent> startAt(const path& p, directory_options options,
                                         std::error_code& ec) {
    auto descent = std::make_shared<detail::Descent>();
    descent->options = options;
    Found found = detail::folderToList(p, ec);
    if (ec) return nullptr;
    descent->map = std::move(found.map);
    detail::Level level;
    host::Handle folder;
    if (const host::Error error = openFolderOf(found.at, folder)) {
        ec = detail::readingError(error, options);
        return nullptr;
    }
    level.folder = detail::held(std::move(folder));
    level.resolved = std::move(found.at.head);
    // What every entry's path begins with: "c:\zor\" for "c:\zor", "c:" for "c:".
    descent->text = (p / "x").native();
    descent->text.pop_back();
    level.prefix = descent->text.size();
    if (!descent->push(std::move(level), ec)) return nullptr;
    return descent;
}

std::shared_ptr<detail::Descent> started(const path& p, directory_options options,
                                         std::error_code* ec) {
    return reported("recursive_directory_iterator::recursive_directory_iterator", ec, p,
                    [&](std::error_code& code) { return startAt(p, options, code); });
}

}  // namespace

recursive_directory_iterator::recursive_directory_iterator() noexcept = default;
recursive_directory_iterator::recursive_directory_iterator(const path& p)
    : DirectoryIteratorBase(started(p, directory_options::none, nullptr)) {}
recursive_directory_iterator::recursive_directory_iterator(const path& p, directory_options options)
    : DirectoryIteratorBase(started(p, options, nullptr)) {}
recursive_directory_iterator::recursive_directory_iterator(const path& p, directory_options options,
                                                           std::error_code& ec)
    : DirectoryIteratorBase(started(p, options, &ec)) {}
recursive_directory_iterator::recursive_directory_iterator(const path& p, std::error_code& ec)
    : DirectoryIteratorBase(started(p, directory_options::none, &ec)) {}

directory_options recursive_directory_iterator::options() const {
    return state_->options;
}

int recursive_directory_iterator::depth() const {
    return static_cast<int>(state_->levels.size()) - 1;
}

bool recursive_directory_iterator::recursion_pending() const {
    return state_->pending;
}

const directory_entry& recursive_directory_iterator::operator*() const noexcept {
    return state_->entry;
}

void recursive_directory_iterator::disable_recursion_pending() {
    state_->pending = false;
}

namespace {

// A step of the descent: into the current entry when it is a folder to enter, else on. An error
// ends it, naming the entry that could not be entered.
void step(std::shared_ptr<detail::Descent>& state, std::error_code* ec) {
    std::error_code code;
    caught(code, [&] {
        const bool entered = std::exchange(state->pending, true) && state->enter(code);
        if (!entered && !code) state->advance();
    });
    if (!code && !state->levels.empty()) {
        if (ec != nullptr) ec->clear();
        return;
    }
    const path at = code ? state->entry.path() : path();
    state.reset();
    settle("recursive_directory_iterator::operator++", ec, at, path(), code);
}

}  // namespace

recursive_directory_iterator& recursive_directory_iterator::operator++() {
    step(state_, nullptr);
    return *this;
}

recursive_directory_iterator& recursive_directory_iterator::increment(std::error_code& ec) {
    step(state_, &ec);
    return *this;
}

void recursive_directory_iterator::pop(std::error_code& ec) {
    ec.clear();
    state_->pop();
    state_->pending = true;
    state_->advance();
    if (state_->levels.empty()) state_.reset();
}

void recursive_directory_iterator::pop() {
    std::error_code ec;
    pop(ec);
}

}  // namespace winfs
