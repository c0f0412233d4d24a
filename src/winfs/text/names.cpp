#include "text/names.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "text/utf8.h"

namespace winfs {
namespace {

// Every step-th unit from first to last maps to unit + delta.
struct UpcaseRun {
    char16_t first;
    char16_t last;
    int step;
    int delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "text/ntfs_upcase_table.inc"
};

// The table as 256 pages of 256 deltas; the pages with no mapping share page 0, so it takes 17
// pages (under 9 KB) instead of the 128 KB of one entry per unit.
constexpr std::size_t kPageCount = [] {
    std::array<bool, 256> mapped{};
    std::size_t count = 1;
    for (const UpcaseRun& run : kUpcaseRuns) {
        for (unsigned unit = run.first; unit <= run.last; unit += static_cast<unsigned>(run.step)) {
            if (!mapped[unit >> 8]) ++count;
            mapped[unit >> 8] = true;
        }
    }
    return count;
}();
static_assert(kPageCount <= 256, "a page's number is one byte");

struct UpcaseTable {
    std::array<std::uint8_t, 256> pageOf{};
    std::array<std::array<std::uint16_t, 256>, kPageCount> deltas{};

    constexpr char16_t operator[](char16_t unit) const noexcept {
        return static_cast<char16_t>(unit + deltas[pageOf[unit >> 8]][unit & 0xFF]);
    }
};

constexpr UpcaseTable kUpcase = [] {
    UpcaseTable table;
    std::size_t used = 1;
    for (const UpcaseRun& run : kUpcaseRuns) {
        for (unsigned unit = run.first; unit <= run.last; unit += static_cast<unsigned>(run.step)) {
            std::uint8_t& page = table.pageOf[unit >> 8];
            if (page == 0) page = static_cast<std::uint8_t>(used++);
            table.deltas[page][unit & 0xFF] = static_cast<std::uint16_t>(run.delta);
        }
    }
    return table;
}();

constexpr char asciiUpper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The ASCII fast paths below skip the table, so it must agree with them. The order keys also take
// every other unit as above ASCII, so none may map into it: a test checks that, as a compiler's
// constant evaluation may stop short of 65,536 steps.
static_assert([] {
    for (int c = 0; c < 0x80; ++c) {
        const char ascii = static_cast<char>(c);
        if (kUpcase[static_cast<char16_t>(c)] != static_cast<char16_t>(asciiUpper(ascii))) {
            return false;
        }
    }
    return true;
}());

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// Eight ASCII bytes with 'a' to 'z' made uppercase: each byte gains its high bit when it is 'a' or
// more, and again when it is past 'z' (no byte carries into the next, all being below 0x80).
constexpr std::uint64_t asciiUpper8(std::uint64_t x) noexcept {
    const std::uint64_t fromA = (x + (0x80 - 'a') * kOnes) & kHighBits;
    const std::uint64_t pastZ = (x + (0x80 - 'z' - 1) * kOnes) & kHighBits;
    return x - ((fromA & ~pastZ) >> 2);
}
static_assert(asciiUpper8(0x607A7B5A41617E40ULL) == 0x605A7B5A41417E40ULL);

// The eight bytes as one number that orders as they do one by one.
std::uint64_t bigEndian(std::uint64_t x) noexcept {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(x);
    return x;
}

// NTFS maps each UTF-16 unit of a name through the table. A code point above U+FFFF is two
// surrogate units, each mapping to itself, so it stays as it is: "\U00010428" is not "\U00010400".
constexpr char32_t upper(char32_t c) noexcept {
    return c < 0x10000 ? kUpcase[static_cast<char16_t>(c)] : c;
}

// The units of a code point as one number that orders as they do: a unit of its own in the upper
// half, or a surrogate pair's two. No unit maps into the surrogates, so a pair never ties with one
// unit.
constexpr std::uint32_t unitsOf(char32_t c) noexcept {
    if (c < 0x10000) return static_cast<std::uint32_t>(kUpcase[static_cast<char16_t>(c)]) << 16;
    const std::uint32_t v = c - 0x10000;
    return ((0xD800 + (v >> 10)) << 16) | (0xDC00 + (v & 0x3FF));
}

// The lowercase of a unit, as the inverse of the uppercase table: "É" gives "é", "é" and "1" stay.
char16_t lowerOf(char16_t unit) {
    if (unit < 0x80) {
        return unit >= 'A' && unit <= 'Z' ? static_cast<char16_t>(unit - 'A' + 'a') : unit;
    }
    struct Pair {
        char16_t upper;
        char16_t lower;
    };
    // Each uppercase unit comes from one lowercase one in the table, so the inverse is a function.
    static const std::vector<Pair> lowers = [] {
        std::vector<Pair> pairs;
        for (const UpcaseRun& run : kUpcaseRuns) {
            for (unsigned u = run.first; u <= run.last; u += static_cast<unsigned>(run.step)) {
                pairs.push_back({static_cast<char16_t>(static_cast<int>(u) + run.delta),
                                 static_cast<char16_t>(u)});
            }
        }
        std::sort(pairs.begin(), pairs.end(),
                  [](const Pair& a, const Pair& b) { return a.upper < b.upper; });
        return pairs;
    }();
    const auto it = std::lower_bound(lowers.begin(), lowers.end(), unit,
                                     [](const Pair& p, char16_t u) { return p.upper < u; });
    return it != lowers.end() && it->upper == unit ? it->lower : unit;
}

// A unit that a short name never holds, but that a name may: those of isShortName, '~' and '.',
// which the hashed names use themselves, and everything past ASCII.
bool unfitForShortName(char16_t unit) noexcept {
    if (unit > 0x7F) return true;
    switch (unit) {
        case '*':
        case '?':
        case '<':
        case '>':
        case '|':
        case '"':
        case '+':
        case '=':
        case ',':
        case ';':
        case '[':
        case ']':
        case ' ':
        case ':':
        case '/':
        case '\\':
        case '~':
        case '.':
            return true;
        default:
            return unit < 0x20;
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

bool windowsCanSpell(std::string_view name) noexcept {
    return isValidUtf8(name) && isValidName(name) && name.find('\\') == std::string_view::npos;
}

bool fitsInOneName(std::string_view name) noexcept {
    return name.size() <= 255 || utf16Length(name) <= 255;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const char x = a[i];
        const char y = b[j];
        if (static_cast<unsigned char>(x) < 0x80 && static_cast<unsigned char>(y) < 0x80) {
            if (x != y && asciiUpper(x) != asciiUpper(y)) return false;
            ++i;
            ++j;
        } else if (upper(nextCodePoint(a, i)) != upper(nextCodePoint(b, j))) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

int compareIgnoringCase(std::string_view a, std::string_view b) noexcept {
    std::size_t i = 0;
    std::size_t j = 0;
    // Eight ASCII bytes at a time while both names have them, as most names are.
    for (std::uint64_t x = 0, y = 0; i + 8 <= a.size() && i + 8 <= b.size(); i += 8) {
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (((x | y) & kHighBits) != 0) break;
        if (x != y && (x = asciiUpper8(x)) != (y = asciiUpper8(y))) {
            return bigEndian(x) < bigEndian(y) ? -1 : 1;
        }
    }
    j = i;
    while (i < a.size() && j < b.size()) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[j]);
        if (x < 0x80 && y < 0x80) {
            const auto ux = static_cast<unsigned char>(asciiUpper(static_cast<char>(x)));
            const auto uy = static_cast<unsigned char>(asciiUpper(static_cast<char>(y)));
            if (ux != uy) return ux < uy ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        const std::uint32_t ux = unitsOf(nextCodePoint(a, i));
        const std::uint32_t uy = unitsOf(nextCodePoint(b, j));
        if (ux != uy) return ux < uy ? -1 : 1;
    }
    return static_cast<int>(i < a.size()) - static_cast<int>(j < b.size());
}

std::uint64_t orderKeyOf(std::string_view name) noexcept {
    std::uint64_t x = 0;
    if (name.size() >= 8) {
        std::memcpy(&x, name.data(), 8);
        if ((x & kHighBits) == 0) return bigEndian(asciiUpper8(x));
    }
    // Fewer than eight ASCII bytes: the name's end is 0, below every unit; a unit past ASCII is
    // 0xFF from there on, above every ASCII unit, as what the table makes of it is too.
    const std::size_t length = std::min<std::size_t>(name.size(), 8);
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint64_t byte = 0;
        if (i < length) {
            const auto c = static_cast<unsigned char>(name[i]);
            byte = c < 0x80 ? static_cast<unsigned char>(asciiUpper(static_cast<char>(c))) : 0xFF;
        }
        key = key << 8 | byte;
        if (byte == 0xFF) {
            const std::size_t rest = 8 * (7 - i);
            return rest == 0 ? key : key << rest | ((std::uint64_t{1} << rest) - 1);
        }
    }
    return key;
}

bool isShortName(std::string_view name) noexcept {
    if (name.size() > 12) return false;  // a unit takes one byte at least
    if (name.starts_with('.')) return name == "." || name == "..";
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto unit = static_cast<unsigned char>(name[i]);
        if (unit == '.') {
            if (dot != std::string_view::npos) return false;
            dot = i;
        } else if (unit != '~' && unfitForShortName(unit)) {
            return false;
        }
    }
    if (dot == std::string_view::npos) return name.size() <= 8;
    return dot <= 8 && name.size() - dot >= 2 && name.size() - dot <= 4;
}

bool mayBeShortAlias(std::string_view name) noexcept {
    return name.find('~') != std::string_view::npos && isShortName(name);
}

std::string shortNameOf(std::string_view name) {
    if (name.empty() || isShortName(name)) return {};
    const std::u16string units = utf16Of(name);
    const std::size_t end = units.size();
    // 16 bits, each unit mixed with the next, both without case.
    std::uint16_t hash = 0xBEEF;
    for (std::size_t i = 0; i + 1 < end; ++i) {
        hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ lowerOf(units[i]) ^
                                          (lowerOf(units[i + 1]) << 8));
    }
    hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ lowerOf(units[end - 1]));
    // The last dot but a first or last unit starts the extension: "a.b.c" has "c", ".bashrc" none.
    std::size_t ext = end;
    for (std::size_t i = end - 2; i >= 1 && i < end; --i) {
        if (units[i] == '.') {
            ext = i;
            break;
        }
    }
    const auto shortUnit = [](char16_t unit) {
        return unfitForShortName(unit) ? '_' : asciiUpper(static_cast<char>(unit));
    };
    std::string out;
    for (std::size_t i = 0; i < 4 && i < ext; ++i)
        out.push_back(shortUnit(units[i]));
    out.resize(5, '~');
    static constexpr char kHashLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    out.push_back(kHashLetters[(hash >> 10) & 31]);
    out.push_back(kHashLetters[(hash >> 5) & 31]);
    out.push_back(kHashLetters[hash & 31]);
    if (ext != end) {
        out.push_back('.');
        for (std::size_t i = ext + 1; i < end && i <= ext + 3; ++i)
            out.push_back(shortUnit(units[i]));
    }
    return out;
}

std::string caseFolded(std::string_view name) {
    // Most names are ASCII throughout, and fold in place.
    std::string folded(name);
    std::size_t i = 0;
    for (; i < name.size() && static_cast<unsigned char>(name[i]) < 0x80; ++i) {
        folded[i] = asciiUpper(name[i]);
    }
    if (i == name.size()) return folded;
    folded.resize(i);
    while (i < name.size()) {
        if (static_cast<unsigned char>(name[i]) < 0x80) {
            folded.push_back(asciiUpper(name[i++]));
        } else {
            appendCodePoint(folded, upper(nextCodePoint(name, i)));
        }
    }
    return folded;
}

}  // namespace winfs
