// Internal to winfs, not installed.
// The scanning rules of the Windows path grammar: separators, drive letters, root names, the
// \\?\, \\.\ and \??\ prefixes, and the one splitter of a path into names. Internal to winfs: the
// path type, the full-path rules and the drive map scan path text through it and nothing else.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace winfs::grammar {

using size_type = std::size_t;

constexpr bool isSeparator(char c) noexcept {
    return c == '\\' || c == '/';
}

// "c:\zor\" and "/tmp/": a trailing separator, which asks for a folder.
constexpr bool endsInSeparator(std::string_view text) noexcept {
    return !text.empty() && isSeparator(text.back());
}

// Which characters separate names: Windows's two; the host's '/' alone ("a\b" is one host name);
// or '\' alone, each one on its own, as the file calls read a path after \\?\ ("a/b" is one
// name, and "a\\b" holds an empty one).
enum class Separators { windows, host, verbatim };

constexpr bool separates(char c, Separators separators) noexcept {
    switch (separators) {
        case Separators::windows:
            return isSeparator(c);
        case Separators::host:
            return c == '/';
        default:
            return c == '\\';
    }
}

constexpr bool isAsciiLetter(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr char asciiUpper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Drive letters, server names and device names compare in ASCII's two cases only.
constexpr bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_type i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    }
    return true;
}

// Whether a disk may hold a name: not empty, not "." or "..", and no separator in it. Only a path
// taken verbatim (after \\?\) can ask for one that is not.
constexpr bool canBeAName(std::string_view name) noexcept {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/") == std::string_view::npos;
}

inline size_type findSeparator(std::string_view text, size_type from,
                               Separators separators = Separators::windows) noexcept {
    while (from < text.size() && !separates(text[from], separators))
        ++from;
    return from;
}

inline size_type skipSeparators(std::string_view text, size_type from,
                                Separators separators = Separators::windows) noexcept {
    while (from < text.size() && separates(text[from], separators))
        ++from;
    return from;
}

// "c:x" -> 2; "\\?\x", "\\.\x", "\??\x" -> 3; "\\server\share" -> 8; "\\\x", "cc:x", "1:\x" -> 0.
inline size_type rootNameEnd(std::string_view text) noexcept {
    const size_type n = text.size();
    if (n < 2) return 0;
    if (isAsciiLetter(text[0]) && text[1] == ':') return 2;
    if (!isSeparator(text[0])) return 0;
    if (n >= 4 && isSeparator(text[3]) && (n == 4 || !isSeparator(text[4])) &&
        ((isSeparator(text[1]) && (text[2] == '?' || text[2] == '.')) ||
         (text[1] == '?' && text[2] == '?'))) {
        return 3;
    }
    if (n >= 3 && isSeparator(text[1]) && !isSeparator(text[2])) return findSeparator(text, 3);
    return 0;
}

// Whether a root name of that length is a device prefix ("\\?\", "\\.\", "\??\") rather than a
// drive or a server.
constexpr bool isDevicePrefix(std::string_view text, size_type rootName) noexcept {
    return rootName == 3 && (text[2] == '?' || text[2] == '.');
}

// Exactly "\\?\" or "\??\" at the start, backslashes only: the prefixes that the file calls take
// verbatim.
constexpr bool isVerbatim(std::string_view text) noexcept {
    return text.size() >= 4 && text[0] == '\\' && text[3] == '\\' &&
           ((text[1] == '\\' && text[2] == '?') || (text[1] == '?' && text[2] == '?'));
}

// A name's stream suffix, as NTFS reads "name:stream:type": the file's own data ("f::$DATA"), a
// folder's index ("d::$INDEX_ALLOCATION", "d:$I30:$INDEX_ALLOCATION"), another stream ("f:s",
// "f:s:$DATA"), or none. A suffix that reads as none of these ("f:", "f::", "f:a:b:c") is left
// in the name, for the name rules to refuse.
struct Stream {
    enum class Kind { none, data, index, other };
    Kind kind = Kind::none;
    size_type nameLength = 0;  // the name without its suffix
};

constexpr Stream streamOf(std::string_view name) noexcept {
    const size_type colon = name.find(':');
    const Stream none{Stream::Kind::none, name.size()};
    if (colon == std::string_view::npos || colon == 0) return none;
    const std::string_view suffix = name.substr(colon + 1);
    const size_type typeAt = suffix.find(':');
    const std::string_view stream = suffix.substr(0, typeAt);
    const std::string_view type =
        typeAt == std::string_view::npos ? std::string_view() : suffix.substr(typeAt + 1);
    if (type.find(':') != std::string_view::npos || (stream.empty() && type.empty()) ||
        (typeAt != std::string_view::npos && (type.empty() || type.front() != '$'))) {
        return none;
    }
    const bool index = equalIgnoringAsciiCase(type, "$INDEX_ALLOCATION");
    if (stream.empty() && equalIgnoringAsciiCase(type, "$DATA")) return {Stream::Kind::data, colon};
    if (index && (stream.empty() || equalIgnoringAsciiCase(stream, "$I30"))) {
        return {Stream::Kind::index, colon};
    }
    return stream.empty() ? none : Stream{Stream::Kind::other, colon};
}

// The drive, a name of its own, right after "\\?\" as written with backslashes, which Microsoft's
// library takes as part of the root when it relates two paths: "\\?\a:\meow" and "\\?\a:" -> 6;
// "\\?\a:b", "\\.\a:\b" and "//?/a:/b" -> 0.
constexpr size_type verbatimDriveEnd(std::string_view text) noexcept {
    const bool drive = isVerbatim(text) && text[1] == '\\' && text.size() >= 6 &&
                       isAsciiLetter(text[4]) && text[5] == ':';
    return drive && (text.size() == 6 || isSeparator(text[6])) ? 6 : 0;
}

// The parts of a path's text: [0, rootName) [rootName, relative) [relative, filename) [filename,
// n).
struct Layout {
    size_type rootName;
    size_type relative;
    size_type filename;
};

inline Layout layoutOf(std::string_view text) noexcept {
    Layout layout{};
    layout.rootName = rootNameEnd(text);
    layout.relative = skipSeparators(text, layout.rootName);
    layout.filename = text.size();
    while (layout.filename > layout.relative && !isSeparator(text[layout.filename - 1])) {
        --layout.filename;
    }
    return layout;
}

// The one splitter of path text into names, from `start` on: a run of separators is one, and a
// trailing separator gives an empty last name ("a\b\" gives "a", "b", ""), so a name is followed
// by a separator exactly when more() holds after it is taken.
class ElementCursor {
  public:
    explicit ElementCursor(std::string_view text, size_type start = 0,
                           Separators separators = Separators::windows)
        : text_(text), position_(start), separators_(separators) {
        if (position_ >= text_.size()) position_ = done;
    }
    bool more() const noexcept { return position_ != done; }
    std::string_view take() noexcept {
        if (position_ == text_.size()) {
            position_ = done;
            return {};
        }
        const size_type end = findSeparator(text_, position_, separators_);
        const std::string_view name = text_.substr(position_, end - position_);
        position_ = separators_ == Separators::verbatim ? std::min(end + 1, text_.size())
                                                        : skipSeparators(text_, end, separators_);
        if (position_ == text_.size() && end == text_.size()) position_ = done;
        return name;
    }

  private:
    static constexpr size_type done = static_cast<size_type>(-1);
    std::string_view text_;
    size_type position_;
    Separators separators_;
};

// How GetFullPathNameW tells paths apart before it makes one full. It reads a drive more widely
// than the path type does: any one UTF-16 unit before a ':' ("?:", "é:"), and "\??\x" as merely
// rooted.
enum class DosKind { relative, driveRelative, driveAbsolute, rooted, unc, device, deviceRoot };

// The bytes of a leading drive as GetFullPathNameW reads it, its ':' included: "c:x" -> 2, "?:" ->
// 2, "é:" -> 3, "" -> 0.
inline size_type dosDriveLength(std::string_view text) noexcept {
    if (text.empty() || isSeparator(text[0])) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_type unit = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 0;
    if (unit == 0 || text.size() <= unit || text[unit] != ':') return 0;
    return unit + 1;
}

// "\\x" is a server, "\\.\x" and "\\?\x" devices, "\\." and "\\?" the device root, "\??\x" merely
// rooted.
inline DosKind dosKindOf(std::string_view text) noexcept {
    if (!text.empty() && isSeparator(text[0])) {
        if (text.size() < 2 || !isSeparator(text[1])) return DosKind::rooted;
        if (text.size() < 3 || (text[2] != '.' && text[2] != '?')) return DosKind::unc;
        if (text.size() > 3 && isSeparator(text[3])) return DosKind::device;
        return text.size() == 3 ? DosKind::deviceRoot : DosKind::unc;
    }
    const size_type drive = dosDriveLength(text);
    if (drive == 0) return DosKind::relative;
    return drive < text.size() && isSeparator(text[drive]) ? DosKind::driveAbsolute
                                                           : DosKind::driveRelative;
}

// Exactly "\??\" at the start, backslashes only: GetFullPathNameW reads it as the folder "??" at
// the root ("\??\x" is "C:\??\x"), yet a device name right after it as a device ("\??\CON").
constexpr bool isNtPrefix(std::string_view text) noexcept {
    return isVerbatim(text) && text[1] == '?';
}

// Where the root of a path that starts with "\\" ends: "\\server\share\x" -> 14, the share without
// the separator after it. The server and the share are names whatever they hold ("\\..\x",
// "\\server\..\x" keep their ".."); an empty share ("\\server\\x") leaves "\\server\".
inline size_type uncRootEnd(std::string_view text) noexcept {
    const size_type serverEnd = findSeparator(text, 2);
    if (serverEnd == text.size()) return serverEnd;
    return findSeparator(text, serverEnd + 1);
}

// What GetFullPathNameW reads of a path before it makes it full, read once for a rule that needs
// several facts of one text: "c:\\x" is driveAbsolute with a drive of 2 and its root ending at 3.
struct DosForm {
    DosKind kind = DosKind::relative;
    size_type drive = 0;    // the leading drive's bytes, as dosDriveLength()
    size_type rootEnd = 0;  // where the part that ".." never removes ends: "c:\", "\\server\share"
    bool verbatim = false;  // "\\?\" or "\??\" first, as isVerbatim()
    bool ntPrefix = false;  // "\??\" first, as isNtPrefix()
};

inline DosForm dosFormOf(std::string_view text) noexcept {
    DosForm form;
    form.kind = dosKindOf(text);
    form.drive = dosDriveLength(text);
    form.verbatim = isVerbatim(text);
    form.ntPrefix = form.verbatim && text[1] == '?';
    switch (form.kind) {
        case DosKind::driveAbsolute:
            form.rootEnd = form.drive + 1;
            break;
        case DosKind::unc:
            form.rootEnd = uncRootEnd(text);
            break;
        case DosKind::device:
        case DosKind::deviceRoot:
            form.rootEnd = 4;
            break;
        case DosKind::rooted:
            form.rootEnd = 1;
            break;
        default:
            form.rootEnd = 0;
    }
    return form;
}

// Where the part that ".." never removes ends, as GetFullPathNameW reads it: "c:\",
// "\\server\share", "\\?\", "\".
inline size_type dosRootEnd(std::string_view text) noexcept {
    return dosFormOf(text).rootEnd;
}

}  // namespace winfs::grammar
