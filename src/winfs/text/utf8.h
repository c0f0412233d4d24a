// Internal to winfs, not installed.
// UTF-8 checks and decoding, shared by the path type, the name rules and the drive map, and the
// path type's conversions between UTF-8 and the other encodings.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace winfs {

// What a failed conversion says, alone or after the operation that met it.
inline constexpr std::string_view kConversionText = "Cannot convert character sequence";

// Strict UTF-8, as a conversion to UTF-16 with invalid characters rejected would take it: no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) noexcept;

// How many UTF-16 code units the (valid) UTF-8 text takes.
std::size_t utf16Length(std::string_view text) noexcept;

// The code point of valid UTF-8 text that starts at `i`; `i` moves past it.
char32_t nextCodePoint(std::string_view text, std::size_t& i) noexcept;

// Appends a code point (at most U+10FFFF, no surrogate) as UTF-8.
void appendCodePoint(std::string& out, char32_t c);

// The UTF-8 form of text in another encoding, or nothing when the text is not valid in its own:
// invalid UTF-8, an unpaired surrogate in UTF-16, a surrogate or a value above U+10FFFF in UTF-32.
// wchar_t text is UTF-16 where wchar_t has 16 bits (Windows) and UTF-32 where it has 32 (Linux).
std::optional<std::string> utf8Of(std::u8string_view text);
std::optional<std::string> utf8Of(std::u16string_view text);
std::optional<std::string> utf8Of(std::u32string_view text);
std::optional<std::string> utf8Of(std::wstring_view text);

// Valid UTF-8 text in the other encodings; u8"\U0001D11E" is two UTF-16 units, one UTF-32 unit.
std::u16string utf16Of(std::string_view text);
std::u32string utf32Of(std::string_view text);
std::wstring wideOf(std::string_view text);

}  // namespace winfs
