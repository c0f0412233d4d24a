#include "winfs/utf8.h"

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
