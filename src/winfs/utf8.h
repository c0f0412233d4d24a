// UTF-8 checks and conversions shared by the path type and the host-facing code.
#pragma once

#include <cstddef>
#include <string_view>

namespace winfs {

// Strict UTF-8, as a conversion to UTF-16 with invalid characters rejected would take it: no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) noexcept;

// How many UTF-16 code units the (valid) UTF-8 text takes.
std::size_t utf16Length(std::string_view text) noexcept;

}  // namespace winfs
