// directory_iterator: one folder read whole when the iterator is made, an entry at a time.
#include <memory>
#include <system_error>

#include "host/host.h"
#include "listing/listing.h"
#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/directory.h"

namespace winfs {

namespace {

// The listing of `p`; empty for a folder without names, or one skipped.
std::shared_ptr<detail::Listing> readListing(const path& p, directory_options options,
                                             std::error_code& ec) {
    const Found found = detail::folderToList(p, ec);
    if (ec) return nullptr;
    host::Handle folder;
    if (const host::Error error = openFolderOf(found.at, folder)) {
        ec = detail::readingError(error, options);
        return nullptr;
    }
    auto listing = std::make_shared<detail::Listing>(p);
    host::FolderStamp stamp;
    if (const host::Error error = listing->names.read(folder, stamp)) {
        ec = detail::readingError(error, options);
        return nullptr;
    }
    listing->hold(std::move(folder));
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
