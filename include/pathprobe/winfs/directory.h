// Listing folders, as std::filesystem's directory_entry, directory_iterator and
// recursive_directory_iterator, with Windows's answers: a folder's names come in NTFS's index
// order (each UTF-16 unit through NTFS's uppercase table, then unit by unit: "A", "a1", "b",
// "Z", "_x", "~t"), never "." or "..", and a name that the host holds but Windows cannot write
// (a '\', a character Windows forbids, bytes that are not UTF-8) is left out. Errors hold Windows
// codes in winfs::system_category(): a folder that is missing, or below a missing one, is
// ERROR_PATH_NOT_FOUND (3), a file ERROR_DIRECTORY (267).
//
// Threading: a directory_entry is a value, and each copy keeps its own reading. Its const members
// may be called from any number of threads at once: the first that asks for what the listing read
// reads it and keeps it for all, one that asks meanwhile reads it for itself. An entry that one
// thread changes (assign, refresh, replace_filename) must not be used by another meanwhile. The
// iterators are input iterators whose copies share one position, as the
// standard's: an iterator and its copies belong to one thread at a time. Distinct iterators, even
// over one folder, may run in any number of threads.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <optional>
#include <ranges>
#include <system_error>
#include <utility>

#include "file_status.h"
#include "file_time.h"
#include "path.h"

namespace winfs {

enum class directory_options : unsigned {
    none = 0,
    follow_directory_symlink = 1,
    skip_permission_denied = 2,
};

template <>
inline constexpr bool isBitmask<directory_options> = true;

namespace detail {
struct Listing;
struct Descent;
struct ListedFolder;

// What a listing tells of a name besides its type, as FindNextFileW gives it with each name.
struct ListedFacts {
    file_type type = file_type::none;
    bool readOnly = false;
    bool timeFits = false;  // a time past FILETIME's ends has none
    std::uintmax_t size = 0;
    file_time_type time;
};

// ListedFacts read once and kept: the first thread to keep a reading publishes it whole, and a
// thread that reads while another keeps its own goes on with what it read.
class KeptFacts {
  public:
    KeptFacts() noexcept = default;
    KeptFacts(const KeptFacts& other) noexcept { *this = other; }
    KeptFacts& operator=(const KeptFacts& other) noexcept {
        if (this == &other) return *this;
        if (const ListedFacts* facts = other.get()) {
            facts_ = *facts;
            state_.store(kHeld, std::memory_order_release);
        } else {
            state_.store(kEmpty, std::memory_order_relaxed);
        }
        return *this;
    }

    const ListedFacts* get() const noexcept {
        return state_.load(std::memory_order_acquire) == kHeld ? &facts_ : nullptr;
    }
    void keep(const ListedFacts& facts) const noexcept {
        std::uint8_t empty = kEmpty;
        if (!state_.compare_exchange_strong(empty, kFilling, std::memory_order_acquire)) return;
        facts_ = facts;
        state_.store(kHeld, std::memory_order_release);
    }
    void clear() noexcept { state_.store(kEmpty, std::memory_order_relaxed); }

  private:
    static constexpr std::uint8_t kEmpty = 0, kFilling = 1, kHeld = 2;
    mutable std::atomic<std::uint8_t> state_{kEmpty};
    mutable ListedFacts facts_;
};
}  // namespace detail

// A path and what a listing told of it. As on Windows, where the listing hands each name's type,
// size, time and attributes, an entry from a listing answers from what it read until refresh():
// the type queries from the type the host's listing gave (a link is a symlink), with no system
// call; file_size, last_write_time and the read-only attribute of status() from one reading of
// the name (no link followed) in the folder the listing holds, made at the first such question
// and kept, so that a file removed after it still answers. Of a link, what it leads to is read
// when asked. An entry made from a path, or refreshed, reads the name itself (no link followed)
// at once and keeps its type, attribute, size and time, as Microsoft's library does; the number of
// hard links is read at each ask.
class directory_entry {
  public:
    directory_entry() noexcept = default;
    // Each reads the type of what `p` names; a missing path is no error (its type is not_found).
    explicit directory_entry(const winfs::path& p);
    directory_entry(const winfs::path& p, std::error_code& ec);

    void assign(const winfs::path& p);
    void assign(const winfs::path& p, std::error_code& ec);
    void replace_filename(const winfs::path& p);
    void replace_filename(const winfs::path& p, std::error_code& ec);
    void refresh();
    void refresh(std::error_code& ec);

    const winfs::path& path() const noexcept { return path_; }
    operator const winfs::path&() const noexcept { return path_; }

    bool exists() const;
    bool exists(std::error_code& ec) const;
    bool is_block_file() const;
    bool is_block_file(std::error_code& ec) const;
    bool is_character_file() const;
    bool is_character_file(std::error_code& ec) const;
    bool is_directory() const;
    bool is_directory(std::error_code& ec) const;
    bool is_fifo() const;
    bool is_fifo(std::error_code& ec) const;
    bool is_other() const;
    bool is_other(std::error_code& ec) const;
    bool is_regular_file() const;
    bool is_regular_file(std::error_code& ec) const;
    bool is_socket() const;
    bool is_socket(std::error_code& ec) const;
    bool is_symlink() const;
    bool is_symlink(std::error_code& ec) const;
    std::uintmax_t file_size() const;
    std::uintmax_t file_size(std::error_code& ec) const;
    std::uintmax_t hard_link_count() const;
    std::uintmax_t hard_link_count(std::error_code& ec) const;
    file_time_type last_write_time() const;
    file_time_type last_write_time(std::error_code& ec) const;
    file_status status() const;
    file_status status(std::error_code& ec) const;
    file_status symlink_status() const;
    file_status symlink_status(std::error_code& ec) const;

    // Entries compare as their paths do.
    friend bool operator==(const directory_entry& a, const directory_entry& b) noexcept {
        return a.path_ == b.path_;
    }
    friend std::strong_ordering operator<=>(const directory_entry& a,
                                            const directory_entry& b) noexcept {
        return a.path_ <=> b.path_;
    }
    // Quoted, as its path: "c:\\zor".
    friend std::ostream& operator<<(std::ostream& os, const directory_entry& entry) {
        return os << entry.path_;
    }

  private:
    // Which set what they read as they reach each name; the descent asks what it is to enter it.
    friend struct detail::Listing;
    friend struct detail::Descent;

    // The type of what is there with links followed, from the listing where it can tell.
    file_type typeFollowed(std::error_code* ec) const;
    // The same, links not followed.
    file_type typeItself(std::error_code* ec) const;
    // The type of the name itself that the listing or refresh() gave, or the listing's reading
    // where the host's listing could not tell; unknown where neither did.
    file_type typeKept() const;
    // The observers, each once: with `ec` a failure goes there, without it a filesystem_error
    // names directory_entry::file_size and so on.
    std::uintmax_t sizeRead(std::error_code* ec) const;
    std::uintmax_t linksRead(std::error_code* ec) const;
    file_time_type timeRead(std::error_code* ec) const;
    file_status statusRead(std::error_code* ec) const;
    file_status symlinkStatusRead(std::error_code* ec) const;
    // refresh(), both forms: what a listing read is forgotten, the name read again by its path.
    void refreshed(std::error_code* ec);
    // The status of the name itself from what the entry keeps; empty when it is read by path.
    std::optional<file_status> keptStatus() const;
    // What the entry keeps of the name itself: read with the path by refresh(), or of a listed
    // name that is no link on first ask; empty for a name missing at refresh(), a listed link, or
    // a listed name that could not be read.
    std::optional<detail::ListedFacts> keptFacts() const;

    winfs::path path_;
    file_type type_ = file_type::none;  // of the name itself; none when nothing was read
    bool listed_ = false;               // made by a listing, and not refreshed since
    // The folder the listing holds, in which the name is read while it holds it.
    std::weak_ptr<const detail::ListedFolder> folder_;
    detail::KeptFacts kept_;
};

namespace detail {
// What it++ gives: the entry that the iterator was at, kept, since the iterator moves on.
class Passed {
  public:
    explicit Passed(directory_entry entry) : entry_(std::move(entry)) {}
    const directory_entry& operator*() const& noexcept { return entry_; }
    directory_entry operator*() && noexcept { return std::move(entry_); }

  private:
    directory_entry entry_;
};

// What the two directory iterators share, given their operator* and operator++ and a shared state:
// an input iterator's types, ->, it++, and iterators equal when they share their state (all ends
// share none).
template <class Iterator, class State>
class DirectoryIteratorBase {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = directory_entry;
    using difference_type = std::ptrdiff_t;
    using pointer = const directory_entry*;
    using reference = const directory_entry&;

    const directory_entry* operator->() const noexcept { return &*self(); }
    Passed operator++(int) {
        Passed passed(*self());
        ++self();
        return passed;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) noexcept {
        return a.state_ == b.state_;
    }
    bool operator==(std::default_sentinel_t) const noexcept { return state_ == nullptr; }

  protected:
    DirectoryIteratorBase() noexcept = default;
    explicit DirectoryIteratorBase(std::shared_ptr<State> state) noexcept
        : state_(std::move(state)) {}

    std::shared_ptr<State> state_;  // empty at the end

  private:
    Iterator& self() noexcept { return static_cast<Iterator&>(*this); }
    const Iterator& self() const noexcept { return static_cast<const Iterator&>(*this); }
};
}  // namespace detail

// The names of one folder, read whole when the iterator is made (so that they can be put in
// order), each entry's path being the folder's path as given joined with the name as it is on
// disk: directory_iterator("c:\\zor") gives "c:\\zor\\store". A link given as the folder is
// followed. A missing folder, or one below a missing folder, is ERROR_PATH_NOT_FOUND; with
// skip_permission_denied, a folder that may not be read is empty rather than an error.
class directory_iterator
    : public detail::DirectoryIteratorBase<directory_iterator, detail::Listing> {
  public:
    directory_iterator() noexcept;
    explicit directory_iterator(const path& p);
    directory_iterator(const path& p, directory_options options);
    directory_iterator(const path& p, std::error_code& ec);
    directory_iterator(const path& p, directory_options options, std::error_code& ec);

    const directory_entry& operator*() const noexcept;
    directory_iterator& operator++();
    using DirectoryIteratorBase::operator++;
    // Fails only when memory runs out, once the folder is read.
    directory_iterator& increment(std::error_code& ec);
};

inline directory_iterator begin(directory_iterator it) noexcept {
    return it;
}
// By value, as the standard has it: std::ranges::end would not find a const& form.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
inline directory_iterator end(directory_iterator) noexcept {
    return {};
}

// Every name below a folder, each folder's names in index order and each folder's contents right
// after it. Links are entered only with follow_directory_symlink, and then a link to a folder
// that the iteration is already inside (a loop) is given as an entry but not entered.
class recursive_directory_iterator
    : public detail::DirectoryIteratorBase<recursive_directory_iterator, detail::Descent> {
  public:
    recursive_directory_iterator() noexcept;
    explicit recursive_directory_iterator(const path& p);
    recursive_directory_iterator(const path& p, directory_options options);
    recursive_directory_iterator(const path& p, directory_options options, std::error_code& ec);
    recursive_directory_iterator(const path& p, std::error_code& ec);

    directory_options options() const;
    // How many folders below the one given the current entry lies: 0 for its own names.
    int depth() const;
    bool recursion_pending() const;

    const directory_entry& operator*() const noexcept;
    // A folder that cannot be entered is an error that ends the iteration; a folder that may not
    // be read is passed by with skip_permission_denied.
    recursive_directory_iterator& operator++();
    using DirectoryIteratorBase::operator++;
    recursive_directory_iterator& increment(std::error_code& ec);

    // Leaves the current folder for the entry after it in its parent; at depth 0, the end.
    void pop();
    void pop(std::error_code& ec);
    // The next step does not enter the current entry.
    void disable_recursion_pending();
};

inline recursive_directory_iterator begin(recursive_directory_iterator it) noexcept {
    return it;
}
// By value, as the standard has it: std::ranges::end would not find a const& form.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
inline recursive_directory_iterator end(recursive_directory_iterator) noexcept {
    return {};
}

}  // namespace winfs

template <>
inline constexpr bool std::ranges::enable_borrowed_range<winfs::directory_iterator> = true;
template <>
inline constexpr bool std::ranges::enable_view<winfs::directory_iterator> = true;
template <>
inline constexpr bool std::ranges::enable_borrowed_range<winfs::recursive_directory_iterator> =
    true;
template <>
inline constexpr bool std::ranges::enable_view<winfs::recursive_directory_iterator> = true;
