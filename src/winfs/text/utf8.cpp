#include "text/utf8.h"

namespace winfs {

bool isValidUtf8(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p != end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t extra;
        unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= extra) return false;
        if (p[1] < low || p[1] > high) return false;
        for (std::size_t i = 2; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
        }
        p += extra + 1;
    }
    return true;
}

std::size_t utf16Length(std::string_view text) noexcept {
    std::size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;  // one per character...
        if (byte >= 0xF0) ++units;           // ...and a surrogate pair above U+FFFF
    }
    return units;
}

}  // namespace winfs

namespace winfs {

char32_t nextCodePoint(std::string_view text, std::size_t& i) noexcept {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t code = lead & (0x3Fu >> extra);
    for (int k = 0; k < extra && i < text.size(); ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
    }
    return code;
}

}  // namespace winfs

namespace winfs {
namespace {

constexpr bool isSurrogate(char32_t c) noexcept {
    return c >= 0xD800 && c <= 0xDFFF;
}

// Units as wide as char16_t or wider, read as UTF-16 (a wider unit above 0xFFFF is invalid).
template <class Unit>
std::optional<std::string> fromUtf16(std::basic_string_view<Unit> text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if (c > 0xFFFF) return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const auto low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (isSurrogate(c)) return std::nullopt;  // a high one without its low one, or a low alone
        appendCodePoint(out, c);
    }
    return out;
}

template <class Unit>
std::optional<std::string> fromUtf32(std::basic_string_view<Unit> text) {
    std::string out;
    out.reserve(text.size());
    for (const Unit unit : text) {
        // A negative wchar_t becomes a value far above U+10FFFF.
        const auto c = static_cast<char32_t>(unit);
        if (c > 0x10FFFF || isSurrogate(c)) return std::nullopt;
        appendCodePoint(out, c);
    }
    return out;
}

template <class Unit>
std::basic_string<Unit> toUtf16(std::string_view text) {
    std::basic_string<Unit> out;
    out.reserve(utf16Length(text));
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (c < 0x10000) {
            out.push_back(static_cast<Unit>(c));
        } else {
            out.push_back(static_cast<Unit>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<Unit>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    return out;
}

template <class Unit>
std::basic_string<Unit> toUtf32(std::string_view text) {
    std::basic_string<Unit> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(static_cast<Unit>(nextCodePoint(text, i)));
    return out;
}

}  // namespace

std::optional<std::string> utf8Of(std::u8string_view text) {
    std::string out(text.begin(), text.end());
    if (!isValidUtf8(out)) return std::nullopt;
    return out;
}

std::optional<std::string> utf8Of(std::u16string_view text) {
    return fromUtf16(text);
}

std::optional<std::string> utf8Of(std::u32string_view text) {
    return fromUtf32(text);
}

std::optional<std::string> utf8Of(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        return fromUtf16(text);
    } else {
        return fromUtf32(text);
    }
}

std::u16string utf16Of(std::string_view text) {
    return toUtf16<char16_t>(text);
}

std::u32string utf32Of(std::string_view text) {
    return toUtf32<char32_t>(text);
}

std::wstring wideOf(std::string_view text) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        return toUtf16<wchar_t>(text);
    } else {
        return toUtf32<wchar_t>(text);
    }
}

void appendCodePoint(std::string& out, char32_t c) {
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

}  // namespace winfs
