// The lexical operations of winfs::path that make a new path of an old one: the normal form and
// the relative forms.
#include <algorithm>
#include <string>
#include <vector>

#include "pathprobe/winfs/path.h"
#include "text/path_grammar.h"

namespace winfs {
namespace {

using namespace grammar;

// Text with only '\' separators, none doubled, and no "." or ".." names is its own normal form.
bool isNormal(std::string_view text) noexcept {
    const size_type rootName = rootNameEnd(text);
    if (text.substr(0, rootName).find('/') != std::string_view::npos) return false;
    char previous = '\0';
    size_type nameStart = rootName;
    for (size_type i = rootName; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '\\';
        if (c == '/' || (c == '\\' && previous == '\\' && i < text.size())) return false;
        if (c == '\\') {
            const std::string_view name = text.substr(nameStart, i - nameStart);
            if (name == "." || name == "..") return false;
            nameStart = i + 1;
        }
        previous = c;
    }
    return true;
}

}  // namespace

// The standard's normal form with '\' as the preferred separator: "X:///" -> "X:\",
// "C:\a\.\b\..\c\." -> "C:\a\c\", ".\" -> ".", "..\..\" -> "..\..".
path path::lexically_normal() const {
    if (text_.empty()) return path();
    const std::string_view text = text_;
    if (isNormal(text)) return *this;
    const size_type rootName = rootNameEnd(text);

    // Each element is a name, or an empty view for one separator.
    std::vector<std::string_view> elements;
    elements.reserve(text.size() / 2 + 1);
    const bool rooted = rootName < text.size() && isSeparator(text[rootName]);
    bool dropNextSeparator = false;
    for (size_type i = rootName; i < text.size();) {
        if (isSeparator(text[i])) {
            i = skipSeparators(text, i);
            if (!dropNextSeparator) elements.emplace_back();
            dropNextSeparator = false;
            continue;
        }
        const size_type end = findSeparator(text, i);
        const std::string_view name = text.substr(i, end - i);
        i = end;
        dropNextSeparator = false;
        if (name == ".") {
            dropNextSeparator = true;
        } else if (name == "..") {
            const size_type count = elements.size();
            if (count >= 2 && elements[count - 1].empty() && !elements[count - 2].empty() &&
                elements[count - 2] != "..") {
                elements.resize(count - 2);  // "x\.." cancels out, with the separator after it
                dropNextSeparator = true;
            } else if (rooted && count == 1) {
                dropNextSeparator = true;  // no parent above the root
            } else {
                elements.push_back(name);
            }
        } else {
            elements.push_back(name);
        }
    }
    if (elements.size() >= 2 && elements.back().empty() && elements[elements.size() - 2] == "..") {
        elements.pop_back();
    }

    std::string normal(text.substr(0, rootName));
    std::replace(normal.begin(), normal.end(), '/', preferred_separator);
    for (const std::string_view element : elements) {
        if (element.empty()) {
            normal.push_back(preferred_separator);
        } else {
            normal.append(element);
        }
    }
    // push_back rather than assigning ".": GCC 12 takes the assignment for a copy that may overlap
    // the string's own buffer (-Wrestrict) once lexically_normal is inlined.
    if (normal.empty()) normal.push_back('.');
    // Removing names must not make a root: ".\c:x" stays ".\c:x" rather than turn into the
    // drive-relative "c:x", and "\.\??\x" stays as it is rather than turn into a device path.
    if (rootNameEnd(normal) != rootName) normal.insert(rootName + (rooted ? 1 : 0), ".\\");
    return path(std::move(normal), trusted{});
}

namespace {

// Where the root ends when two paths are related: after the root name, or after the drive of
// "\\?\a:\meow", which belongs to the root there.
size_type relationRootEnd(std::string_view text) noexcept {
    const size_type drive = verbatimDriveEnd(text);
    return drive != 0 ? drive : rootNameEnd(text);
}

// A name after that root that would read as a root name on its own, as "c:x" in "a\c:x".
bool hasNameLikeARoot(std::string_view text) noexcept {
    const size_type from = std::max(layoutOf(text).relative, verbatimDriveEnd(text));
    for (ElementCursor names{text, from}; names.more();) {
        if (rootNameEnd(names.take()) != 0) return true;
    }
    return false;
}

}  // namespace

// "\\?\a:\meow\purr" from "\\?\a:\meow" is "purr"; from "\\?\b:\meow" it is empty, as between
// different root names.
path path::lexically_relative(const path& base) const {
    const std::string_view mine = text_;
    const std::string_view theirs = base.text_;
    if (mine.substr(0, relationRootEnd(mine)) != theirs.substr(0, relationRootEnd(theirs)) ||
        is_absolute() != base.is_absolute() ||
        (!has_root_directory() && base.has_root_directory()) || hasNameLikeARoot(mine) ||
        hasNameLikeARoot(theirs)) {
        return path();
    }
    const iterator mineEnd = end();
    const iterator baseEnd = base.end();
    auto [a, b] = std::mismatch(begin(), mineEnd, base.begin(), baseEnd);
    if (a == mineEnd && b == baseEnd) return path(std::string_view("."), trusted{});

    // Only file names of the base count: "." and empty ones stay, ".." takes one back.
    const size_type baseRelative = layoutOf(theirs).relative;
    std::ptrdiff_t up = 0;
    for (; b != baseEnd; ++b) {
        if (b.first_ < baseRelative) continue;
        const std::string_view name = b->text_;
        if (name == "..") {
            --up;
        } else if (!name.empty() && name != ".") {
            ++up;
        }
    }
    if (up < 0) return path();
    if (up == 0 && (a == mineEnd || a->empty())) return path(std::string_view("."), trusted{});

    path relative;
    for (; up > 0; --up)
        relative /= path(std::string_view(".."), trusted{});
    for (; a != mineEnd; ++a)
        relative /= *a;
    return relative;
}

path path::lexically_proximate(const path& base) const {
    path relative = lexically_relative(base);
    return relative.empty() ? *this : relative;
}

}  // namespace winfs
