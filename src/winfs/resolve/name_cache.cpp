#include "resolve/name_cache.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "pathprobe/winfs/error.h"
#include "text/names.h"
#include "text/path_grammar.h"

namespace winfs {
namespace {

// Its lowest bit is left clear, for the slot to say whether the name has twins in case.
std::uint32_t foldedHash(std::string_view name) {
    const std::size_t hash = std::hash<std::string>{}(caseFolded(name));
    return static_cast<std::uint32_t>(hash ^ (hash >> 32)) & ~std::uint32_t{1};
}

// What a name is looked up by among the folder's short names: in uppercase, as shortNameOf()
// writes them ("prog~fbu" gives "PROG~FBU"); empty for a name that cannot be a short one.
std::string shortAliasKey(std::string_view name) {
    if (!mayBeShortAlias(name)) return {};
    std::string upper(name);
    std::ranges::transform(upper, upper.begin(), grammar::asciiUpper);
    return upper;
}

// Whether `a` owns a short name that `b` shares: it comes first in NTFS's order, and of two names
// equal but for case, first byte by byte. "Program Files 0313" owns PROG~02B before "Program Files
// 1209", in whatever order the host lists them.
bool ownsBefore(std::string_view a, std::string_view b) noexcept {
    const int order = compareIgnoringCase(a, b);
    return order != 0 ? order < 0 : a < b;
}

// Readings of a folder, at most, for a lookup whose readings a change keeps crossing.
constexpr int kReadings = 8;

// What a listing counts for against the cap: an empty folder still takes room.
std::size_t weightOf(std::size_t names) noexcept {
    return names == 0 ? 1 : names;
}

std::int64_t nanosecondsSince1970(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

// One folder's names, each followed by '\0' in one block of text, and an open-addressing table of
// them by their case-folded hash. One entry per case-folded name: the one that sorts first, and
// whether other names differ from it only in case.
class NameCache::Listing {
  public:
    host::FolderStamp stamp;

    std::size_t size() const noexcept { return offsets_.empty() ? count_ : offsets_.size(); }
    bool add(std::string_view name, file_type type) {
        if (text_.size() + name.size() + 2 > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        offsets_.push_back(static_cast<std::uint32_t>(text_.size()));
        text_.append(name);
        text_.push_back('\0');
        text_.push_back(static_cast<char>(type));
        return true;
    }
    // The type that the folder recorded for a name this listing gave (file_type::unknown where
    // its file system records none): it holds while the folder's stamp does, since a name changes
    // kind only by being removed or renamed.
    static file_type typeOf(std::string_view listed) noexcept {
        return static_cast<file_type>(listed.data()[listed.size() + 1]);
    }
    void index() {
        count_ = offsets_.size();
        slots_.assign(count_ + count_ / 3 + 1, Slot{});
        for (const std::uint32_t offset : offsets_) {
            const std::string_view name(text_.data() + offset);
            const std::uint32_t hash = foldedHash(name);
            for (std::size_t i = bucketOf(hash);; i = next(i)) {
                Slot& slot = slots_[i];
                if (slot.offset == 0) {
                    slot = {hash, offset + 1};
                    break;
                }
                if ((slot.hash & ~kTwins) == hash && equalIgnoringCase(nameAt(slot), name)) {
                    if (name < nameAt(slot)) slot.offset = offset + 1;
                    slot.hash |= kTwins;
                    break;
                }
            }
        }
        offsets_ = {};
        text_.shrink_to_fit();
    }
    // The name that sorts first among those equal to `name` ignoring case; empty when none is.
    std::string_view find(std::string_view name, bool* twins = nullptr) const {
        const std::uint32_t hash = foldedHash(name);
        for (std::size_t i = bucketOf(hash);; i = next(i)) {
            const Slot& slot = slots_[i];
            if (slot.offset == 0) return {};
            if ((slot.hash & ~kTwins) == hash && equalIgnoringCase(nameAt(slot), name)) {
                if (twins != nullptr) *twins = (slot.hash & kTwins) != 0;
                return nameAt(slot);
            }
        }
    }
    // The name whose short name is `name`, in any case, among those that share it the one that
    // owns it (ownsBefore); empty when none is. Asked only once no name is `name` in any case: a
    // real name wins over a short one. The short names are computed on the first such lookup in
    // the folder, once.
    std::string_view findShort(std::string_view name) const {
        const std::string alias = shortAliasKey(name);
        if (alias.empty()) return {};
        std::call_once(shortNamesMade_, [this] {
            for (std::size_t at = 0; at < text_.size();) {
                const std::string_view longName(text_.data() + at);
                if (std::string shortName = shortNameOf(longName); !shortName.empty()) {
                    shortNames_.push_back({std::move(shortName), static_cast<std::uint32_t>(at)});
                }
                at += longName.size() + 2;
            }
            std::sort(shortNames_.begin(), shortNames_.end(),
                      [this](const Alias& a, const Alias& b) {
                          if (a.name != b.name) return a.name < b.name;
                          return ownsBefore(text_.data() + a.offset, text_.data() + b.offset);
                      });
        });
        const auto it = std::lower_bound(
            shortNames_.begin(), shortNames_.end(), alias,
            [](const Alias& a, const std::string& wanted) { return a.name < wanted; });
        if (it == shortNames_.end() || it->name != alias) return {};
        return std::string_view(text_.data() + it->offset);
    }
    std::size_t bytes() const noexcept {
        return sizeof(*this) + text_.capacity() + slots_.capacity() * sizeof(Slot);
    }

  private:
    static constexpr std::uint32_t kTwins = 1;  // in a slot's hash
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t offset = 0;  // one past the name's start in text_; 0 for an empty slot
    };
    std::size_t bucketOf(std::uint32_t hash) const noexcept {
        return static_cast<std::size_t>((std::uint64_t{hash} * slots_.size()) >> 32);
    }
    std::size_t next(std::size_t i) const noexcept { return i + 1 == slots_.size() ? 0 : i + 1; }
    std::string_view nameAt(const Slot& slot) const noexcept {
        return std::string_view(text_.data() + slot.offset - 1);
    }

    struct Alias {
        std::string name;
        std::uint32_t offset;  // of the long name in text_
    };

    std::string text_;  // the names in the order the folder gave them, each with a NUL and its type
    std::vector<std::uint32_t> offsets_;  // while the folder is read
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
    mutable std::once_flag shortNamesMade_;
    mutable std::vector<Alias> shortNames_;  // by short name, then the owner first
};

std::size_t NameCache::KeyHash::operator()(const Key& key) const noexcept {
    return std::hash<std::uint64_t>{}(key.inode * 31 + key.device);
}

NameCache::NameCache(NameCacheOptions options) : options_(options) {}

NameCache::~NameCache() = default;

std::error_code NameCache::find(host::Place folder, std::string_view name, std::string& found) {
    if (const host::Result<host::FolderStamp> stamp = host::stampOf(folder)) {
        if (const std::shared_ptr<const Listing> listing = held(*stamp)) {
            std::string_view best = listing->find(name);
            if (best.empty()) best = listing->findShort(name);
            if (best.empty()) return make_error_code(ERROR_FILE_NOT_FOUND);
            found.assign(best);
            return {};
        }
    }
    std::error_code ec;
    for (int reading = 0; reading < kReadings; ++reading) {
        bool steady = false;
        ec = read(folder, name, found, steady);
        if (steady || ec != make_error_code(ERROR_FILE_NOT_FOUND)) break;
    }
    return ec;
}

NameCache::Known NameCache::known(host::Place folder, std::string_view name, std::string* spelling,
                                  file_type* type) {
    const host::Result<host::FolderStamp> stamp = host::stampOf(folder);
    if (!stamp) return Known::unknown;
    const std::shared_ptr<const Listing> listing = held(*stamp);
    if (!listing) return Known::unknown;
    bool twins = false;
    std::string_view best = listing->find(name, &twins);
    if (best.empty()) best = listing->findShort(name);
    if (best.empty()) return Known::absent;
    // Among twins, only a look at the name as given can tell whether it is one of them.
    if (spelling != nullptr && !(twins && best != name)) {
        spelling->assign(best);
        if (type != nullptr) *type = Listing::typeOf(best);
    }
    return Known::present;
}

std::string NameCache::spellingOf(host::Place folder, std::string_view name) {
    std::string spelling;
    known(folder, name, &spelling);
    return spelling;
}

std::error_code NameCache::read(host::Place folder, std::string_view name, std::string& found,
                                bool& steady) {
    // Read before the folder is opened: a change after this time moves its stamp past `settled`.
    const std::int64_t readAt = nanosecondsSince1970(std::chrono::system_clock::now());
    auto listing = std::make_shared<Listing>();
    bool keepable = true;
    host::Listed listed;
    std::string best;
    const std::string alias = shortAliasKey(name);
    std::string byAlias;  // the name that owns `alias` as its short name
    const host::Error error =
        host::listFolder(folder, listed, [&](std::string_view n, file_type type) {
            if (!windowsCanSpell(n)) return;  // no lookup may give it
            if (equalIgnoringCase(n, name) && (best.empty() || n < best)) best = n;
            if (!alias.empty() && (byAlias.empty() || ownsBefore(n, byAlias)) &&
                shortNameOf(n) == alias) {
                byAlias = n;
            }
            if (keepable) keepable = listing->size() < options_.maxNames && listing->add(n, type);
        });
    {
        const std::lock_guard lock(mutex_);
        ++foldersRead_;
    }
    if (error) return error.windows(host::At::folderOnTheWay);
    steady = listed.steady;
    listing->stamp = listed.stamp;
    const bool settled =
        listed.settle &&
        listed.stamp.changed < readAt - options_.settle.value_or(*listed.settle).count();
    if (keepable && steady && settled) {
        listing->index();
        keep(std::move(listing));
    }
    if (best.empty()) best = std::move(byAlias);  // a name in any case first
    if (best.empty()) return make_error_code(ERROR_FILE_NOT_FOUND);
    found = std::move(best);
    return {};
}

std::shared_ptr<const NameCache::Listing> NameCache::held(const host::FolderStamp& stamp) {
    std::shared_ptr<const Listing> stale;  // freed outside the lock
    const std::lock_guard lock(mutex_);
    const auto it = folders_.find({stamp.device, stamp.inode});
    if (it == folders_.end()) return nullptr;
    if (it->second.listing->stamp != stamp) {
        stale = forget(it);
        return nullptr;
    }
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return it->second.listing;
}

void NameCache::keep(std::shared_ptr<const Listing> listing) {
    const Key key{listing->stamp.device, listing->stamp.inode};
    std::vector<std::shared_ptr<const Listing>> dropped;  // freed outside the lock
    const std::lock_guard lock(mutex_);
    if (const auto it = folders_.find(key); it != folders_.end()) dropped.push_back(forget(it));
    const std::size_t weight = weightOf(listing->size());
    while (!uses_.empty() && weight_ + weight > options_.maxNames)
        dropped.push_back(forget(folders_.find(uses_.back())));
    names_ += listing->size();
    weight_ += weight;
    bytes_ += listing->bytes();
    uses_.push_front(key);
    folders_.emplace(key, Held{std::move(listing), uses_.begin()});
}

std::shared_ptr<const NameCache::Listing> NameCache::forget(Index::iterator it) {
    std::shared_ptr<const Listing> listing = std::move(it->second.listing);
    names_ -= listing->size();
    weight_ -= weightOf(listing->size());
    bytes_ -= listing->bytes();
    uses_.erase(it->second.use);
    folders_.erase(it);
    return listing;
}

NameCache::Usage NameCache::usage() const {
    const std::lock_guard lock(mutex_);
    return {folders_.size(), names_, bytes_, foldersRead_};
}

void NameCache::clear() {
    Index dropped;  // freed outside the lock
    const std::lock_guard lock(mutex_);
    dropped.swap(folders_);
    uses_.clear();
    names_ = 0;
    weight_ = 0;
    bytes_ = 0;
}

NameCache& folderNames() {
    static NameCache cache;
    return cache;
}

}  // namespace winfs
