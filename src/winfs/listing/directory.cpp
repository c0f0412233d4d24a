#include "pathprobe/winfs/directory.h"

#include <memory>
#include <system_error>

#include "listing/listing.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "operations/status.h"
#include "pathprobe/winfs/operations.h"

namespace winfs {
namespace {

// A type the listing or a refresh gave that tells what the name itself is.
bool known(file_type type) noexcept {
    return type != file_type::none && type != file_type::unknown;
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

// As Microsoft's library refreshes: nothing there is an answer (not_found), not an error.
void directory_entry::refresh() {
    type_ =
        queryStatus("symlink_status", path_, kSymlinkStatus, nullptr, Missing::isAnAnswer).type();
}

void directory_entry::refresh(std::error_code& ec) {
    type_ = queryStatus("symlink_status", path_, kSymlinkStatus, &ec, Missing::isAnAnswer).type();
}

file_type directory_entry::typeFollowed(std::error_code* ec) const {
    if (!known(type_) || type_ == file_type::symlink) {
        return queryStatus("status", path_, kStatus, ec, Missing::isAnAnswer).type();
    }
    if (ec != nullptr) ec->clear();
    return type_;
}

file_type directory_entry::typeItself(std::error_code* ec) const {
    if (!known(type_))
        return queryStatus("symlink_status", path_, kSymlinkStatus, ec, Missing::isAnAnswer).type();
    if (ec != nullptr) ec->clear();
    return type_;
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
std::uintmax_t directory_entry::file_size() const { return winfs::file_size(path_); }
std::uintmax_t directory_entry::file_size(std::error_code& ec) const { return winfs::file_size(path_, ec); }
std::uintmax_t directory_entry::hard_link_count() const { return winfs::hard_link_count(path_); }
std::uintmax_t directory_entry::hard_link_count(std::error_code& ec) const { return winfs::hard_link_count(path_, ec); }
file_time_type directory_entry::last_write_time() const { return winfs::last_write_time(path_); }
file_time_type directory_entry::last_write_time(std::error_code& ec) const { return winfs::last_write_time(path_, ec); }
file_status directory_entry::status() const { return winfs::status(path_); }
file_status directory_entry::status(std::error_code& ec) const { return winfs::status(path_, ec); }
file_status directory_entry::symlink_status() const { return winfs::symlink_status(path_); }
file_status directory_entry::symlink_status(std::error_code& ec) const { return winfs::symlink_status(path_, ec); }
// clang-format on

namespace {

// The listing of `p`; empty for a folder without names, or one skipped.
std::shared_ptr<detail::Listing> readListing(const path& p, directory_options options,
                                             std::error_code& ec) {
    const Found found = detail::folderToList(p, ec);
    if (ec) return nullptr;
    auto listing = std::make_shared<detail::Listing>(p);
    host::FolderStamp stamp;
    const host::Error error = listing->names.read(found.at.folder.place(), stamp);
    if (error) {
        ec = detail::readingError(error, options);
        return nullptr;
    }
    return listing->advance() ? listing : nullptr;
}

std::shared_ptr<detail::Listing> opened(const path& p, directory_options options,
                                        std::error_code* ec) {
    return reported("directory_iterator::directory_iterator", ec, p,
                    [&](std::error_code& code) { return readListing(p, options, code); });
}

}  // namespace

directory_iterator::directory_iterator() noexcept = default;
directory_iterator::directory_iterator(const path& p)
    : DirectoryIteratorBase(opened(p, directory_options::none, nullptr)) {}
directory_iterator::directory_iterator(const path& p, directory_options options)
    : DirectoryIteratorBase(opened(p, options, nullptr)) {}
directory_iterator::directory_iterator(const path& p, std::error_code& ec)
    : DirectoryIteratorBase(opened(p, directory_options::none, &ec)) {}
directory_iterator::directory_iterator(const path& p, directory_options options,
                                       std::error_code& ec)
    : DirectoryIteratorBase(opened(p, options, &ec)) {}

const directory_entry& directory_iterator::operator*() const noexcept {
    return state_->entry;
}

directory_iterator& directory_iterator::operator++() {
    if (!state_->advance()) state_.reset();
    return *this;
}

directory_iterator& directory_iterator::increment(std::error_code& ec) {
    ec.clear();
    caught(ec, [&] { ++*this; });  // memory for the entry's path, at most
    if (ec) state_.reset();
    return *this;
}

}  // namespace winfs
