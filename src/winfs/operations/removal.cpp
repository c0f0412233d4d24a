// remove and remove_all: one name, or a tree depth first, each name removed in a folder held
// with no link followed.
#include "pathprobe/winfs/changes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/sharing.h"
#include "pathprobe/winfs/error.h"

namespace winfs {

namespace {

// Removes the entry `name` of the folder `top` and all below it, depth first without recursion,
// so that a tree as deep as Windows allows takes no more stack than a flat one. Every call acts on
// one name in a folder opened with no link followed, so a folder swapped for a link mid-way goes
// as the link, with nothing behind it. Counts what it removed.
class TreeRemoval {
  public:
    explicit TreeRemoval(int top) : top_(top) {}

    host::Error remove(const std::string& name) {
        host::Error error = removeEntry(top_, name);
        while (!error && !levels_.empty()) {
            Level& level = levels_.back();
            if (level.next == level.names.size()) {
                error = leave();
            } else {
                const std::string entry = level.names[level.next++];
                error = removeEntry(level.folder.get(), entry);
            }
        }
        return error;
    }

    std::uintmax_t removed() const noexcept { return removed_; }

  private:
    // One folder being emptied: its handle while it is open, its name in the folder above.
    struct Level {
        host::Handle folder;
        std::string name;
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    // The deepest levels are kept open, and one level in this many above them, from which a
    // closed one is opened again: descriptors and system calls grow with the depth, no faster.
    static constexpr std::size_t kOpen = 64;

    int holderOf(std::size_t level) const {
        return level == 0 ? top_ : levels_[level - 1].folder.get();
    }

    // A name that is no folder is unlinked; a folder is entered; a name that turns from one into
    // the other meanwhile is looked at again.
    host::Error removeEntry(int folder, const std::string& name) {
        for (int round = 0; round < 8; ++round) {
            // DeleteFileW opens the file to delete it: an open that does not share that keeps it.
            if (const host::Error error = mayOpenAt({folder, name.c_str()}, DataAccess::remove)) {
                return error;
            }
            host::Error error = host::removeName({folder, name.c_str()});
            if (!error) {
                ++removed_;
                return {};
            }
            if (error.missing()) return {};  // removed by someone else
            if (!error.aFolder()) return error;
            host::Result<host::Handle> opened = host::openChildFolder(folder, name.c_str());
            if (opened) return enter(std::move(*opened), name);
            if (opened.error().missing()) return {};
            if (!opened.error().loop() && !opened.error().notAFolder()) return opened.error();
        }
        return host::Error(EAGAIN);
    }

    host::Error enter(host::Handle folder, const std::string& name) {
        levels_.push_back({std::move(folder), name, {}, 0});
        const std::size_t depth = levels_.size() - 1;
        if (depth >= kOpen && (depth - kOpen) % kOpen != 0) levels_[depth - kOpen].folder = {};
        return host::namesIn(levels_.back().folder, levels_.back().names);
    }

    // The emptied folder goes from the one above it, which is opened again if it was closed.
    host::Error leave() {
        const std::string name = std::move(levels_.back().name);
        levels_.pop_back();
        if (const host::Error error = reopen()) return error;
        const int holder = holderOf(levels_.size());
        host::Error error = host::removeFolder({holder, name.c_str()});
        if (!error) {
            ++removed_;
            return {};
        }
        if (error.missing()) return {};
        // A link now where the folder was: it goes, and nothing behind it.
        if (error.notAFolder()) return removeEntry(holder, name);
        return error;
    }

    // Opens the deepest level again, and the closed ones between it and the nearest open one, by
    // their names with no link followed.
    host::Error reopen() {
        if (levels_.empty() || levels_.back().folder) return {};
        std::size_t first = levels_.size() - 1;
        while (first > 0 && !levels_[first - 1].folder)
            --first;
        for (std::size_t level = first; level < levels_.size(); ++level) {
            host::Result<host::Handle> opened =
                host::openChildFolder(holderOf(level), levels_[level].name.c_str());
            if (!opened) return opened.error();
            levels_[level].folder = std::move(*opened);
        }
        return {};
    }

    int top_;
    std::vector<Level> levels_;
    std::uintmax_t removed_ = 0;
};

std::optional<Held> removalOf(const path& p, std::error_code& ec) {
    Slot slot = slotFor(p, ec);
    // Nothing there, however it is missing, is nothing to remove, as DeleteFileW's "not found".
    if ((ec && isNotFound(ec)) || (!ec && !slot.exists)) {
        ec.clear();
        return std::nullopt;
    }
    if (ec) return std::nullopt;
    if (isRoot(slot)) {
        ec = make_error_code(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    Held removal;
    if (const host::Error error = hold(slot, removal)) {
        ec = error.windows(host::At::folderOnTheWay);
        return std::nullopt;
    }
    return removal;
}

bool removeOne(const path& p, std::error_code& ec) {
    const std::optional<Held> removal = removalOf(p, ec);
    if (!removal) return false;
    const host::Place place = removal->place();
    host::Error error = mayOpenAt(place, DataAccess::remove);
    if (!error) error = host::removeName(place);
    if (error.aFolder()) error = host::removeFolder(place);
    if (error && !error.missing()) ec = error.windows(host::At::lastName);
    return !error;
}

std::uintmax_t removeAll(const path& p, std::error_code& ec) {
    const std::optional<Held> removal = removalOf(p, ec);
    if (!removal) return 0;
    TreeRemoval tree(removal->folder.get());
    if (const host::Error error = tree.remove(removal->name)) {
        ec = error.windows(host::At::lastName);
    }
    return tree.removed();
}

bool removeOf(const path& p, std::error_code* ec) {
    return reported("remove", ec, p, [&](std::error_code& code) { return removeOne(p, code); });
}

std::uintmax_t removeAllOf(const path& p, std::error_code* ec) {
    return reported("remove_all", ec, p, [&](std::error_code& code) {
        const std::uintmax_t removed = removeAll(p, code);
        return code ? static_cast<std::uintmax_t>(-1) : removed;
    });
}

}  // namespace

// clang-format off
bool remove(const path& p) { return removeOf(p, nullptr); }
bool remove(const path& p, std::error_code& ec) { return removeOf(p, &ec); }
std::uintmax_t remove_all(const path& p) { return removeAllOf(p, nullptr); }
std::uintmax_t remove_all(const path& p, std::error_code& ec) { return removeAllOf(p, &ec); }
// clang-format on

}  // namespace winfs
