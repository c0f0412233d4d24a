// recursive_directory_iterator, of directory.h.
#include "pathprobe/winfs/directory.h"

#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "listing/listing.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace detail {

// One folder of a descent: its listing, where it is on the host, which folder it is, and its
// Windows path with every link on the way resolved, from which a link in it is followed.
struct Level {
    Listing listing;
    host::Cursor folder;
    host::FolderStamp stamp;
    path resolved;
};

struct Descent {
    Map map;  // keeps the drive folders that the cursors start from open
    directory_options options = directory_options::none;
    bool pending = true;
    std::vector<Level> levels;  // the folder given first

    bool following() const noexcept {
        return (options & directory_options::follow_directory_symlink) ==
               directory_options::follow_directory_symlink;
    }
    // Reads `level`'s folder: false, without error, when there is nothing to give (an empty
    // folder, one skipped, or one that the descent is already inside: a loop of links).
    bool read(Level& level, host::LastLink last, std::error_code& ec) const;
    // Enters the current entry when it is a folder to enter; true when it gave a first name.
    bool enter(std::error_code& ec);
    // The next name, in the current folder or the first that has one on the way up.
    void advance();
};

bool Descent::read(Level& level, host::LastLink last, std::error_code& ec) const {
    if (const host::Error error =
            level.listing.names.read(level.folder.place(), last, level.stamp)) {
        ec = readingError(error, options);
        return false;
    }
    for (const Level& outer : levels) {
        if (outer.stamp.device == level.stamp.device && outer.stamp.inode == level.stamp.inode) {
            return false;
        }
    }
    return level.listing.advance();
}

bool Descent::enter(std::error_code& ec) {
    const Level& top = levels.back();
    const directory_entry& entry = top.listing.entry;
    const std::string_view name = top.listing.names.name(top.listing.next - 1);
    const file_type type = entry.typeItself(&ec);
    if (ec) return false;
    Level level{Listing(entry.path()), {}, {}, top.resolved / path(name)};
    if (type == file_type::directory) {
        level.folder = top.folder;
        if (const host::Error error = level.folder.descend(name)) {
            ec = error.windows(host::At::folderOnTheWay);
            return false;
        }
        if (!read(level, host::LastLink::refuse, ec)) return false;
    } else if (type == file_type::symlink && following()) {
        Resolution found = resolveOn(*map, level.resolved, kStatus, ec);
        // A link to anything but a folder, or to nothing, is an entry like any other.
        if (ec || !found.rest.empty() || found.type != file_type::directory || !onTheHost(found)) {
            ec.clear();
            return false;
        }
        level.folder = std::move(found.folder);
        level.resolved = std::move(found.head);
        if (!read(level, host::LastLink::open, ec)) return false;
    } else {
        return false;
    }
    levels.push_back(std::move(level));
    return true;
}

void Descent::advance() {
    while (!levels.empty() && !levels.back().listing.advance())
        levels.pop_back();
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
    detail::Level level{detail::Listing(p), std::move(found.at.folder), {}, found.at.head};
    if (!descent->read(level, host::LastLink::open, ec)) return nullptr;
    descent->levels.push_back(std::move(level));
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
    return state_->levels.back().listing.entry;
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
    const path at = code ? state->levels.back().listing.entry.path() : path();
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
    state_->levels.pop_back();
    state_->pending = true;
    state_->advance();
    if (state_->levels.empty()) state_.reset();
}

void recursive_directory_iterator::pop() {
    std::error_code ec;
    pop(ec);
}

}  // namespace winfs
