// Windows's rules for one name in a path: the characters it may hold, how long it may be, and how
// two names compare when case is ignored.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <string>
#include <string_view>

namespace winfs {

// False for a name with a character Windows forbids: < > : " | ? * or a control character.
// "a<b" and "what?" are not valid; "Été" and "a b" are.
bool isValidName(std::string_view name) noexcept;

// NTFS takes at most 255 UTF-16 units in one name.
bool fitsInOneName(std::string_view name) noexcept;

// Whether two (valid UTF-8) names are the same name to Windows: "été" matches "ÉTÉ".
bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept;

// The form under which names that Windows takes as equal collide: "Été" and "éTÉ" give one key.
std::string caseFolded(std::string_view name);

}  // namespace winfs
