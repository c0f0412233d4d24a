// The DOS attributes kept beside the host's mode, of host.h: a folder's record, and a link's.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "host/host.h"
#include "host/host_internal.h"

namespace winfs::host {
namespace {

// Wine's and Samba's name for the record.
constexpr const char* kDosAttributes = "user.DOSATTRIB";
constexpr std::uint32_t kReadOnly = 0x1;

// Whether the call that just failed found no record: a file system that keeps no extended
// attributes, or none of this name, keeps no attributes.
bool noRecord() noexcept {
    return errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP;
}

// A folder as the record calls reach it: opened for reading, as a listing opens it, and the calls
// made on that handle. A folder that may be entered but not listed (mode 0311) refuses that open,
// and Linux takes no O_PATH handle in fgetxattr and the rest; such a folder is held with O_PATH,
// which asks nothing of the folder itself, and named for the calls as /proc/self/fd/N, which
// leads to the folder held however it is renamed meanwhile. Without /proc it is refused as such.
class Folder {
  public:
    Folder() = default;

    static Result<Folder> at(Place place) {
        constexpr int kNoFollow = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        Handle readable(::openat(descriptor(place), nameOf(place), O_RDONLY | kNoFollow));
        if (readable) return Folder(std::move(readable), "");
        if (errno != EACCES) return Error::last();
        // The folder itself, as the walk holds it: named by its handle, which a folder that may not
        // be entered (mode 0) refuses to open again as ".".
        if (place.folder >= 0 && *place.below == '\0') {
            return Folder(Handle(), "/proc/self/fd/" + std::to_string(place.folder));
        }
        Handle held(::openat(descriptor(place), nameOf(place), O_PATH | kNoFollow));
        if (!held) return Error::last();
        std::string name = "/proc/self/fd/" + std::to_string(held.get());
        return Folder(std::move(held), std::move(name));
    }

    ssize_t get(char* value, std::size_t size) const {
        return call([&](const char* name) { return ::getxattr(name, kDosAttributes, value, size); },
                    [&](int fd) { return ::fgetxattr(fd, kDosAttributes, value, size); });
    }
    ssize_t list(char* names, std::size_t size) const {
        return call([&](const char* name) { return ::listxattr(name, names, size); },
                    [&](int fd) { return ::flistxattr(fd, names, size); });
    }
    Error set(std::string_view value) const {
        return call(
                   [&](const char* name) {
                       return ::setxattr(name, kDosAttributes, value.data(), value.size(), 0);
                   },
                   [&](int fd) {
                       return ::fsetxattr(fd, kDosAttributes, value.data(), value.size(), 0);
                   }) == 0
                   ? Error()
                   : Error::last();
    }
    Error remove() const {
        if (call([&](const char* name) { return ::removexattr(name, kDosAttributes); },
                 [&](int fd) { return ::fremovexattr(fd, kDosAttributes); }) == 0 ||
            noRecord()) {
            return {};
        }
        return Error::last();
    }

  private:
    Folder(Handle handle, std::string name) : handle_(std::move(handle)), name_(std::move(name)) {}

    template <class ByName, class ByHandle>
    ssize_t call(ByName byName, ByHandle byHandle) const {
        if (name_.empty()) return byHandle(handle_.get());
        const ssize_t result = byName(name_.c_str());
        if (result < 0 && errno == ENOENT) errno = EACCES;  // no /proc
        return result;
    }

    Handle handle_;
    std::string name_;  // empty when `handle_` is open for reading
};

// What a folder holds as its record.
struct Record {
    bool there = false;     // a record of that name is on the folder
    bool readable = false;  // and `value` holds it: Linux reads a user attribute of a folder only
                            // for one who may list the folder
    std::string value;
};

Result<Record> readRecord(const Folder& folder) {
    Record record;
    // Most fit here (Wine's "0x10", Samba's 24 to 60 bytes); a longer one is asked its size.
    std::array<char, 256> first{};
    ssize_t size = folder.get(first.data(), first.size());
    if (size >= 0) record.value.assign(first.data(), static_cast<std::size_t>(size));
    for (int round = 0; size < 0 && errno == ERANGE && round < 4; ++round) {
        const ssize_t wanted = folder.get(nullptr, 0);
        if (wanted < 0) break;
        record.value.resize(static_cast<std::size_t>(wanted));
        size = folder.get(record.value.data(), record.value.size());  // ERANGE: it grew meanwhile
    }
    if (size >= 0) {
        record.value.resize(static_cast<std::size_t>(size));
        record.there = record.readable = true;
        return record;
    }
    if (noRecord()) return record;
    if (errno != EACCES) return Error::last();
    // Whether it is there, which listing the folder's attribute names tells without permission.
    std::array<char, 4096> names{};
    const ssize_t listed = folder.list(names.data(), names.size());
    const std::string_view all(names.data(), listed > 0 ? static_cast<std::size_t>(listed) : 0);
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = all.find('\0', at);
        if (all.substr(at, end - at) == kDosAttributes) record.there = true;
        at = end == std::string_view::npos ? all.size() : end + 1;
    }
    // Too many names to list here: taken as there, so that it is never written over unread.
    if (listed < 0 && errno == ERANGE) record.there = true;
    return record;
}

// A record's forms. Wine writes the text "0x" and hexadecimal digits alone. Samba writes that text
// and a NUL, then a binary part: a uint16 version, the same again, then, from a multiple of four
// bytes into the whole value, a structure that holds the attributes again (versions 1 and 0xFFFF
// first; 2 after its flags; 3 to 5 after which fields are valid, 0x1 the attributes), all little
// endian. From version 4 on the text is empty: the value starts with its NUL.
constexpr std::uint32_t kAttributesValid = 0x1;

std::uint32_t fieldAt(std::string_view value, std::size_t at, std::size_t bytes) {
    std::uint32_t field = 0;
    for (std::size_t i = bytes; i-- > 0;)
        field = (field << 8) | static_cast<unsigned char>(value[at + i]);
    return field;
}

void setFieldAt(std::string& value, std::size_t at, std::uint32_t field) {
    for (std::size_t i = 0; i < 4; ++i)
        value[at + i] = static_cast<char>((field >> (8 * i)) & 0xFF);
}

// Where the binary part after a text of `text` bytes (with its NUL) keeps the attributes, and
// where it says they are valid (npos for a version that always holds them); empty for a version
// Samba never wrote, or a part cut short.
struct Binary {
    std::size_t attributes = 0;
    std::size_t valid = std::string_view::npos;
};
std::optional<Binary> binaryIn(std::string_view value, std::size_t text) {
    const std::size_t version = (text + 1) / 2 * 2;
    if (value.size() < version + 4) return std::nullopt;
    const std::uint32_t number = fieldAt(value, version, 2);
    if (fieldAt(value, version + 2, 2) != number) return std::nullopt;
    const std::size_t structure = (version + 4 + 3) / 4 * 4;
    Binary binary;
    switch (number) {
        case 1:
        case 0xFFFF:
            binary.attributes = structure;
            break;
        case 2:
            binary.attributes = structure + 4;
            break;
        case 3:
        case 4:
        case 5:
            binary.valid = structure;
            binary.attributes = structure + 4;
            break;
        default:
            return std::nullopt;
    }
    if (value.size() < binary.attributes + 4) return std::nullopt;
    return binary;
}

bool isHexDigit(char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::uint32_t hexValue(char digit) noexcept {
    return static_cast<std::uint32_t>(digit <= '9' ? digit - '0' : (digit | 0x20) - 'a' + 10);
}

// The end of the text's digits after "0x"; 0 for a value that holds no such text.
std::size_t digitsEnd(std::string_view value) {
    if (!value.starts_with("0x")) return 0;
    std::size_t end = 2;
    while (end < value.size() && isHexDigit(value[end]))
        ++end;
    return end > 2 ? end : 0;
}

// The attributes a record gives: those of its text, or where the text is empty those of Samba's
// binary part. What cannot be read gives none.
std::uint32_t attributesIn(std::string_view value) {
    const std::size_t end = digitsEnd(value);
    if (end != 0) {
        std::uint32_t attributes = 0;
        for (std::size_t at = 2; at < end; ++at) {
            if (attributes > 0x0FFFFFFF) return 0;  // more than 32 bits: none that we read
            attributes = attributes << 4 | hexValue(value[at]);
        }
        return attributes;
    }
    if (!value.starts_with('\0')) return 0;
    const std::optional<Binary> binary = binaryIn(value, 1);
    if (!binary) return 0;
    if (binary->valid != std::string_view::npos &&
        (fieldAt(value, binary->valid, 4) & kAttributesValid) == 0) {
        return 0;
    }
    return fieldAt(value, binary->attributes, 4);
}

// The record with the read-only bit set or cleared and all else kept: the text's last digit
// changed in place, so that its length and what follows stay, and the binary part's attributes as
// well. A binary part of a version Samba never wrote cannot be kept in step: the text goes alone.
// Empty for a record that holds nothing we read.
std::optional<std::string> withReadOnly(std::string value, bool readOnly) {
    std::size_t binaryAt = 1;
    if (const std::size_t end = digitsEnd(value); end != 0) {
        // The bit moves a digit by one within 0-9, a-f or A-F: '0' to '1', 'e' to 'f'.
        char& last = value[end - 1];
        const std::uint32_t digit = hexValue(last);
        const std::uint32_t changed = readOnly ? digit | kReadOnly : digit & ~kReadOnly;
        last = static_cast<char>(last + static_cast<int>(changed) - static_cast<int>(digit));
        const std::size_t nul = value.find('\0', end);
        if (nul == std::string::npos || nul + 1 == value.size()) return value;
        binaryAt = nul + 1;
    } else if (!value.starts_with('\0')) {
        return std::nullopt;
    }
    const std::optional<Binary> binary = binaryIn(value, binaryAt);
    if (!binary) {
        if (binaryAt == 1) return std::nullopt;
        value.resize(binaryAt - 1);
        return value;
    }
    // Attributes that the part does not vouch for are none: valid from now on, read-only alone.
    std::uint32_t attributes = fieldAt(value, binary->attributes, 4);
    if (binary->valid != std::string::npos) {
        const std::uint32_t valid = fieldAt(value, binary->valid, 4);
        if ((valid & kAttributesValid) == 0) attributes = 0;
        setFieldAt(value, binary->valid, valid | kAttributesValid);
    }
    setFieldAt(value, binary->attributes,
               readOnly ? attributes | kReadOnly : attributes & ~kReadOnly);
    return value;
}

}  // namespace

Result<std::uint32_t> dosAttributesAt(Place place) {
    const Result<Folder> folder = Folder::at(place);
    if (!folder) return folder.error();
    const Result<Record> record = readRecord(*folder);
    if (!record) return record.error();
    return record->readable ? attributesIn(record->value) : 0U;
}

Error setDosReadOnly(Place place, bool readOnly) {
    const Result<Folder> folder = Folder::at(place);
    if (!folder) return folder.error();
    const Result<Record> record = readRecord(*folder);
    if (!record) return record.error();
    if (!record->readable) {
        // One we may not read is not written over: what else it says would be lost.
        if (record->there) return Error(EACCES);
        return readOnly ? folder->set("0x1") : Error();
    }
    if (((attributesIn(record->value) & kReadOnly) != 0) == readOnly) return {};
    const std::optional<std::string> changed = withReadOnly(record->value, readOnly);
    // A record in no form we read says nothing: Wine's text takes its place.
    if (!changed) return readOnly ? folder->set("0x1") : Error();
    // Wine's text with no attribute left goes, as Wine removes it.
    if (!readOnly && attributesIn(*changed) == 0 && changed->find('\0') == std::string::npos)
        return folder->remove();
    return folder->set(*changed);
}

namespace {

// The name of a link's record: its device, inode and birth time (0 where the file system keeps
// none), which no other link on the host shares while it stands.
Result<std::string> linkRecordName(Place link) {
    struct statx st {};
    if (::statx(descriptor(link), nameOf(link), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                STATX_TYPE | STATX_INO | STATX_BTIME, &st) != 0) {
        return Error::last();
    }
    if (!S_ISLNK(st.stx_mode)) return Error(EINVAL);
    const bool born = (st.stx_mask & STATX_BTIME) != 0;
    const std::uint64_t device =
        (static_cast<std::uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
    return std::to_string(device) + '.' + std::to_string(st.stx_ino) + '.' +
           std::to_string(born ? st.stx_btime.tv_sec : 0) + '.' +
           std::to_string(born ? st.stx_btime.tv_nsec : 0U);
}

Result<Handle> openTable(Place table) {
    Handle held(
        ::openat(descriptor(table), nameOf(table), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!held) return Error::last();
    return held;
}

}  // namespace

Result<bool> linkReadOnlyAt(Place table, Place link) {
    // A table that is not there, or that we may not search (another account's prefix), holds no
    // record for us, as a folder's record that we may not read counts as none.
    const auto none = [](Error error) { return error.missing() || error.denied(); };
    const Result<Handle> folder = openTable(table);
    if (!folder) return none(folder.error()) ? Result<bool>(false) : folder.error();
    const Result<std::string> name = linkRecordName(link);
    if (!name) return name.error();
    struct stat st {};
    if (::fstatat(folder->get(), name->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    const Error error = Error::last();
    return none(error) ? Result<bool>(false) : error;
}

Error setLinkReadOnly(Place table, Place link, bool readOnly) {
    const Result<std::string> name = linkRecordName(link);
    if (!name) return name.error();
    Result<Handle> folder = openTable(table);
    if (!folder && folder.error().missing() && readOnly) {
        if (::mkdirat(descriptor(table), nameOf(table), 0777) != 0 && errno != EEXIST)
            return Error::last();
        folder = openTable(table);
    }
    if (!folder) return folder.error().missing() && !readOnly ? Error() : folder.error();
    if (!readOnly) {
        if (::unlinkat(folder->get(), name->c_str(), 0) == 0 || errno == ENOENT) return {};
        return Error::last();
    }
    // Made, or already there: either way the record stands.
    if (::mknodat(folder->get(), name->c_str(), S_IFREG | 0644, 0) == 0 || errno == EEXIST)
        return {};
    return Error::last();
}

}  // namespace winfs::host
