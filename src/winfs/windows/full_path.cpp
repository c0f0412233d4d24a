#include "windows/full_path.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "pathprobe/winfs/error.h"
#include "text/path_grammar.h"
#include "text/utf8.h"

namespace winfs {
namespace {

using namespace grammar;
using Kind = DosKind;

constexpr size_type kMaxLength = 32767;  // UTF-16 units

bool tooLong(std::string_view text) noexcept {
    return text.size() > kMaxLength && utf16Length(text) > kMaxLength;
}

// The DOS device that a name stands for, as written ("nul. :" -> "nul"), or nothing. Windows 11
// takes each device name alone ("CON", "c:prn ") but only NUL as the last name in a folder
// ("c:\x\nul"); Windows 10 took each of them in any folder and with an extension ("c:\con\con",
// "nul.txt"). We follow Windows 11.
std::string_view deviceIn(std::string_view name, bool alone) noexcept {
    size_type end = name.size();
    while (end > 0 && (name[end - 1] == ':' || name[end - 1] == '.' || name[end - 1] == ' '))
        --end;
    const std::string_view device = name.substr(0, end);
    if (equalIgnoringAsciiCase(device, "NUL")) return device;
    if (!alone) return {};
    for (const std::string_view known : {"CON", "PRN", "AUX", "CONIN$", "CONOUT$"}) {
        if (equalIgnoringAsciiCase(device, known)) return device;
    }
    const bool numbered = device.size() == 4 && device[3] >= '1' && device[3] <= '9' &&
                          (equalIgnoringAsciiCase(device.substr(0, 3), "COM") ||
                           equalIgnoringAsciiCase(device.substr(0, 3), "LPT"));
    return numbered ? device : std::string_view{};
}

// The name of a path that has no separator after its drive or its "\??\" ("CON", "c:prn",
// "\??\CONIN$"), else nothing.
std::string_view loneName(std::string_view text, const DosForm& form) noexcept {
    size_type start = 0;
    if (form.kind == Kind::relative || form.kind == Kind::driveRelative) {
        start = form.drive;
    } else if (form.ntPrefix) {
        start = 4;
    } else {
        return {};
    }
    const std::string_view name = text.substr(start);
    return findSeparator(name, 0) == name.size() ? name : std::string_view{};
}

// `text` joined to the working directory as Windows joins it: "c:x" to it when it lies on C
// ("C:\cwd\x"), else to C:\; "\x" to its root; "\\." is "\\.\".
std::string joined(std::string_view text, const DosForm& form, std::string_view cwd) {
    std::string full;
    const auto join = [&full](std::string_view head, std::string_view separator,
                              std::string_view tail) {
        full.reserve(head.size() + separator.size() + tail.size());
        full.append(head).append(separator).append(tail);
        return std::move(full);
    };
    switch (form.kind) {
        case Kind::relative:
            return join(cwd, "\\", text);
        case Kind::rooted: {
            std::string_view root = cwd.substr(0, dosFormOf(cwd).rootEnd);
            while (!root.empty() && isSeparator(root.back()))
                root.remove_suffix(1);
            return join(root, {}, text);
        }
        case Kind::driveRelative: {
            const size_type drive = form.drive;
            const bool sameDrive =
                dosDriveLength(cwd) == drive &&
                equalIgnoringAsciiCase(cwd.substr(0, drive), text.substr(0, drive));
            // "c:" alone is the working directory itself, with no separator added.
            if (sameDrive && drive == text.size()) return std::string(cwd);
            if (sameDrive) return join(cwd, "\\", text.substr(drive));
            full = join(text.substr(0, drive), "\\", text.substr(drive));
            full[0] = asciiUpper(full[0]);
            return full;
        }
        case Kind::deviceRoot:
            return "\\\\.\\";
        default:
            return std::string(text);
    }
}

// The root with '\' for '/', then the names after it, each after one '\', with "." and ".." taken
// out ("..\" never above the root), a single dot dropped from the end of every name but the last
// ("a.\b" -> "a\b", "a..\b" stays: three dots or more make a name), and trailing dots and spaces
// from the end of the path ("a\b. ." -> "a\b", "a\ " -> "a\"). So "c://a//b" is "c:\a\b", and
// "\\server\share\.." is "\\server\share", a root that ends in no separator. A server or share
// with nothing after it is the last name, and loses its trailing dots and spaces too:
// "\\server\.." is "\\server\", "\\... . ." is "\\".
std::string collapsed(std::string_view full, const DosForm& form) {
    const size_type root = form.rootEnd;
    std::vector<std::string_view> names;
    names.reserve(full.size() / 2 + 1);
    bool trailingSeparator = false;
    for (ElementCursor elements(full, root); elements.more();) {
        std::string_view name = elements.take();
        const bool followed = elements.more();  // by a separator
        trailingSeparator = name.empty();
        if (name == "..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        if (name.empty() || name == ".") continue;
        if (followed && name.size() >= 2 && name.back() == '.' && name[name.size() - 2] != '.')
            name.remove_suffix(1);
        names.push_back(name);
    }
    std::string text;
    text.reserve(full.size());
    text.append(full.substr(0, root));
    std::replace(text.begin(), text.end(), '/', '\\');
    const auto separate = [&text] {
        if (!text.empty() && text.back() != '\\') text.push_back('\\');
    };
    for (const std::string_view name : names) {
        separate();
        text.append(name);
    }
    if (trailingSeparator) separate();
    const size_type kept = text.size() == root && form.kind == Kind::unc ? 2 : root;
    while (text.size() > kept && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

// A drive path already in its full form ("C:\\zor\\store": '\\' alone and single, no "." or
// ".." and no name that ends in a dot or a space, no device as the last name) is its own full
// path: most lookups start from one.
bool alreadyFull(std::string_view text, const DosForm& form) noexcept {
    if (text.size() < 3 || form.drive != 2 || text[2] != '\\' ||
        text.find('/') != std::string_view::npos || text.find("\\\\") != std::string_view::npos) {
        return false;
    }
    ElementCursor names(text, 3);
    if (!names.more()) return true;
    for (;;) {
        const std::string_view name = names.take();
        if (name.empty() || name == "." || name == ".." || name.back() == '.' ||
            name.back() == ' ') {
            return false;
        }
        if (!names.more()) return deviceIn(name, false).empty();
    }
}

}  // namespace

bool needsWorkingDirectory(const path& p, Verbatim verbatim) noexcept {
    const std::string_view text = p.native();
    if (text.empty()) return false;
    const DosForm form = dosFormOf(text);
    if (verbatim == Verbatim::keep && form.verbatim) return false;
    if (!deviceIn(loneName(text, form), true).empty()) return false;
    return form.kind == Kind::relative || form.kind == Kind::driveRelative ||
           form.kind == Kind::rooted;
}

path fullPathName(const path& p, const path& workingDirectory, std::error_code& ec,
                  Verbatim verbatim) {
    ec.clear();
    const std::string_view text = p.native();
    if (text.empty()) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return {};
    }
    if (tooLong(text)) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    const DosForm form = dosFormOf(text);
    if (verbatim == Verbatim::keep && form.verbatim) return p;
    if (alreadyFull(text, form)) return p;

    const Kind kind = form.kind;
    if (const std::string_view device = deviceIn(loneName(text, form), true); !device.empty())
        return path("\\\\.\\" + std::string(device));

    std::string full = joined(text, form, workingDirectory.native());
    const DosForm joinedForm = dosFormOf(full);
    const size_type root = joinedForm.rootEnd;
    full = collapsed(full, joinedForm);
    // "\\?." leaves "\\?", the device root, as "\\." is.
    if (dosKindOf(full) == Kind::deviceRoot) full = "\\\\.\\";
    // NUL as the last name is looked for in the full path rather than in `p`, so that "c:\x\nul\."
    // is a device too and a full path stays as it is when made full again.
    if (kind != Kind::unc && kind != Kind::device && kind != Kind::deviceRoot) {
        const size_type last = full.rfind('\\') + 1;
        if (last >= root) {
            if (const std::string_view device =
                    deviceIn(std::string_view(full).substr(last), false);
                !device.empty()) {
                return path("\\\\.\\" + std::string(device));
            }
        }
    }
    if (tooLong(full)) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    return path(std::move(full));
}

bool isDeviceName(std::string_view name) noexcept {
    return deviceIn(name, true).size() == name.size() && !name.empty();
}

bool isLegacyDeviceName(std::string_view name) noexcept {
    return !deviceIn(name.substr(0, name.find('.')), true).empty();
}

bool exceedsLimit(std::string_view text, std::size_t limit) noexcept {
    // A UTF-8 text has at least as many bytes as UTF-16 units.
    return text.size() >= limit && utf16Length(text) >= limit;
}

}  // namespace winfs
