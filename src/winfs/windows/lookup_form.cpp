#include "windows/lookup_form.h"

#include <algorithm>

#include "text/path_grammar.h"
#include "windows/full_path.h"

namespace winfs {
namespace {

using namespace grammar;

// The names of `text`, split at '\' alone and each kept as it stands; a trailing '\' adds none.
void verbatimNames(std::string_view text, std::vector<std::string>& names) {
    for (ElementCursor elements(text, 0, Separators::verbatim); elements.more();) {
        const std::string_view name = elements.take();
        if (!name.empty() || elements.more()) names.emplace_back(name);
    }
}

// The names of `text` lexically normal: "." gone, ".." taking one back, never above the root.
void normalNames(std::string_view text, std::vector<std::string>& names) {
    const std::size_t base = names.size();
    for (ElementCursor elements(text); elements.more();) {
        const std::string_view name = elements.take();
        if (name.empty() || name == ".") continue;
        if (name != "..") {
            names.emplace_back(name);
        } else if (names.size() > base) {
            names.pop_back();
        }
    }
}

// What follows a drive, a share or a device prefix: `rest` starts right after the text `root`.
LookupForm formFrom(LookupForm::Kind kind, std::string_view text, size_type restAt, bool verbatim) {
    LookupForm form;
    form.kind = kind;
    form.root.assign(text.substr(0, restAt));
    if (verbatim) {
        verbatimNames(text.substr(restAt), form.names);
    } else {
        normalNames(text.substr(restAt), form.names);
    }
    return form;
}

// "X:" alone or before a separator.
bool isDrive(std::string_view name) noexcept {
    return name.size() == 2 && isAsciiLetter(name[0]) && name[1] == ':';
}

// "server\share\rest", after "\\", "\\?\UNC\" or "\\.\UNC\" (`at`).
LookupForm shareFrom(std::string_view text, size_type at, bool verbatim) {
    const Separators separators = verbatim ? Separators::verbatim : Separators::windows;
    const size_type serverEnd = findSeparator(text, at, separators);
    const size_type shareAt = std::min(serverEnd + 1, text.size());
    const size_type shareEnd = findSeparator(text, shareAt, separators);
    LookupForm form =
        formFrom(LookupForm::Kind::share, text, std::min(shareEnd + 1, text.size()), verbatim);
    form.server.assign(text.substr(at, serverEnd - at));
    const std::string_view share = text.substr(shareAt, shareEnd - shareAt);
    if (share.size() == 2 && isAsciiLetter(share[0]) && share[1] == '$') form.drive = share[0];
    return form;
}

// What follows "\\?\", "\??\" (verbatim) or "\\.\": a drive, a share, or a device.
LookupForm afterDevicePrefix(std::string_view text, bool verbatim) {
    const Separators separators = verbatim ? Separators::verbatim : Separators::windows;
    const size_type firstEnd = findSeparator(text, 4, separators);
    const std::string_view first = text.substr(4, firstEnd - 4);
    if (equalIgnoringAsciiCase(first, "UNC") && firstEnd < text.size()) {
        return shareFrom(text, firstEnd + 1, verbatim);
    }
    if (equalIgnoringAsciiCase(first, "unix")) {
        return formFrom(LookupForm::Kind::unixNamespace, text, std::min(firstEnd + 1, text.size()),
                        verbatim);
    }
    if (isDrive(first)) {
        LookupForm form =
            formFrom(LookupForm::Kind::drive, text, std::min(firstEnd + 1, text.size()), verbatim);
        form.drive = first[0];
        return form;
    }
    LookupForm form;
    if (firstEnd == text.size() && isDeviceName(first)) {
        form.kind = LookupForm::Kind::device;
        form.root.assign(text);
        form.device.assign(first);
    }
    return form;
}

}  // namespace

LookupForm lookupFormOf(const path& full) {
    const std::string_view text = full.native();
    if (isVerbatim(text)) return afterDevicePrefix(text, true);
    const size_type rootName = rootNameEnd(text);
    if (isDevicePrefix(text, rootName) && text[2] == '.') return afterDevicePrefix(text, false);
    if (rootName > 3 || (rootName == 3 && !isDevicePrefix(text, rootName))) {
        return shareFrom(text, 2, false);  // "\\server\share"
    }
    if (rootName == 2 && rootName < text.size() && isSeparator(text[rootName])) {
        LookupForm form = formFrom(LookupForm::Kind::drive, text, 3, false);
        form.drive = text[0];
        return form;
    }
    return {};
}

}  // namespace winfs
