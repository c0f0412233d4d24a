// The resolver's shortcuts. The walk name by name asks the host about each name (readlink, and a
// listing when the case differs); most paths have no link and are spelt as on disk, and for them
// one openat2 call with RESOLVE_NO_SYMLINKS says as much for all their names at once. A shortcut
// only ever enters names that this call vouches for: each of them exists, in the case given, and
// none is a link, which is exactly what the walk would have found name by name; anything else (a
// link, a missing name, another case, a host without openat2) it leaves pending for the walk,
// which then gives the answer. It stops the walk at a name only where the kept listing of that
// name's folder, whose stamp it checks as the walk does, lacks the name in every case. So the
// answers cannot change, only the number of calls.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pathprobe/winfs/error.h"
#include "resolve/name_cache.h"
#include "resolve/resolver.h"
#include "resolve/walk.h"
#include "text/names.h"
#include "text/path_grammar.h"
#include "windows/lookup_form.h"

namespace winfs {
namespace {

// Where the last walk in this thread met a link among the names it was given. A walk of a path
// that starts with the same names opens that link in one call, which enters the folders before it
// only if none of them is a link, and reads its target from the handle, rather than first trying
// the whole path at once (which fails on the link) and then walking. It only chooses the calls;
// every answer still comes from them.
struct LinkHint {
    char drive = 0;
    std::string names;      // the names up to the link, joined with '/'
    std::size_t count = 0;  // how many
};
thread_local LinkHint lastLink;

// The first `count` pending names joined with '/', when each may go to the host as it stands.
bool pendingNames(const std::vector<Pending>& pending, std::size_t count, std::string& names) {
    names.clear();
    for (auto it = pending.rbegin(); it != pending.rbegin() + static_cast<std::ptrdiff_t>(count);
         ++it) {
        if (!isValidName(it->name) || !grammar::canBeAName(it->name)) return false;
        if (!names.empty()) names.push_back('/');
        names.append(it->name);
    }
    return !names.empty();
}

// Where the last walk in this thread found a name missing: the folder that lacked it, by its
// names below the drive. A walk that reaches the same folder opens it in one call, and asks the
// kept listing of it whether the next name is there, rather than looking at each name before it.
struct MissingHint : FolderHint {
    std::string missing;  // the name it lacked
};
thread_local MissingHint lastMissing;

// Where the last walk in this thread found a name in another case than the one given. A walk to a
// name in the same folder asks the kept listing of it for the name's case on disk first, and tries
// the whole path at once in that case, rather than first as given (which fails) and then walking.
thread_local FolderHint lastOtherCase;

// Whether `names` (joined with '/') goes on with `name` from `at`, which it moves past.
bool continuesWith(std::string_view names, std::size_t& at, std::string_view name) {
    if (at != 0) {
        if (at >= names.size() || names[at] != '/') return false;
        ++at;
    }
    if (names.substr(at, name.size()) != name) return false;
    at += name.size();
    return true;
}

}  // namespace

// Enters the first `count` pending names in one call when none is a link and all are there in the
// case given. When a kept listing of the folder they reach lacks the next name in every case,
// that name is missing, as the walk would have found it: the walk stops there; when it holds the
// name in one other case only, the walk looks at that case next, as it would after missing the
// name as given.
bool Walk::enterToMissing(std::size_t count) {
    std::string names;
    if (count == 0 || count >= pending_.size() || !pendingNames(pending_, count, names)) {
        return false;
    }
    const host::Result<host::Place> place = at_.folder().beneath(names, scratch_);
    if (!place) return false;
    host::Result<host::Handle> folder = host::openLinkFree(*place, host::LastLink::refuse);
    if (!folder) return false;
    // A name that cannot be entered stays pending, for the walk to say why.
    for (std::size_t entered = 0; entered < count; ++entered, pending_.pop_back()) {
        at_.push(pending_.back().name);
        anyFound_ = true;
    }
    const int entered = folder->get();
    at_.folder().hold(std::move(*folder));
    Pending& next = pending_.back();
    if (!isValidName(next.name) || next.name == "." || next.name == "..") return true;
    // A name the kept listing holds in another case is looked at in that case at once.
    std::string onDisk;
    file_type type = file_type::unknown;
    const NameCache::Known known = folderNames().known({entered, ""}, next.name, &onDisk, &type);
    if (known == NameCache::Known::present && !onDisk.empty() && onDisk != next.name) {
        next.name = std::move(onDisk);
        noteOtherCase();
        enterListed(type);
    }
    if (known != NameCache::Known::absent) return true;
    const bool last = pending_.size() == 1;
    noteMissing(next.name);
    stopAt(next.origin, make_error_code(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND));
    return true;
}

// How many pending names lead from where the walk stands to the hint's folder, with a name still
// pending after them; 0 otherwise.
std::size_t Walk::pendingTo(const FolderHint& hint) const {
    const std::size_t depth = at_.depth();
    if (hint.drive != at_.drive().letter || hint.count <= depth) return 0;
    const std::size_t count = hint.count - depth;
    if (count >= pending_.size()) return 0;
    std::size_t at = 0;
    for (std::size_t k = 0; k < depth; ++k) {
        if (!continuesWith(hint.names, at, at_.name(k))) return 0;
    }
    for (auto it = pending_.rbegin(); it != pending_.rbegin() + static_cast<std::ptrdiff_t>(count);
         ++it) {
        if (!continuesWith(hint.names, at, it->name)) return 0;
    }
    return at == hint.names.size() ? count : 0;
}

// How many pending names lead from where the walk stands to the folder of the missing hint, when
// the name after them is the one it lacked; 0 otherwise.
std::size_t Walk::hintedFolder() const {
    const std::size_t count = pendingTo(lastMissing);
    const bool same =
        count != 0 && pending_[pending_.size() - 1 - count].name == lastMissing.missing;
    return same ? count : 0;
}

void Walk::noteFolder(FolderHint& hint) const {
    hint.drive = at_.drive().letter;
    hint.count = at_.depth();
    hint.names.clear();
    for (std::size_t k = 0; k < at_.depth(); ++k) {
        if (k != 0) hint.names.push_back('/');
        hint.names.append(at_.name(k));
    }
}

void Walk::noteMissing(std::string_view name) {
    lastMissing.missing = name;
    noteFolder(lastMissing);
}

void Walk::noteOtherCase() {
    noteFolder(lastOtherCase);
}

// Enters the folders up to the one of the other-case hint, held, when its kept listing holds the
// next name only in another case, and has the walk look at that case next: the walk would have
// looked the name up as given, missed it, and found that case in the same listing. The names after
// it, if any, are entered at once from the folder held when none is a link. Whatever else the
// listing says ends the hint.
bool Walk::allAtOnceRespelt() {
    const std::size_t count = pendingTo(lastOtherCase);
    if (count == 0) return false;
    std::string names;
    if (!pendingNames(pending_, count, names)) return false;
    // The folder is opened with no link followed for its kept listing to be asked.
    const host::Result<host::Place> place = at_.folder().beneath(names, scratch_);
    if (!place) return false;
    host::Result<host::Handle> folder = host::openLinkFree(*place, host::LastLink::refuse);
    if (!folder) return false;
    Pending& next = pending_[pending_.size() - 1 - count];
    std::string onDisk;
    file_type type = file_type::unknown;
    folderNames().known({folder->get(), ""}, next.name, &onDisk, &type);
    if (onDisk.empty() || onDisk == next.name) {
        lastOtherCase.count = 0;
        return false;
    }
    next.name = std::move(onDisk);
    for (std::size_t entered = 0; entered < count; ++entered, pending_.pop_back()) {
        at_.push(pending_.back().name);
        anyFound_ = true;
    }
    at_.folder().hold(std::move(*folder));
    if (enterListed(type)) return true;
    // The last name is looked at in the folder held, in one call.
    if (pending_.size() < 2 || !pendingNames(pending_, pending_.size(), names)) return false;
    const host::Result<host::Place> whole = at_.folder().beneath(names, scratch_);
    if (!whole) return false;
    host::Result<host::Handle> handle = host::openLinkFree(*whole, lastLinkMode());
    return handle && enterVouched(std::move(*handle));
}

// Enters the last name, the one pending, as the kept listing of the folder where the walk stands
// gives it, when that listing tells its kind and it is no link: what a look at it would have found,
// since a name changes kind only by a change that the folder's stamp shows.
bool Walk::enterListed(file_type type) {
    if (pending_.size() != 1 || type == file_type::unknown || type == file_type::symlink) {
        return false;
    }
    at_.push(pending_.back().name);
    pending_.pop_back();
    anyFound_ = true;
    type_ = type;
    stat_.reset();
    return true;
}

void Walk::noteLink(std::size_t origin, std::string_view link) {
    if (links_ != 0 || origin != at_.depth()) return;  // only where the names are those given
    lastLink.drive = at_.drive().letter;
    lastLink.count = at_.depth() + 1;
    lastLink.names.clear();
    for (std::size_t k = 0; k < at_.depth(); ++k) {
        lastLink.names.append(at_.name(k));
        lastLink.names.push_back('/');
    }
    lastLink.names.append(link);
}

// Follows the hint's link when the path starts with it and names after it, as step() would have.
// Where it does not apply, or the host does not vouch for it, nothing is entered and the walk goes
// on name by name.
std::error_code Walk::followLastLink() {
    const std::size_t count = lastLink.count;
    if (lastLink.drive != at_.drive().letter || count == 0 || pending_.size() <= count) return {};
    std::string names;
    if (!pendingNames(pending_, count, names) || names != lastLink.names) return {};
    triedAtOnce_ = links_;
    const host::Result<host::Place> place = at_.folder().beneath(names, scratch_);
    if (!place) return {};
    const host::Result<host::Handle> handle = host::openLinkFree(*place, host::LastLink::open);
    std::string target;
    if (!handle || host::readLinkOf(*handle, target)) return {};
    // The folders before the link exist in the case given, and the link is one: as step() would.
    for (std::size_t entered = 1; entered < count; ++entered, pending_.pop_back()) {
        at_.push(pending_.back().name);
        anyFound_ = true;
    }
    const Pending link = std::move(pending_.back());
    pending_.pop_back();
    anyFound_ = true;
    before_ = at_;
    beforeOrigin_ = link.origin;
    return follow(target, link.origin);
}

// The names still to walk, taken in one call when the host confirms that none of them is a link
// and all are there in the case given. Tried at the start and again after each link. When a name
// is missing, the names before the last are tried the same way, so that a missing last name costs
// no walk either.
bool Walk::allAtOnce() {
    triedAtOnce_ = links_;
    if (const std::size_t count = hintedFolder(); count != 0 && enterToMissing(count)) {
        // At the missing name, or past the last one; else the rest from the folder entered.
        if (stopped() || pending_.empty()) return true;
    }
    const std::size_t before = pending_.size();
    if (allAtOnceRespelt()) return true;
    if (pending_.size() != before) return false;  // the walk goes on from the folder the hint held
    // One name costs the walk no more than openat2 would.
    std::string names;
    if (pending_.size() < 2 || !pendingNames(pending_, pending_.size(), names)) return false;
    const host::Result<host::Place> place = at_.folder().beneath(names, scratch_);
    if (!place) return false;
    host::Result<host::Handle> handle = host::openLinkFree(*place, lastLinkMode());
    if (handle.error().missing()) {
        // No link lies before the missing name: its folder is most often one of the last two.
        const std::size_t all = pending_.size();
        for (std::size_t count = all - 1; count > 0 && count + 2 >= all; --count) {
            if (enterToMissing(count)) break;
        }
        return stopped() || pending_.empty();
    }
    if (!handle) return false;
    return enterVouched(std::move(*handle));
}

// symlink_status() of a link needs the link itself; every other lookup goes on through it.
host::LastLink Walk::lastLinkMode() const noexcept {
    const bool linkAsIs = lookup_.follow == Follow::allButLast && lookup_.typeOfLast;
    return linkAsIs ? host::LastLink::open : host::LastLink::refuse;
}

// Enters every pending name, which the host has just vouched for with `last`, the last one opened;
// a folder is held as where the walk stands.
bool Walk::enterVouched(host::Handle last) {
    std::optional<host::Stat> stat;
    if (lookup_.typeOfLast) {
        host::Result<host::Stat> found = host::statOf(last);
        if (!found) return false;
        stat = *found;
    }
    const file_type type = stat ? stat->type : file_type::unknown;
    if (type == file_type::symlink && host::readLinkOf(last, entry_.target)) return false;
    for (; !pending_.empty(); pending_.pop_back()) {
        at_.push(pending_.back().name);
        anyFound_ = true;
    }
    if (type == file_type::directory) at_.folder().hold(std::move(last));
    type_ = type;
    stat_ = stat;
    return true;
}

namespace {

// What a folder's kept listing makes of `name`, for a shortcut that takes a name only as the walk
// would: the name on disk, which is the name as given where the folder holds it so; the name as
// given where only a look at it can tell (no listing is kept, or names there differ only in case);
// nothing where the listing lacks it in every case.
std::optional<std::string> spellingIn(int folder, const std::string& name) {
    std::string onDisk;
    switch (folderNames().known({folder, ""}, name, &onDisk)) {
        case NameCache::Known::absent:
            return std::nullopt;
        case NameCache::Known::present:
            if (!onDisk.empty()) return onDisk;
            return name;
        case NameCache::Known::unknown:
            break;
    }
    return name;
}

// The file `name` in `folder`, which does not hold it as given, in the case on disk that the
// folder's kept listing gives, opened with no link followed: nothing where no listing is kept,
// the listing lacks the name, or only a look at it could tell (names differ only in case there).
std::optional<host::Handle> openListed(int folder, const std::string& name, host::FileMode mode) {
    std::string onDisk;
    if (folderNames().known({folder, ""}, name, &onDisk) != NameCache::Known::present ||
        onDisk.empty()) {
        return std::nullopt;
    }
    host::Result<host::Handle> file =
        host::openFile({folder, onDisk.c_str()}, mode, host::Create::never);
    if (!file) return std::nullopt;
    return std::move(*file);
}

// The file that `names` lead to from `root`, one folder at a time: each name as its folder's kept
// listing spells it, or as given where only a look can tell, each folder entered and the file
// opened with no link followed. Nothing where a listing lacks a name, a name is not there as
// taken, or a link stands where a name is.
std::optional<host::Handle> openFromRoot(int root, const std::vector<std::string>& names,
                                         host::FileMode mode) {
    host::Handle held;
    int folder = root;
    for (std::size_t k = 0; k + 1 < names.size(); ++k) {
        const std::optional<std::string> taken = spellingIn(folder, names[k]);
        if (!taken) return std::nullopt;
        host::Result<host::Handle> next = host::enterFolder({folder, taken->c_str()});
        if (!next) return std::nullopt;
        held = std::move(*next);
        folder = held.get();
    }
    const std::optional<std::string> taken = spellingIn(folder, names.back());
    if (!taken) return std::nullopt;
    host::Result<host::Handle> file =
        host::openFile({folder, taken->c_str()}, mode, host::Create::never);
    if (!file) return std::nullopt;
    return std::move(*file);
}

// The drive letter of a full path of the plain form "X:\name\name", whose names need no
// parsing: nothing for any other form (verbatim, a share, a device, a bare root).
std::optional<char> plainDrivePath(std::string_view text) noexcept {
    if (text.size() < 4 || !grammar::isAsciiLetter(text[0]) || text[1] != ':' ||
        !grammar::isSeparator(text[2])) {
        return std::nullopt;
    }
    return text[0];
}

// `names` as the host spells them below the drive, joined with '/', where each is a name a disk
// holds as written: false for an empty name, ".", "..", or one Windows forbids, which the walk
// must judge.
bool joinPlainNames(std::string_view rest, std::string& names) {
    names.reserve(rest.size());
    for (grammar::ElementCursor elements(rest); elements.more();) {
        const std::string_view name = elements.take();
        if (name.empty() || name == "." || name == ".." || !isValidName(name)) return false;
        if (!names.empty()) names.push_back('/');
        names.append(name);
    }
    return !names.empty();
}

// The names, joined with '/', of the last open in this thread that openFromRoot() found, as given:
// the next open of the same names goes there at once, rather than first trying them, and the
// folder of the last, as given. It only chooses the calls.
thread_local std::string lastFromRoot;

}  // namespace

// A path not there as given is most often one whose last name alone is in another case: then its
// folder opens as given, and that folder's kept listing gives the name. Else every folder's does.
std::optional<host::Handle> openAsGiven(const DriveMap& map, const path& full, host::FileMode mode,
                                        OtherCase otherCase) {
    // The common form, "X:\a\b" made full, is taken as it stands: its names are already
    // lexically normal, so they join without being parsed into a list first.
    std::string names;
    const Drive* drive = nullptr;
    if (const std::optional<char> letter = plainDrivePath(full.native())) {
        drive = DriveMapAccess::drive(map, *letter);
        if (drive == nullptr || drive->failure) return std::nullopt;
        if (!joinPlainNames(std::string_view(full.native()).substr(3), names)) return std::nullopt;
    }
    std::optional<LookupForm> form;
    const auto parsed = [&]() -> const LookupForm& {
        if (!form) form = lookupFormOf(full);
        return *form;
    };
    if (drive == nullptr) {
        if ((parsed().kind != LookupForm::Kind::drive &&
             parsed().kind != LookupForm::Kind::share) ||
            parsed().names.empty()) {
            return std::nullopt;
        }
        std::error_code ec;
        drive = DriveMapAccess::driveOf(map, parsed(), ec);
        if (drive == nullptr) return std::nullopt;
        // Only a path taken verbatim has names that no disk can hold ("..", "a/b"): any other has
        // them lexically normal.
        const bool verbatim = grammar::isVerbatim(full.native());
        names.reserve(full.native().size());
        for (const std::string& name : parsed().names) {
            if (!isValidName(name) || (verbatim && !grammar::canBeAName(name))) {
                return std::nullopt;
            }
            if (!names.empty()) names.push_back('/');
            names.append(name);
        }
    }
    const int root = drive->handle.get();
    if (otherCase == OtherCase::walked || names != lastFromRoot) {
        host::Result<host::Handle> file = host::openFileBeneath({root, names.c_str()}, mode);
        if (file) return std::move(*file);
        if (!file.error().missing() || otherCase == OtherCase::walked) return std::nullopt;
        if (parsed().names.size() > 1) {
            const std::string parent =
                names.substr(0, names.size() - parsed().names.back().size() - 1);
            const host::Result<host::Handle> folder =
                host::openFolderToActIn({root, parent.c_str()});
            if (folder) return openListed(folder->get(), parsed().names.back(), mode);
            if (!folder.error().missing()) return std::nullopt;
        }
    }
    std::optional<host::Handle> file = openFromRoot(root, parsed().names, mode);
    if (file) {
        lastFromRoot = std::move(names);
    } else {
        lastFromRoot.clear();
    }
    return file;
}

}  // namespace winfs
