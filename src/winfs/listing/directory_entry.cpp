// directory_entry: what an entry keeps of its name, from a listing or read at once from a path,
// and what it reads again when asked.
#include "pathprobe/winfs/directory.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "host/host.h"
#include "listing/listing.h"
#include "operations/file_times.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"
#include "pathprobe/winfs/queries.h"

namespace winfs {
namespace {

// A type the listing or a refresh gave that tells what the name itself is.
bool known(file_type type) noexcept {
    return type != file_type::none && type != file_type::unknown;
}

// What Microsoft's library reports for a read-only file: everything but the three write bits.
constexpr perms kReadOnly =
    perms::all & ~(perms::owner_write | perms::group_write | perms::others_write);

constexpr auto kNoSize = static_cast<std::uintmax_t>(-1);

// What an entry keeps of a name: its type and attribute, and the size and time fstatat told.
detail::ListedFacts factsOf(file_type type, bool readOnly, const host::Stat& st) {
    detail::ListedFacts facts;
    facts.type = type;
    facts.readOnly = readOnly;
    facts.size = st.size;
    const std::optional<file_time_type> time = fileTimeFor(st.modified);
    facts.timeFits = time.has_value();
    facts.time = time.value_or(file_time_type::min());
    return facts;
}

// The status of what `p` names, read now: nothing there is an answer (not_found) that only the
// error_code form reports, as status(p) answers, so that only another failure throws.
file_status statusByPath(const path& p, Lookup lookup, const std::error_code* ec,
                         std::error_code& code) {
    const file_status s = lookUpStatus(p, lookup, code, Permissions::read);
    if (s.type() == file_type::not_found && ec == nullptr) code.clear();
    return s;
}

// What fstatat tells of the name itself, in the folder the listing holds while it holds it, else
// by the entry's path.
host::Result<host::Stat> readItself(const path& p, const detail::ListedFolder* folder) {
    if (folder != nullptr) {
        const std::string name = p.filename().native();
        return host::statAt({folder->handle.get(), name.c_str()}, false);
    }
    std::error_code ec;
    const Found found = findExisting(p, kSymlinkStatus, ec);
    if (ec) return host::Error(ENOENT);
    return statFound(found.at);
}

}  // namespace

directory_entry::directory_entry(const winfs::path& p) : path_(p) {
    refresh();
}

directory_entry::directory_entry(const winfs::path& p, std::error_code& ec) : path_(p) {
    refresh(ec);
}

void directory_entry::assign(const winfs::path& p) {
    path_ = p;
    refresh();
}

void directory_entry::assign(const winfs::path& p, std::error_code& ec) {
    path_ = p;
    refresh(ec);
}

void directory_entry::replace_filename(const winfs::path& p) {
    path_.replace_filename(p);
    refresh();
}

void directory_entry::replace_filename(const winfs::path& p, std::error_code& ec) {
    path_.replace_filename(p);
    refresh(ec);
}

// As Microsoft's library refreshes: nothing there is an answer (not_found), not an error. The type,
// attribute, size and time are read now and kept, so that the entry of a file removed after it
// still gives them; a link's target is read when asked.
void directory_entry::refresh() {
    refreshed(nullptr);
}
void directory_entry::refresh(std::error_code& ec) {
    refreshed(&ec);
}

void directory_entry::refreshed(std::error_code* ec) {
    listed_ = false;
    folder_.reset();
    kept_.clear();
    type_ = reported("directory_entry::refresh", ec, path_, [&](std::error_code& code) {
        std::optional<host::Stat> itself;
        const file_status found = lookUpEntry(path_, code, itself);
        if (found.type() == file_type::not_found) {
            code.clear();
        } else if (!code && itself) {
            kept_.keep(factsOf(found.type(), found.permissions() == kReadOnly, *itself));
        }
        return found.type();
    });
}

std::optional<detail::ListedFacts> directory_entry::keptFacts() const {
    if (const detail::ListedFacts* kept = kept_.get()) return *kept;
    if (!listed_ || type_ == file_type::symlink) return std::nullopt;
    const std::shared_ptr<const detail::ListedFolder> folder = folder_.lock();
    const host::Result<host::Stat> st = readItself(path_, folder.get());
    if (!st) return std::nullopt;
    const file_type type = known(type_) ? type_ : st->type;
    const bool readOnly =
        type == file_type::regular && (st->mode & static_cast<unsigned>(perms::owner_write)) == 0;
    const detail::ListedFacts facts = factsOf(type, readOnly, *st);
    kept_.keep(facts);
    return facts;
}

std::optional<file_status> directory_entry::keptStatus() const {
    // A listing keeps only a file's attribute: nothing more to read of the others.
    if (listed_ && known(type_) && type_ != file_type::regular) {
        return file_status(type_, perms::all);
    }
    const std::optional<detail::ListedFacts> facts = keptFacts();
    if (!facts) return std::nullopt;
    return file_status(facts->type, facts->readOnly ? kReadOnly : perms::all);
}

file_type directory_entry::typeKept() const {
    if (known(type_)) return type_;
    const std::optional<detail::ListedFacts> facts = keptFacts();
    return facts ? facts->type : file_type::unknown;
}

file_type directory_entry::typeItself(std::error_code* ec) const {
    const file_type itself = typeKept();
    if (!known(itself)) {
        return queryStatus("directory_entry::symlink_status", path_, kSymlinkStatus, ec,
                           Missing::isAnAnswer)
            .type();
    }
    if (ec != nullptr) ec->clear();
    return itself;
}

file_type directory_entry::typeFollowed(std::error_code* ec) const {
    const file_type itself = typeKept();
    if (!known(itself) || itself == file_type::symlink) {
        return queryStatus("directory_entry::status", path_, kStatus, ec, Missing::isAnAnswer)
            .type();
    }
    if (ec != nullptr) ec->clear();
    return itself;
}

// A link's size and time are its target's, read by the path, as Microsoft's library reads them.
std::uintmax_t directory_entry::sizeRead(std::error_code* ec) const {
    return reported("directory_entry::file_size", ec, path_, [&](std::error_code& code) {
        const std::optional<detail::ListedFacts> facts = keptFacts();
        if (!facts || facts->type == file_type::symlink) return winfs::file_size(path_, code);
        if (facts->type == file_type::regular) return facts->size;
        if (facts->type == file_type::directory) return std::uintmax_t{0};  // as NTFS lists it
        code = make_error_code(ERROR_NOT_SUPPORTED);                        // a FIFO, a device
        return kNoSize;
    });
}

std::uintmax_t directory_entry::linksRead(std::error_code* ec) const {
    return reported("directory_entry::hard_link_count", ec, path_,
                    [&](std::error_code& code) { return winfs::hard_link_count(path_, code); });
}

file_time_type directory_entry::timeRead(std::error_code* ec) const {
    return reported("directory_entry::last_write_time", ec, path_, [&](std::error_code& code) {
        const std::optional<detail::ListedFacts> facts = keptFacts();
        if (!facts || facts->type == file_type::symlink) return winfs::last_write_time(path_, code);
        if (!facts->timeFits) code = make_error_code(ERROR_INVALID_PARAMETER);
        return facts->time;
    });
}

file_status directory_entry::statusRead(std::error_code* ec) const {
    return reported("directory_entry::status", ec, path_, [&](std::error_code& code) {
        const std::optional<file_status> kept = keptStatus();
        if (!kept || kept->type() == file_type::symlink)
            return statusByPath(path_, kStatus, ec, code);
        return *kept;
    });
}

file_status directory_entry::symlinkStatusRead(std::error_code* ec) const {
    return reported("directory_entry::symlink_status", ec, path_, [&](std::error_code& code) {
        const std::optional<file_status> kept = keptStatus();
        return kept ? *kept : statusByPath(path_, kSymlinkStatus, ec, code);
    });
}

// clang-format off
bool directory_entry::exists() const { return winfs::exists(file_status(typeFollowed(nullptr))); }
bool directory_entry::exists(std::error_code& ec) const { return winfs::exists(file_status(typeFollowed(&ec))); }
bool directory_entry::is_block_file() const { return typeFollowed(nullptr) == file_type::block; }
bool directory_entry::is_block_file(std::error_code& ec) const { return typeFollowed(&ec) == file_type::block; }
bool directory_entry::is_character_file() const { return typeFollowed(nullptr) == file_type::character; }
bool directory_entry::is_character_file(std::error_code& ec) const { return typeFollowed(&ec) == file_type::character; }
bool directory_entry::is_directory() const { return typeFollowed(nullptr) == file_type::directory; }
bool directory_entry::is_directory(std::error_code& ec) const { return typeFollowed(&ec) == file_type::directory; }
bool directory_entry::is_fifo() const { return typeFollowed(nullptr) == file_type::fifo; }
bool directory_entry::is_fifo(std::error_code& ec) const { return typeFollowed(&ec) == file_type::fifo; }
bool directory_entry::is_other() const { return winfs::is_other(file_status(typeFollowed(nullptr))); }
bool directory_entry::is_other(std::error_code& ec) const { return winfs::is_other(file_status(typeFollowed(&ec))); }
bool directory_entry::is_regular_file() const { return typeFollowed(nullptr) == file_type::regular; }
bool directory_entry::is_regular_file(std::error_code& ec) const { return typeFollowed(&ec) == file_type::regular; }
bool directory_entry::is_socket() const { return typeFollowed(nullptr) == file_type::socket; }
bool directory_entry::is_socket(std::error_code& ec) const { return typeFollowed(&ec) == file_type::socket; }
bool directory_entry::is_symlink() const { return typeItself(nullptr) == file_type::symlink; }
bool directory_entry::is_symlink(std::error_code& ec) const { return typeItself(&ec) == file_type::symlink; }
std::uintmax_t directory_entry::file_size() const { return sizeRead(nullptr); }
std::uintmax_t directory_entry::file_size(std::error_code& ec) const { return sizeRead(&ec); }
std::uintmax_t directory_entry::hard_link_count() const { return linksRead(nullptr); }
std::uintmax_t directory_entry::hard_link_count(std::error_code& ec) const { return linksRead(&ec); }
file_time_type directory_entry::last_write_time() const { return timeRead(nullptr); }
file_time_type directory_entry::last_write_time(std::error_code& ec) const { return timeRead(&ec); }
file_status directory_entry::status() const { return statusRead(nullptr); }
file_status directory_entry::status(std::error_code& ec) const { return statusRead(&ec); }
file_status directory_entry::symlink_status() const { return symlinkStatusRead(nullptr); }
file_status directory_entry::symlink_status(std::error_code& ec) const { return symlinkStatusRead(&ec); }
// clang-format on

}  // namespace winfs
