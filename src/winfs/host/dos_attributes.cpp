// The DOS attributes kept beside the host's mode, of host.h.
#include <sys/xattr.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "host/host.h"
#include "host/host_internal.h"

namespace winfs::host {
namespace {

// Wine's and Samba's name for the record, and the form of its value: "0x" and hexadecimal digits.
constexpr const char* kDosAttributes = "user.DOSATTRIB";

// Whether the call that just failed found no record: a file system that keeps no extended
// attributes, or none of this name, keeps no attributes.
bool noRecord() noexcept {
    return errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP;
}

}  // namespace

Result<std::uint32_t> dosAttributesAt(Place place) {
    const Result<Handle> folder = openChildFolder(descriptor(place), nameOf(place));
    if (!folder) return folder.error();
    std::array<char, 64> value{};
    const ssize_t size = ::fgetxattr(folder->get(), kDosAttributes, value.data(), value.size() - 1);
    if (size < 0)
        return noRecord() ? Result<std::uint32_t>(0U) : Result<std::uint32_t>(Error::last());
    std::string_view text(value.data(), static_cast<std::size_t>(size));
    if (!text.starts_with("0x")) return 0U;  // a record of another form: none that we read
    text.remove_prefix(2);
    std::uint32_t attributes = 0;
    std::from_chars(text.data(), text.data() + text.size(), attributes, 16);
    return attributes;
}

Error setDosAttributes(Place place, std::uint32_t attributes) {
    const Result<Handle> folder = openChildFolder(descriptor(place), nameOf(place));
    if (!folder) return folder.error();
    if (attributes == 0) {
        if (::fremovexattr(folder->get(), kDosAttributes) == 0 || noRecord()) return {};
        return Error::last();
    }
    std::array<char, 16> value{};
    const int size = std::snprintf(value.data(), value.size(), "0x%x", attributes);
    return ::fsetxattr(folder->get(), kDosAttributes, value.data(), static_cast<std::size_t>(size),
                       0) == 0
               ? Error()
               : Error::last();
}

}  // namespace winfs::host
