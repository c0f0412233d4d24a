#include "listing/listing.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "pathprobe/winfs/error.h"
#include "text/names.h"

namespace winfs::detail {

host::Error Names::read(host::Place place, host::FolderStamp& stamp) {
    host::Listed listed;
    bool tooMany = false;
    const host::Error error = host::listFolder(place, listed, collector(tooMany));
    return settle(error, tooMany, listed, stamp);
}

host::Error Names::read(const host::Handle& folder, host::FolderStamp& stamp) {
    host::Listed listed;
    bool tooMany = false;
    const host::Error error = host::listFolder(folder, listed, collector(tooMany));
    return settle(error, tooMany, listed, stamp);
}

std::function<void(std::string_view, file_type)> Names::collector(bool& tooMany) {
    block_.clear();
    slots_.clear();
    return [this, &tooMany](std::string_view name, file_type type) {
        if (!windowsCanSpell(name)) return;
        if (block_.size() > std::numeric_limits<std::uint32_t>::max() - name.size()) {
            tooMany = true;
            return;
        }
        slots_.push_back({static_cast<std::uint32_t>(block_.size()),
                          static_cast<std::uint8_t>(name.size()), type});
        block_ += name;
    };
}

host::Error Names::settle(host::Error error, bool tooMany, const host::Listed& listed,
                          host::FolderStamp& stamp) {
    if (error) return error;
    // Over 4 GiB of names: taken as the memory that it would take.
    if (tooMany) throw std::bad_alloc();
    stamp = listed.stamp;
    // Most names differ in their first eight units, which one number orders; the comparison of
    // whole names settles the rest.
    std::vector<std::pair<std::uint64_t, Slot>> keyed;
    keyed.reserve(slots_.size());
    for (const Slot& slot : slots_)
        keyed.emplace_back(orderKeyOf({block_.data() + slot.at, slot.size}), slot);
    std::sort(keyed.begin(), keyed.end(), [this](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        const std::string_view x(block_.data() + a.second.at, a.second.size);
        const std::string_view y(block_.data() + b.second.at, b.second.size);
        // A key that ends in an ASCII unit stands for eight such units, the same in both names.
        const std::size_t alike = (a.first & 0xFF) != 0 && (a.first & 0xFF) != 0xFF ? 8 : 0;
        const int order = compareIgnoringCase(x.substr(alike), y.substr(alike));
        return order != 0 ? order < 0 : x < y;
    });
    for (std::size_t k = 0; k < keyed.size(); ++k)
        slots_[k] = keyed[k].second;
    return {};
}

Listing::Listing(const path& folder) : prefix(folder / "x") {
    // No name that a listing gives holds a separator or a root, so the join does not depend on it.
    std::string text = prefix.native();
    text.pop_back();
    prefix = path(std::move(text));
}

void Listing::hold(host::Handle handle) {
    opened = std::make_shared<const ListedFolder>(ListedFolder{std::move(handle)});
    entry.listed_ = true;
    entry.folder_ = opened;
}

bool Listing::advance() {
    if (next == names.size()) return false;
    entry.path_ = prefix;  // keeps the entry's buffer
    entry.path_ += names.name(next);
    entry.type_ = names.type(next);
    entry.kept_.clear();
    ++next;
    return true;
}

Found folderToList(const path& p, std::error_code& ec) {
    // As Microsoft's library: a path cut short at a null character names no folder.
    if (p.empty() || p.native().find('\0') != std::string::npos) {
        ec = make_error_code(ERROR_FILE_NOT_FOUND);
        return {};
    }
    Found found = findExisting(p, kStatus, ec, Trailing::taken);  // "file.txt\*" lists "file.txt"
    if (ec == make_error_code(ERROR_FILE_NOT_FOUND)) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
    } else if (!ec && found.at.type != file_type::directory) {
        ec = make_error_code(ERROR_DIRECTORY);
    }
    return found;
}

std::error_code readingError(host::Error error, directory_options options) {
    if (error.notAFolder()) return make_error_code(ERROR_DIRECTORY);
    const std::error_code code = error.windows(host::At::folderOnTheWay);
    const bool skip = (options & directory_options::skip_permission_denied) ==
                      directory_options::skip_permission_denied;
    return skip && code == make_error_code(ERROR_ACCESS_DENIED) ? std::error_code() : code;
}

}  // namespace winfs::detail
