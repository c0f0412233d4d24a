// UTF-8 checks and decoding, shared by the path type, the name rules and the drive map.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <cstddef>
#include <string_view>

namespace winfs {

// Strict UTF-8, as a conversion to UTF-16 with invalid characters rejected would take it: no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) noexcept;

// How many UTF-16 code units the (valid) UTF-8 text takes.
std::size_t utf16Length(std::string_view text) noexcept;

// The code point of valid UTF-8 text that starts at `i`; `i` moves past it.
char32_t nextCodePoint(std::string_view text, std::size_t& i) noexcept;

}  // namespace winfs
