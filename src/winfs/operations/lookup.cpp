#include "operations/lookup.h"

#include <string>
#include <utility>

#include "drives/drive.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/long_paths.h"
#include "text/names.h"
#include "text/path_grammar.h"

namespace winfs {
namespace {

// The working directory's Windows path, kept by each thread for the map and the host path it
// came from: the host's working directory holds no "..", so the same map gives the same answer for
// it, and a path made absolute costs getcwd alone.
struct WorkingDirectory {
    std::uint64_t map = 0;
    std::string host;
    path windows;
};
thread_local WorkingDirectory lastWorkingDirectory;

}  // namespace

path currentPathOn(const DriveMap& map, std::error_code& ec) {
    host::Result<std::string> host = host::workingDirectory();
    if (!host) {
        ec = host.error().windows(host::At::folderOnTheWay);
        return {};
    }
    WorkingDirectory& last = lastWorkingDirectory;
    if (last.map == DriveMapAccess::serial(map) && last.host == *host) return last.windows;
    path windows = map.windowsPathFor(*host, ec);
    if (ec) return {};
    last = {DriveMapAccess::serial(map), std::move(*host), windows};
    return windows;
}

path absoluteOn(const DriveMap& map, const path& p, std::error_code& ec, Verbatim verbatim) {
    path workingDirectory;
    if (needsWorkingDirectory(p, verbatim)) {
        workingDirectory = currentPathOn(map, ec);
        if (ec) return {};
    }
    path full = fullPathName(p, workingDirectory, ec, verbatim);
    // Without long paths the file calls cannot make a DOS path of more than MAX_PATH an NT path,
    // and CreateFileW and the rest say ERROR_PATH_NOT_FOUND; "\\?\" paths are NT paths already.
    if (verbatim == Verbatim::keep && !ec && !long_paths() && !grammar::isVerbatim(p.native()) &&
        exceedsLimit(full.native(), kMaxPath)) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    return full;
}

namespace {

// Whether `full` ends in a separator after a name: "c:\zor\store\", not "c:\".
bool namedAsFolder(const path& full) {
    return !full.has_filename() && full.has_relative_path();
}

// Whether what the walk found for `full` is there and no folder, a link counting as what it leads
// to: a link to a folder, or to nothing, is named as a folder may be.
bool isNoFolder(const DriveMap& map, const path& full, const Resolution& found) {
    if (!found.rest.empty() || !onTheHost(found)) return false;
    file_type type = found.type;
    if (type == file_type::unknown) {
        const host::Result<host::Stat> st = statFound(found);
        if (!st) return false;  // gone since the walk: the call that acts on it says so
        type = st->type;
    }
    if (type == file_type::symlink) {
        std::error_code ec;
        const Resolution target = resolve(map, full, kStatus, ec);
        return !ec && target.rest.empty() && target.type != file_type::directory;
    }
    return type != file_type::directory;
}

}  // namespace

Resolution resolveOn(const DriveMap& map, const path& p, Lookup lookup, std::error_code& ec,
                     Trailing trailing) {
    const path full = absoluteOn(map, p, ec);
    if (ec) return {};
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    Resolution found = resolve(map, full, lookup, ec);
    // "c:\zor\file.txt\" names no file.
    if (!ec && trailing == Trailing::refused && namedAsFolder(full) && isNoFolder(map, full, found))
        ec = make_error_code(ERROR_INVALID_NAME);
    return found;
}

std::error_code checkNewNames(const path& rest) {
    for (const path& element : rest) {
        const std::string& name = element.native();
        if (!fitsInOneName(name)) return make_error_code(ERROR_FILENAME_EXCED_RANGE);
        if (!isValidName(name) || name == "." || name == "..") {
            return make_error_code(ERROR_INVALID_NAME);
        }
    }
    return {};
}

Found findExisting(const path& p, Lookup lookup, std::error_code& ec, Trailing trailing) {
    Found found{drives(), {}};
    found.at = resolveOn(*found.map, p, lookup, ec, trailing);
    if (ec) return found;
    if (!onTheHost(found.at)) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
    } else if (!found.at.rest.empty()) {
        ec = found.at.missing;
    }
    return found;
}

namespace {

// The folder a cursor stands at, opened with no link followed only to act on names in it.
host::Error openToActIn(host::Cursor cursor, host::Handle& folder) {
    std::string names;
    const host::Result<host::Place> place = cursor.beneath("", names);
    if (!place) return place.error();
    host::Result<host::Handle> opened = host::openFolderToActIn(*place);
    if (!opened) return opened.error();
    folder = std::move(*opened);
    return {};
}

}  // namespace

host::Error openHolderOf(const Resolution& found, host::Handle& folder, std::string& entry) {
    host::Cursor parent = found.folder;
    const std::string& full = parent.host();
    entry = full.substr(full.rfind('/') + 1);
    parent.truncate(parent.depth() - 1);
    return openToActIn(std::move(parent), folder);
}

host::Error openFolderOf(host::Cursor cursor, host::Handle& folder) {
    std::string names;
    const host::Result<host::Place> place = cursor.beneath("", names);
    if (!place) return place.error();
    host::Result<host::Handle> opened = host::openFolderBeneath(*place);
    if (!opened) return opened.error();
    folder = std::move(*opened);
    return {};
}

host::Error openFolderOf(const Resolution& found, host::Handle& folder) {
    return openFolderOf(found.folder, folder);
}

host::Error hold(const Resolution& found, Held& held) {
    if (found.folder.depth() > 0) return openHolderOf(found, held.folder, held.name);
    held.name.assign(1, '.');
    return openToActIn(found.folder, held.folder);
}

host::Error Slot::openHolder(host::Handle& folder, std::string& entry) const {
    if (exists) return openHolderOf(found, folder, entry);
    entry = name;
    return openToActIn(found.folder, folder);
}

Slot slotFor(const path& p, std::error_code& ec, Lookup lookup, Trailing trailing) {
    Slot slot{drives(), {}, false, {}};
    path full = absoluteOn(*slot.map, p, ec);
    if (ec) return slot;
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return slot;
    }
    // "c:\zor\new\" names "new", when it is a folder or not there.
    const bool asFolder = namedAsFolder(full);
    if (asFolder) full = full.parent_path();
    slot.name = full.filename().native();
    slot.found = resolve(*slot.map, full, lookup, ec);
    if (ec) return slot;
    if (!onTheHost(slot.found)) {
        ec = make_error_code(ERROR_NOT_SUPPORTED);
        return slot;
    }
    slot.exists = slot.found.rest.empty();
    if (slot.exists) {
        if (asFolder && trailing == Trailing::refused && isNoFolder(*slot.map, full, slot.found))
            ec = make_error_code(ERROR_INVALID_NAME);
        return slot;
    }
    // One name missing, in a folder: a name of it with a ':' is no root name ("a:b").
    const bool names = slot.found.rest.native().find('\\') != std::string::npos;
    if (names || slot.found.type != file_type::directory) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
    } else {
        ec = checkNewNames(slot.found.rest);
        // A link followed to a missing name: the new entry is that name, not the link's.
        if (lookup.follow == Follow::all) slot.name = slot.found.rest.native();
    }
    return slot;
}

host::Result<host::Stat> statFound(const Resolution& found) {
    if (found.stat) return *found.stat;
    host::Cursor cursor = found.folder;
    const host::Result<host::Place> itself = cursor.itself();
    if (!itself) return itself.error();
    return host::statAt(*itself, false);
}

// What fstatat tells of what `p` names, links followed.
host::Result<host::Stat> statExisting(const path& p, std::error_code& ec) {
    const Found found = findExisting(p, kStatus, ec);
    if (ec) return host::Stat{};
    host::Result<host::Stat> st = statFound(found.at);
    if (!st) ec = st.error().windows(host::At::lastName);
    return st;
}

bool sameFile(const path& one, const path& two, std::error_code& ec) {
    const host::Result<host::Stat> first = statExisting(one, ec);
    if (ec) return false;
    const host::Result<host::Stat> second = statExisting(two, ec);
    if (ec) return false;
    return host::sameFile(*first, *second);
}

}  // namespace winfs
