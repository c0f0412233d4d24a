#include "operations/sharing.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "operations/switches.h"
#include "pathprobe/winfs/error.h"

namespace winfs {
namespace {

struct Open {
    std::uint64_t id;
    unsigned access;  // DataAccess's bits
    unsigned share;   // file_share's bits
};

// Whether `holder` lets an open with `access` go on: it shares every kind of access asked.
bool shares(unsigned holderShare, unsigned access) noexcept {
    return (access & ~holderShare) == 0;
}

struct KeyHash {
    std::size_t operator()(const OpenFileKey& key) const noexcept {
        return std::hash<std::uint64_t>{}(key.inode * 31 + key.device);
    }
};

// Each open has a slot, which its id names: the slot's place in the low 32 bits and, above them, a
// count of the opens made (1 to 2^32 - 1, round again), so that no id is 0 and one given up does
// not name the slot's next open.
// Slots, and the entries of files that closes left, are kept for the next opens: a program that
// opens and closes one file after another allocates nothing here after its first open.
class Table {
  public:
    Table() { spareFiles_.reserve(kSpares); }

    std::uint64_t enter(OpenFileKey key, unsigned access, unsigned share, std::error_code& ec) {
        const std::lock_guard lock(mutex_);
        auto file = files_.find(key);
        if (file != files_.end()) {
            for (const Open& open : file->second) {
                if (!shares(open.share, access) || !shares(share, open.access)) {
                    ec = make_error_code(ERROR_SHARING_VIOLATION);
                    return 0;
                }
            }
        } else if (!spareFiles_.empty()) {
            Files::node_type node = std::move(spareFiles_.back());
            spareFiles_.pop_back();
            node.key() = key;
            file = files_.insert(std::move(node)).position;
        } else {
            file = files_.try_emplace(key).first;
        }
        if (free_.empty()) {
            slots_.emplace_back();
            // A close gives its slot back without allocating.
            free_.reserve(slots_.capacity());
            free_.push_back(static_cast<std::uint32_t>(slots_.size() - 1));
        }
        const std::uint32_t place = free_.back();
        const std::uint64_t round = ++made_ % 0xffffffffU + 1;
        const std::uint64_t id = (round << 32) | place;
        file->second.push_back({id, access, share});
        free_.pop_back();
        slots_[place] = {id, key};
        count_.fetch_add(1, std::memory_order_release);
        return id;
    }

    void leave(std::uint64_t id) noexcept {
        const std::lock_guard lock(mutex_);
        const std::uint32_t place = static_cast<std::uint32_t>(id);
        if (place >= slots_.size() || slots_[place].id != id) return;
        Slot& slot = slots_[place];
        const auto file = files_.find(slot.key);
        std::erase_if(file->second, [id](const Open& open) { return open.id == id; });
        if (file->second.empty()) {
            Files::node_type node = files_.extract(file);
            if (spareFiles_.size() < kSpares) spareFiles_.push_back(std::move(node));
        }
        slot.id = 0;
        free_.push_back(place);
        count_.fetch_sub(1, std::memory_order_release);
    }

    bool allows(OpenFileKey key, unsigned access) {
        const std::lock_guard lock(mutex_);
        const auto file = files_.find(key);
        if (file == files_.end()) return true;
        for (const Open& open : file->second) {
            if (!shares(open.share, access)) return false;
        }
        return true;
    }

    bool any() const noexcept { return count_.load(std::memory_order_acquire) != 0; }

  private:
    using Files = std::unordered_map<OpenFileKey, std::vector<Open>, KeyHash>;
    struct Slot {
        std::uint64_t id = 0;  // 0 while free
        OpenFileKey key;
    };
    // A file's entry keeps its list of opens, empty, with its room.
    static constexpr std::size_t kSpares = 16;

    std::mutex mutex_;
    Files files_;
    std::vector<Files::node_type> spareFiles_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> free_;  // the free slots
    std::uint64_t made_ = 0;
    std::atomic<std::size_t> count_{0};
};

// Never destroyed: a stream of static storage may give up its entry after main returns.
Table& table() {
    static Table& opens = *new Table;
    return opens;
}

enum Setting : int { unread = -1, off = 0, on = 1 };
std::atomic<int> setting{unread};

bool fromEnvironment() {
    if (const std::optional<bool> enforced = switchSetting("WINFS_SHARING")) return *enforced;
    reportNotUnderstood(
        "WINFS_SHARING",
        "0, false, no or off let opens, removes and renames go on as the host "
        "lets them; 1, true, yes or on enforce Windows's sharing); files are shared "
        "as on Windows");
    return true;
}

}  // namespace

void set_sharing(bool enforced) noexcept {
    setting.store(enforced ? on : off, std::memory_order_relaxed);
}

bool sharing() noexcept {
    const int now = setting.load(std::memory_order_relaxed);
    if (now != unread) return now == on;
    static const bool environment = fromEnvironment();
    int expected = unread;
    setting.compare_exchange_strong(expected, environment ? on : off, std::memory_order_relaxed);
    return setting.load(std::memory_order_relaxed) == on;
}

void detail::open_entry::reset() noexcept {
    if (id_ == 0) return;
    table().leave(id_);
    id_ = 0;
}

detail::open_entry enterOpen(OpenFileKey key, DataAccess access, file_share share,
                             std::error_code& ec) {
    if (!sharing()) return {};
    const std::uint64_t id =
        table().enter(key, static_cast<unsigned>(access), static_cast<unsigned>(share), ec);
    return detail::open_entry(id);
}

std::error_code mayOpen(OpenFileKey key, DataAccess access) {
    if (!anyOpen() || table().allows(key, static_cast<unsigned>(access))) return {};
    return make_error_code(ERROR_SHARING_VIOLATION);
}

host::Error mayOpenAt(host::Place place, DataAccess access) {
    if (!anyOpen()) return {};
    const host::Result<host::Stat> st = host::statAt(place, false);
    if (!st || st->type != file_type::regular) return {};
    return mayOpen({st->device, st->inode}, access) ? host::Error::inUse() : host::Error();
}

bool anyOpen() noexcept {
    return table().any() && sharing();
}

}  // namespace winfs
