#include "pathprobe/winfs/path.h"

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <istream>
#include <optional>
#include <ostream>
#include <vector>

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

// What a failed conversion says, alone or after the operation that met it.
constexpr std::string_view kConversionText = "Cannot convert character sequence";

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

template <class String>
String generic(String text) {
    std::replace(text.begin(), text.end(), typename String::value_type('\\'),
                 typename String::value_type('/'));
    return text;
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

std::string path::generic_string() const {
    return generic(text_);
}

std::u8string path::generic_u8string() const {
    return generic(u8string());
}

std::wstring path::wstring() const {
    return wideOf(text_);
}

std::wstring path::generic_wstring() const {
    return generic(wstring());
}

std::u16string path::u16string() const {
    return utf16Of(text_);
}

std::u16string path::generic_u16string() const {
    return generic(u16string());
}

std::u32string path::u32string() const {
    return utf32Of(text_);
}

std::u32string path::generic_u32string() const {
    return generic(u32string());
}

int path::compare(const path& other) const noexcept {
    const std::string_view mine = text_;
    const std::string_view theirs = other.text_;
    const Layout a = layoutOf(mine);
    const Layout b = layoutOf(theirs);

    // Root names compare exactly: "//server" sorts before "C:", and "\\\\server" after it.
    const int roots = mine.substr(0, a.rootName).compare(theirs.substr(0, b.rootName));
    if (roots != 0) return roots < 0 ? -1 : 1;
    const bool dirA = a.relative > a.rootName;
    const bool dirB = b.relative > b.rootName;
    if (dirA != dirB) return dirA ? 1 : -1;

    ElementCursor left{mine, a.relative}, right{theirs, b.relative};
    while (left.more() && right.more()) {
        const int c = left.take().compare(right.take());
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (left.more()) return 1;
    if (right.more()) return -1;
    return 0;
}

std::size_t hash_value(const path& p) noexcept {
    // FNV-1a over the text as compare() sees it.
    const std::string_view text = p.text_;
    const size_type rootName = rootNameEnd(text);
    std::uint64_t hash = 14695981039346656037ull;
    const auto add = [&hash](char c) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    };
    for (size_type i = 0; i < rootName; ++i)
        add(text[i]);
    for (size_type i = rootName; i < text.size();) {
        if (isSeparator(text[i])) {
            add(path::preferred_separator);
            i = skipSeparators(text, i);
        } else {
            add(text[i++]);
        }
    }
    return static_cast<std::size_t>(hash);
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

path::iterator path::begin() const {
    const std::string_view text = text_;
    if (text.empty()) return end();
    const size_type rootName = rootNameEnd(text);
    const size_type relative = skipSeparators(text, rootName);
    const size_type last = rootName != 0   ? rootName
                           : relative != 0 ? relative
                                           : findSeparator(text, 0);
    return iterator(this, 0, last, rootName, relative);
}

path::iterator path::end() const {
    return iterator(this, iterator::npos, iterator::npos, iterator::npos, iterator::npos);
}

path::iterator::iterator(const path* owner, size_type first, size_type last, size_type rootName,
                         size_type relative)
    : owner_(owner), first_(first), last_(last), rootName_(rootName), relative_(relative) {
    load();
}

void path::iterator::load() {
    if (first_ == npos) {
        element_.clear();
        return;
    }
    // Assigning in place keeps the element's buffer from step to step.
    element_.text_.assign(owner_->text_, first_, last_ - first_);
}

path::iterator& path::iterator::operator++() {
    const std::string_view text = owner_->text_;
    size_type next;
    if (first_ == text.size()) {
        next = npos;  // past the empty element after a trailing separator
    } else if (first_ < relative_) {
        // From the root name to the root directory, or from either to the first name.
        if (last_ == rootName_ && rootName_ != 0 && relative_ > rootName_) {
            first_ = rootName_;
            last_ = relative_;
            load();
            return *this;
        }
        next = relative_;
    } else {
        next = skipSeparators(text, last_);
        if (next == text.size() && last_ < text.size()) {
            first_ = last_ = text.size();  // "a" ends in an empty element
            load();
            return *this;
        }
    }
    if (next >= text.size()) {
        first_ = last_ = npos;
    } else {
        first_ = next;
        last_ = findSeparator(text, next);
    }
    load();
    return *this;
}

path::iterator& path::iterator::operator--() {
    const std::string_view text = owner_->text_;
    if (rootName_ == npos) {
        rootName_ = rootNameEnd(text);
        relative_ = skipSeparators(text, rootName_);
    }
    size_type stop = first_;  // the element before ends here, separators included
    if (first_ == npos) {
        stop = text.size();
        if (stop > relative_ && isSeparator(text.back())) {
            first_ = last_ = stop;  // the empty element after a trailing separator
            load();
            return *this;
        }
    }
    if (stop > relative_) {
        // The relative part starts with a name, so a name lies between it and `stop`.
        size_type nameEnd = stop;
        while (isSeparator(text[nameEnd - 1]))
            --nameEnd;
        size_type nameStart = nameEnd;
        while (nameStart > relative_ && !isSeparator(text[nameStart - 1]))
            --nameStart;
        first_ = nameStart;
        last_ = nameEnd;
    } else if (stop == relative_ && relative_ > rootName_) {
        first_ = rootName_;
        last_ = relative_;
    } else {
        first_ = 0;
        last_ = rootName_;
    }
    load();
    return *this;
}

std::ostream& operator<<(std::ostream& os, const path& p) {
    std::string quoted;
    quoted.reserve(p.text_.size() + 2);
    quoted.push_back('"');
    for (const char c : p.text_) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return os << quoted;
}

std::istream& operator>>(std::istream& is, path& p) {
    // As the standard has it: a failed read leaves an empty path, as it leaves 0 in an int.
    std::string text;
    is >> std::quoted(text);
    p = path(std::move(text));
    return is;
}

namespace {

std::string describe(const std::string& what_arg, const std::error_code& ec, const path* p1,
                     const path* p2) {
    // A name that is not UTF-8 reads as the path type says it: "canonical: Cannot convert character
    // sequence [c:\zor]", not in the host's words for EILSEQ.
    std::string text = what_arg;
    if (ec != std::errc::illegal_byte_sequence) {
        text += ": " + ec.message();
    } else if (what_arg != kConversionText) {
        text += ": ";
        text += kConversionText;
    }
    for (const path* p : {p1, p2}) {
        if (p != nullptr && !p->empty()) text += " [" + p->string() + "]";
    }
    return text;
}

}  // namespace

filesystem_error::filesystem_error(const std::string& what_arg, std::error_code ec)
    : std::system_error(ec, what_arg), what_(describe(what_arg, ec, nullptr, nullptr)) {}

filesystem_error::filesystem_error(const std::string& what_arg, const path& p1, std::error_code ec)
    : std::system_error(ec, what_arg), path1_(p1), what_(describe(what_arg, ec, &p1, nullptr)) {}

filesystem_error::filesystem_error(const std::string& what_arg, const path& p1, const path& p2,
                                   std::error_code ec)
    : std::system_error(ec, what_arg),
      path1_(p1),
      path2_(p2),
      what_(describe(what_arg, ec, &p1, &p2)) {}

}  // namespace winfs
