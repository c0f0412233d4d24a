#include "winfs/names.h"

#include <locale.h>
#include <wctype.h>

#include "winfs/utf8.h"

namespace winfs {
namespace {

// Windows compares names through its uppercase table; the host's Unicode locale stands in for it.
char32_t upper(char32_t c) noexcept {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
    // Made once, thread-safely, and never freed: every lookup uses it.
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode == locale_t{}) return c;
    return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), unicode));
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

bool isValidName(std::string_view name) noexcept {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32) return false;
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*':
                return false;
            default:
                break;
        }
    }
    return true;
}

bool fitsInOneName(std::string_view name) noexcept {
    return name.size() <= 255 || utf16Length(name) <= 255;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (upper(nextCodePoint(a, i)) != upper(nextCodePoint(b, j))) return false;
    }
    return i == a.size() && j == b.size();
}

std::string caseFolded(std::string_view name) {
    std::string folded;
    folded.reserve(name.size());
    for (std::size_t i = 0; i < name.size();)
        appendUtf8(folded, upper(nextCodePoint(name, i)));
    return folded;
}

}  // namespace winfs
