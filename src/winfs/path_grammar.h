// The scanning rules of the Windows path grammar, shared by the files that make up winfs::path.
// Internal to winfs::path: nothing else parses path text.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <cstddef>
#include <string_view>

namespace winfs::grammar {

using size_type = std::size_t;

constexpr bool isSeparator(char c) noexcept {
    return c == '\\' || c == '/';
}

constexpr bool isAsciiLetter(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline size_type findSeparator(std::string_view text, size_type from) noexcept {
    while (from < text.size() && !isSeparator(text[from]))
        ++from;
    return from;
}

inline size_type skipSeparators(std::string_view text, size_type from) noexcept {
    while (from < text.size() && isSeparator(text[from]))
        ++from;
    return from;
}

// "c:x" -> 2; "\\?\x", "\\.\x", "\??\x" -> 3; "\\server\share" -> 8; "\\\x", "cc:x", "1:\x" -> 0.
inline size_type rootNameEnd(std::string_view text) noexcept {
    const size_type n = text.size();
    if (n < 2) return 0;
    if (isAsciiLetter(text[0]) && text[1] == ':') return 2;
    if (!isSeparator(text[0])) return 0;
    if (n >= 4 && isSeparator(text[3]) && (n == 4 || !isSeparator(text[4])) &&
        ((isSeparator(text[1]) && (text[2] == '?' || text[2] == '.')) ||
         (text[1] == '?' && text[2] == '?'))) {
        return 3;
    }
    if (n >= 3 && isSeparator(text[1]) && !isSeparator(text[2])) return findSeparator(text, 3);
    return 0;
}

// The parts of a path's text: [0, rootName) [rootName, relative) [relative, filename) [filename,
// n).
struct Layout {
    size_type rootName;
    size_type relative;
    size_type filename;
};

inline Layout layoutOf(std::string_view text) noexcept {
    Layout layout{};
    layout.rootName = rootNameEnd(text);
    layout.relative = skipSeparators(text, layout.rootName);
    layout.filename = text.size();
    while (layout.filename > layout.relative && !isSeparator(text[layout.filename - 1])) {
        --layout.filename;
    }
    return layout;
}

// Walks the names of a relative path; a trailing separator gives an empty last name.
class ElementCursor {
  public:
    ElementCursor(std::string_view text, size_type start) : text_(text), position_(start) {
        if (position_ >= text_.size()) position_ = done;
    }
    bool more() const noexcept { return position_ != done; }
    std::string_view take() noexcept {
        if (position_ == text_.size()) {
            position_ = done;
            return {};
        }
        const size_type end = findSeparator(text_, position_);
        const std::string_view name = text_.substr(position_, end - position_);
        position_ = skipSeparators(text_, end);
        if (position_ == text_.size() && end == text_.size()) position_ = done;
        return name;
    }

  private:
    static constexpr size_type done = static_cast<size_type>(-1);
    std::string_view text_;
    size_type position_;
};

}  // namespace winfs::grammar
