#include "winfs/full_path.h"

#include <string>
#include <string_view>

#include "winfs/error.h"
#include "winfs/utf8.h"

namespace winfs {
namespace {

bool isDrive(std::string_view rootName) noexcept {
    return rootName.size() == 2 && rootName[1] == ':';
}

char upper(char letter) noexcept {
    return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

bool endsInSeparator(const path& p) {
    const std::string& text = p.native();
    return !text.empty() && (text.back() == '\\' || text.back() == '/') && p.has_relative_path();
}

// The normal form of `joined`, with a trailing separator only where `p` had one, and without the
// trailing dots and spaces of the last name: "C:\a\b\." is "C:\a\b"; "C:\a. . " is "C:\a".
path finished(const std::string& joined, const path& p) {
    const path normal = path(joined).lexically_normal();
    std::string text = normal.native();
    const std::size_t root = normal.root_path().native().size();
    if (text.size() > root && text.back() == '\\') text.pop_back();
    while (text.size() > root && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    if (endsInSeparator(p) && text.size() > root && text.back() != '\\') text.push_back('\\');
    return path(std::move(text));
}

}  // namespace

bool needsWorkingDirectory(const path& p) noexcept {
    const std::string_view text = p.native();
    if (text.empty()) return false;
    if (!p.has_root_name()) return true;
    return isDrive(text.substr(0, 2)) && !p.has_root_directory();
}

path fullPathName(const path& p, const path& workingDirectory, std::error_code& ec) {
    ec.clear();
    const std::string& text = p.native();
    if (text.empty()) return {};
    if (text.size() > 32767 && utf16Length(text) > 32767) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    const std::string rootName = p.root_name().native();
    const std::string relative = p.relative_path().native();
    if (!rootName.empty() && !isDrive(rootName)) {
        // \\?\ and \??\ paths are taken as they are; \\.\ and \\server paths are made tidy.
        if (rootName.size() == 3 && rootName[2] == '?') return p;
        return finished(rootName + '\\' + relative, p);
    }
    if (!rootName.empty() && p.has_root_directory()) return finished(rootName + '\\' + relative, p);

    const std::string& cwd = workingDirectory.native();
    const std::string cwdRoot = workingDirectory.root_name().native();
    if (!rootName.empty()) {
        // Drive-relative: the working directory when it lies on that drive, else the drive's root.
        const char letter = upper(rootName[0]);
        if (!cwdRoot.empty() && upper(cwdRoot[0]) == letter)
            return finished(cwd + '\\' + relative, p);
        return finished(std::string{letter, ':', '\\'} + relative, p);
    }
    if (p.has_root_directory()) return finished(cwdRoot + '\\' + relative, p);
    return finished(cwd + '\\' + relative, p);
}

}  // namespace winfs
