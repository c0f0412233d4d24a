#include "pathprobe/winfs/short_names.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "resolve/name_cache.h"
#include "text/names.h"

namespace winfs {
namespace {

enum class Form { shortNames, longNames };

// What short_path writes for the name that `found` ends at, `onDisk` as listed: its short name
// only where a lookup of that in the folder finds this name alone; else the long name, as
// GetShortPathNameW keeps a name that has no short form. "Program Files 1209" stays so beside
// "Program Files 0313", which owns PROG~02B, and "Program Files" beside a name "prog~fbu"; so
// does a name in a folder that cannot be listed, which cannot tell.
std::string shortNameIn(const Resolution& found, const std::string& onDisk) {
    std::string alias = shortNameOf(onDisk);
    if (alias.empty()) return onDisk;
    host::Handle folder;
    std::string entry;
    std::string owner;
    if (openHolderOf(found, folder, entry) ||
        folderNames().find({folder.get(), ""}, alias, owner) || owner != entry) {
        return onDisk;
    }
    return alias;
}

// Each name looked up as far as it goes, as the Windows calls look each one up in its folder, and
// the path rewritten a name at a time: the root name, the separators, "." and ".." stay as written.
path renamedOf(const char* operation, const path& p, Form form, std::error_code* ec) {
    return reported(operation, ec, p, [&](std::error_code& code) {
        if (p.empty()) {
            code = make_error_code(ERROR_PATH_NOT_FOUND);
            return path();
        }
        const std::string& text = p.native();
        std::size_t at = p.root_name().native().size();
        std::string out = text.substr(0, at);
        bool looked = false;  // whether all of `out` is known to exist
        while (at < text.size()) {
            const std::size_t start = std::min(text.find_first_not_of("\\/", at), text.size());
            out.append(text, at, start - at);
            if (start == text.size()) break;
            const std::size_t end = std::min(text.find_first_of("\\/", start), text.size());
            const std::string_view name(text.data() + start, end - start);
            at = end;
            if (name == "." || name == "..") {
                out += name;
                looked = false;
                continue;
            }
            const Found found =
                findExisting(path(text.substr(0, end)), kSymlinkStatus, code, Trailing::taken);
            if (code) break;
            looked = true;
            const std::string onDisk = found.at.head.filename().native();
            if (form == Form::longNames) {
                // A longer name is kept as written; one that could be a short name is replaced by
                // the name it stands for, as listed.
                out += isShortName(name) ? std::string_view(onDisk) : name;
            } else {
                out += shortNameIn(found.at, onDisk);
            }
        }
        if (!code && !looked) findExisting(p, kSymlinkStatus, code, Trailing::taken);
        if (code == make_error_code(ERROR_PATH_NOT_FOUND)) {
            code = make_error_code(ERROR_FILE_NOT_FOUND);
        }
        return code ? path() : path(std::move(out));
    });
}

}  // namespace

// clang-format off
path short_path(const path& p) { return renamedOf("short_path", p, Form::shortNames, nullptr); }
path short_path(const path& p, std::error_code& ec) { return renamedOf("short_path", p, Form::shortNames, &ec); }
path long_path(const path& p) { return renamedOf("long_path", p, Form::longNames, nullptr); }
path long_path(const path& p, std::error_code& ec) { return renamedOf("long_path", p, Form::longNames, &ec); }
// clang-format on

}  // namespace winfs
