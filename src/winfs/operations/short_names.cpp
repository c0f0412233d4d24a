#include "pathprobe/winfs/short_names.h"

#include <string>

#include "operations/lookup.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "text/names.h"

namespace winfs {
namespace {

enum class Form { shortNames, longNames };

// Each name looked up as far as it goes, as the Windows calls look each one up in its folder.
path renamedOf(const char* operation, const path& p, Form form, std::error_code* ec) {
    return reported(operation, ec, p, [&](std::error_code& code) {
        if (p.empty()) {
            code = make_error_code(ERROR_PATH_NOT_FOUND);
            return path();
        }
        path out = p.root_name();
        if (p.has_root_directory()) out += path("\\");
        path sofar = out;
        bool looked = false;  // whether `sofar` is known to exist
        for (const path& element : p.relative_path()) {
            const std::string& name = element.native();
            sofar /= element;
            if (name.empty() || name == "." || name == "..") {
                out /= element;
                looked = false;
                continue;
            }
            const Found found = findExisting(sofar, kSymlinkStatus, code);
            if (code) break;
            looked = true;
            const std::string onDisk = found.at.head.filename().native();
            if (form == Form::longNames) {
                out /= path(onDisk);
            } else if (isShortName(name)) {
                out /= element;
            } else {
                const std::string shortName = shortNameOf(onDisk);
                out /= path(shortName.empty() ? onDisk : shortName);
            }
        }
        if (!code && !looked) findExisting(sofar, kSymlinkStatus, code);
        if (code == make_error_code(ERROR_PATH_NOT_FOUND)) {
            code = make_error_code(ERROR_FILE_NOT_FOUND);
        }
        return code ? path() : out;
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
