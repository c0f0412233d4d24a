// winfs::path itself: made from text in any encoding, changed in place, and taken apart into its
// root, parent, file name, stem and extension.
#include "pathprobe/winfs/path.h"

#include <algorithm>
#include <optional>
#include <string>

#include "text/path_grammar.h"
#include "text/utf8.h"

namespace winfs {
namespace {

using namespace grammar;
// A stream suffix (file.txt:stream) is not part of the stem or extension.
std::string_view withoutStream(std::string_view filename) noexcept {
    return filename.substr(0, filename.find(':'));
}

// Where the extension starts in a file name without its stream suffix: the last dot that is not
// the first character; "." and ".." have none.
size_type extensionStart(std::string_view name) noexcept {
    if (name == "." || name == "..") return name.size();
    const size_type dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return name.size();
    return dot;
}

// Where the parent path ends: "c:\cat\dog" -> 6; "c:\cat\dog\" -> 10; "c:\" -> 3.
size_type parentEnd(std::string_view text, const Layout& layout) noexcept {
    size_type last = text.size();
    while (last > layout.relative && !isSeparator(text[last - 1]))
        --last;
    while (last > layout.relative && isSeparator(text[last - 1]))
        --last;
    return last;
}

// The file name as stem and extension see it: without its stream suffix.
std::string_view stemAndExtension(std::string_view text) noexcept {
    return withoutStream(text.substr(layoutOf(text).filename));
}

[[noreturn]] void throwConversionError() {
    throw filesystem_error(std::string(kConversionText),
                           std::make_error_code(std::errc::illegal_byte_sequence));
}

std::string checked(std::string text) {
    if (!isValidUtf8(text)) throwConversionError();
    return text;
}

std::string checked(std::optional<std::string> text) {
    if (!text) throwConversionError();
    return std::move(*text);
}

}  // namespace

path::path(std::string text, format) : text_(checked(std::move(text))) {}
path::path(std::string_view text, format) : path(std::string(text)) {}
path::path(const char* text, format) : path(std::string(text)) {}

std::string path::converted(std::u8string_view text) {
    return checked(utf8Of(text));
}
std::string path::converted(std::u16string_view text) {
    return checked(utf8Of(text));
}
std::string path::converted(std::u32string_view text) {
    return checked(utf8Of(text));
}
std::string path::converted(std::wstring_view text) {
    return checked(utf8Of(text));
}

path& path::operator/=(const path& other) {
    if (other.is_absolute()) return *this = other;

    const std::string_view mine = text_;
    const std::string_view theirs = other.text_;
    const size_type myRootName = rootNameEnd(mine);
    const size_type theirRootName = rootNameEnd(theirs);
    if (theirRootName != 0 && mine.substr(0, myRootName) != theirs.substr(0, theirRootName)) {
        return *this = other;
    }

    if (theirRootName < theirs.size() && isSeparator(theirs[theirRootName])) {
        text_.erase(myRootName);
    } else if (myRootName == mine.size()) {
        // A bare server or device root takes a separator ("\\server" / "share" is
        // "\\server\share"); a bare drive does not ("c:" / "foo" is "c:foo").
        if (myRootName >= 3) text_.push_back(preferred_separator);
    } else if (!isSeparator(mine.back())) {
        text_.push_back(preferred_separator);
    }
    text_.append(theirs.substr(theirRootName));
    return *this;
}

path& path::operator+=(const path& other) {
    text_ += other.text_;
    return *this;
}

path& path::operator+=(std::string_view text) {
    if (!isValidUtf8(text)) throwConversionError();
    text_ += text;
    return *this;
}

path& path::make_preferred() {
    std::replace(text_.begin(), text_.end(), '/', preferred_separator);
    return *this;
}

path& path::remove_filename() {
    text_.erase(layoutOf(text_).filename);
    return *this;
}

path& path::replace_filename(const path& replacement) {
    remove_filename();
    return *this /= replacement;
}

path& path::replace_extension(const path& replacement) {
    const Layout layout = layoutOf(text_);
    const std::string_view name = withoutStream(std::string_view(text_).substr(layout.filename));
    text_.erase(layout.filename + extensionStart(name));
    if (!replacement.empty() && replacement.text_.front() != '.') text_.push_back('.');
    return *this += replacement;
}

path path::root_name() const {
    return path(std::string_view(text_).substr(0, rootNameEnd(text_)), trusted{});
}

path path::root_directory() const {
    const Layout layout = layoutOf(text_);
    return path(std::string_view(text_).substr(layout.rootName, layout.relative - layout.rootName),
                trusted{});
}

path path::root_path() const {
    return path(std::string_view(text_).substr(0, layoutOf(text_).relative), trusted{});
}

path path::relative_path() const {
    return path(std::string_view(text_).substr(layoutOf(text_).relative), trusted{});
}

path path::parent_path() const {
    return path(std::string_view(text_).substr(0, parentEnd(text_, layoutOf(text_))), trusted{});
}

const path path::filename() const {
    return path(std::string_view(text_).substr(layoutOf(text_).filename), trusted{});
}

path path::stem() const {
    const std::string_view name = stemAndExtension(text_);
    return path(name.substr(0, extensionStart(name)), trusted{});
}

path path::extension() const {
    const std::string_view name = stemAndExtension(text_);
    return path(name.substr(extensionStart(name)), trusted{});
}

bool path::has_root_name() const noexcept {
    return rootNameEnd(text_) != 0;
}

bool path::has_root_directory() const noexcept {
    const size_type rootName = rootNameEnd(text_);
    return rootName < text_.size() && isSeparator(text_[rootName]);
}

bool path::has_root_path() const noexcept {
    return layoutOf(text_).relative != 0;
}
bool path::has_relative_path() const noexcept {
    return layoutOf(text_).relative != text_.size();
}
bool path::has_parent_path() const noexcept {
    return parentEnd(text_, layoutOf(text_)) != 0;
}
bool path::has_filename() const noexcept {
    return layoutOf(text_).filename != text_.size();
}
bool path::has_stem() const noexcept {
    return extensionStart(stemAndExtension(text_)) != 0;
}
bool path::has_extension() const noexcept {
    const std::string_view name = stemAndExtension(text_);
    return extensionStart(name) != name.size();
}

bool path::is_absolute() const noexcept {
    return has_root_name() && has_root_directory();
}

}  // namespace winfs
