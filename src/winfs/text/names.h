// Internal to winfs, not installed.
// Windows's rules for one name in a path: the characters it may hold, how long it may be, how
// two names compare when case is ignored, and the short (8.3) name of a long one.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace winfs {

// False for a name with a character Windows forbids: < > : " | ? * or a control character.
// "a<b" and "what?" are not valid; "Été" and "a b" are.
bool isValidName(std::string_view name) noexcept;

// Whether a name that the host holds can be written in Windows at all: UTF-8, with no '\\' and no
// character that isValidName forbids. "a\\b", "a:b" and "\xff" cannot; listings leave them out.
bool windowsCanSpell(std::string_view name) noexcept;

// NTFS takes at most 255 UTF-16 units in one name.
bool fitsInOneName(std::string_view name) noexcept;

// Whether two (valid UTF-8) names are the same name to Windows. As NTFS compares them: each UTF-16
// unit through the uppercase table that Windows 7 and later write on a volume, with no
// normalisation and a unit never becoming two. "été" matches "ÉTÉ" and "ÿ" "Ÿ"; "ſ" is not "S",
// "ı" not "I", final "ς" not "Σ", "ა" not "Ა", and "𐐨" (above U+FFFF) not "𐐀".
bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept;

// How NTFS orders the names of a folder's index: each UTF-16 unit through the same table, then
// unit by unit, a shorter name before a longer one it begins. Negative, zero or positive, as
// a is before, equal to or after b. "A" < "a1" < "b" < "Z" < "_x" < "~t"; a character above
// U+FFFF is two surrogate units (0xD800 to 0xDFFF) and so comes before U+E000 to U+FFFF.
int compareIgnoringCase(std::string_view a, std::string_view b) noexcept;

// A number that orders as the first eight units of a name do when they are ASCII, so that a sort
// compares most names as numbers: when two names' keys differ, they order as compareIgnoringCase
// orders them; when they are equal, only compareIgnoringCase can tell. "a1" and "A1" give one key,
// before that of "a10", which is before "b"'s; names alike up to a unit past ASCII ("abé" and
// "abĀ") give one key, after that of every "ab" followed by ASCII.
std::uint64_t orderKeyOf(std::string_view name) noexcept;

// The form under which names that Windows takes as equal collide: "Été" and "éTÉ" give one key,
// and two names give one key exactly when equalIgnoringCase takes them as equal.
std::string caseFolded(std::string_view name);

// Whether a (valid UTF-8) name is its own short name, written in uppercase: at most 12 UTF-16
// units of ASCII with none of * ? < > | " + = , ; [ ] space : / \, not starting with '.' (but
// "." and ".."), and at most 8 units, or 1 to 8 then '.' then 1 to 3. "README.TXT", "a~1" and
// "x" are; "a.b.c", ".bashrc", "x.html", "ninechars" and "a b" are not.
bool isShortName(std::string_view name) noexcept;

// The short name that a Wine prefix gives a (valid UTF-8) name that is not its own short name, and
// finds it by: up to 4 units of the name before its extension, padded with '~' to 5, three letters
// of a hash of the whole name, then '.' and up to 3 units of the extension, in uppercase, with each
// unit that no short name may hold as '_'. "Program Files" gives "PROG~FBU", "a.b.c" "A_B~~54C.C",
// ".bashrc" "_BAS~0WR"; empty for a name that is its own short name ("x", "README.TXT").
std::string shortNameOf(std::string_view name);

// Whether a name asked for may stand for another by its short name: a short name holding a '~',
// as every one that shortNameOf gives does. "PROG~FBU" may; "PROGRAM" and "PROG~FBU.HTML" not.
bool mayBeShortAlias(std::string_view name) noexcept;

}  // namespace winfs
