// How two winfs::paths compare, element by element, and the hash that agrees with it.
#include "pathprobe/winfs/path.h"

#include <cstdint>

#include "text/path_grammar.h"

namespace winfs {

using namespace grammar;

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

}  // namespace winfs
