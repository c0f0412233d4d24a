#include "winfs/resolver.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "winfs/error.h"
#include "winfs/name_cache.h"
#include "winfs/names.h"
#include "winfs/utf8.h"

namespace winfs {
namespace {

constexpr int kMaxLinks = 63;

// Where the walk stands: a folder on the host and the same folder as a Windows path, every name on
// the way resolved and in the case found on disk.
class Position {
  public:
    void reset(const DriveMap::Drive& drive) {
        drive_ = &drive;
        folder_ = host::Cursor(drive.handle.get(), drive.folder);
        windows_ = {drive.letter, ':', '\\'};
        marks_.clear();
    }
    const DriveMap::Drive& drive() const noexcept { return *drive_; }
    const host::Cursor& folder() const noexcept { return folder_; }
    const std::string& windows() const noexcept { return windows_; }
    std::size_t depth() const noexcept { return marks_.size(); }
    std::string_view name(std::size_t k) const noexcept {
        const std::size_t start = marks_[k] + (k == 0 ? 0 : 1);
        const std::size_t end = k + 1 < marks_.size() ? marks_[k + 1] : windows_.size();
        return std::string_view(windows_).substr(start, end - start);
    }

    // 0, or the errno value of opening a folder on the way, for a path deeper than the host takes.
    int push(std::string_view name) {
        if (const int error = folder_.descend(name); error != 0) return error;
        marks_.push_back(windows_.size());
        if (windows_.back() != '\\') windows_.push_back('\\');
        windows_.append(name);
        return 0;
    }
    // Back to the first `depth` names: the folders a link's target shares with where we stand.
    void truncate(std::size_t depth) {
        if (depth >= marks_.size()) return;
        folder_.truncate(depth);
        windows_.resize(marks_[depth]);
        marks_.resize(depth);
    }

  private:
    const DriveMap::Drive* drive_ = nullptr;
    host::Cursor folder_;
    std::string windows_;             // "C:\" then names joined with '\'
    std::vector<std::size_t> marks_;  // windows_'s size before each name
};

// A name still to look up, and which name of the walked path it stands for (a link's target
// stands for the link).
struct Pending {
    std::string name;
    std::size_t origin;
};

// The names of a plain drive path ("C:\\a\\b", as drivePathOf() gives it), in order.
void appendNames(const path& plain, std::vector<std::string>& names) {
    const std::string_view text = plain.native();
    for (std::size_t start = 3; start < text.size();) {
        const std::size_t end = std::min(text.find('\\', start), text.size());
        if (end > start) names.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool isMissing(const std::error_code& ec) noexcept {
    return ec == make_error_code(ERROR_FILE_NOT_FOUND) ||
           ec == make_error_code(ERROR_PATH_NOT_FOUND) || ec == make_error_code(ERROR_INVALID_NAME);
}

// Whether a relative target's ".." climb above the drive's folder from `depth` names below it: the
// host then takes them out of the drive, which only the host path can say where.
bool climbsOutOfTheDrive(std::string_view target, std::size_t depth) noexcept {
    std::size_t level = depth;
    for (std::size_t start = 0; start <= target.size();) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const std::string_view name = target.substr(start, end - start);
        if (name == "..") {
            if (level == 0) return true;
            --level;
        } else if (!name.empty() && name != ".") {
            ++level;
        }
        start = end + 1;
    }
    return false;
}

class Walk {
  public:
    Walk(const DriveMap& map, Lookup lookup) : map_(map), lookup_(lookup) {}

    Resolution run(const path& full, std::error_code& ec);

  private:
    bool start(const path& full, std::error_code& ec);
    bool step(Pending item, bool last, std::error_code& ec);
    bool follow(const std::string& target, std::size_t origin, std::error_code& ec);
    bool moveTo(const path& windows, std::size_t origin, std::error_code& ec);
    const DriveMap::Drive* usable(char letter, std::error_code& ec) const;
    std::error_code findIgnoringCase(std::string& name) const;
    bool allAtOnce();
    bool enterAtOnce(std::size_t count);
    bool followsLastLink(std::error_code& ec);
    void noteLink(std::size_t origin, std::string_view link);
    void stopAt(std::size_t origin, std::error_code missing);

    const DriveMap& map_;
    Lookup lookup_;
    Position at_;
    std::vector<std::string> names_;  // the names of the walked path below its drive
    std::vector<Pending> pending_;    // last first
    file_type type_ = file_type::directory;
    Position before_;  // where the walk stood before the name whose link it is following
    std::size_t beforeOrigin_ = static_cast<std::size_t>(-1);
    std::size_t missingFrom_ = static_cast<std::size_t>(-1);
    std::error_code missing_;
    int links_ = 0;
    bool anyFound_ = false;
    std::string scratch_;
    host::Entry entry_;
    int triedAtOnce_ = -1;  // links_ when allAtOnce() was last tried
};

const DriveMap::Drive* Walk::usable(char letter, std::error_code& ec) const {
    const DriveMap::Drive* drive = map_.drive(letter);
    if (drive == nullptr) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    if (drive->failure) {
        ec = drive->failure;
        return nullptr;
    }
    return drive;
}

bool Walk::start(const path& full, std::error_code& ec) {
    const path plain = drivePathOf(full);
    if (plain.empty()) {
        ec = make_error_code(ERROR_BAD_NETPATH);
        return false;
    }
    const DriveMap::Drive* drive = usable(plain.native()[0], ec);
    if (drive == nullptr) return false;
    at_.reset(*drive);
    appendNames(plain, names_);
    pending_.reserve(names_.size() + 8);
    for (std::size_t i = names_.size(); i > 0; --i)
        pending_.push_back({names_[i - 1], i - 1});
    return true;
}

// Among names that differ only in case, the one that sorts first byte by byte: the same on every
// host, whatever order the folder lists them in.
std::error_code Walk::findIgnoringCase(std::string& name) const {
    std::string found;
    const std::error_code ec = folderNames().find(at_.folder().place(), name, found);
    if (!ec) name = std::move(found);
    return ec;
}

void Walk::stopAt(std::size_t origin, std::error_code missing) {
    if (beforeOrigin_ == origin) {
        at_ = std::move(before_);  // a link that leads nowhere counts as missing itself
        type_ = file_type::directory;
    }
    missingFrom_ = origin;
    missing_ = missing;
}

bool Walk::step(Pending item, bool last, std::error_code& ec) {
    if (!isValidName(item.name)) {
        // Nothing on disk can have that name: it is missing, and says why.
        stopAt(item.origin, make_error_code(ERROR_INVALID_NAME));
        return false;
    }
    const bool wantType = last && lookup_.typeOfLast;
    int error = host::lookAt(at_.folder().placeOf(item.name, scratch_), wantType, entry_);
    if (error == ENOENT) {
        // A folder that cannot be listed cannot tell that a name is missing in every case.
        const std::error_code listed = findIgnoringCase(item.name);
        if (listed && listed != make_error_code(ERROR_FILE_NOT_FOUND)) {
            ec = listed;
            return false;
        }
        if (!listed) {
            error = host::lookAt(at_.folder().placeOf(item.name, scratch_), wantType, entry_);
        }
    }
    if (error == ENOENT || error == ENOTDIR) {
        // A drive whose folder is gone is a missing path, whatever follows.
        file_type driveType = file_type::none;
        const bool driveThere = anyFound_ || at_.depth() > 0 ||
                                host::typeAt(at_.folder().place(), true, driveType) == 0;
        const bool fileMissing = last && error == ENOENT && driveThere;
        stopAt(item.origin,
               make_error_code(fileMissing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND));
        if (error == ENOTDIR && beforeOrigin_ != item.origin) type_ = file_type::regular;
        return false;
    }
    if (error != 0) {
        ec = host::windowsError(error, last ? host::At::lastName : host::At::folderOnTheWay);
        return false;
    }
    anyFound_ = true;
    if (entry_.type == file_type::symlink && (lookup_.follow == Follow::all || !last)) {
        if (beforeOrigin_ != item.origin) {
            before_ = at_;
            beforeOrigin_ = item.origin;
            noteLink(item.origin, item.name);
        }
        return follow(entry_.target, item.origin, ec);
    }
    if (const int pushed = at_.push(item.name); pushed != 0) {
        ec = host::windowsError(pushed, host::At::folderOnTheWay);
        return false;
    }
    // Only the last name's type is asked for; a folder on the way that is a file fails the next
    // lookup.
    type_ = last ? entry_.type : file_type::directory;
    return true;
}

bool Walk::follow(const std::string& target, std::size_t origin, std::error_code& ec) {
    if (++links_ > kMaxLinks || target.empty()) {
        ec = make_error_code(ERROR_CANT_RESOLVE_FILENAME);
        return false;
    }
    path windows;
    if (target.front() == '/' || climbsOutOfTheDrive(target, at_.depth())) {
        // A host path, resolved as the host resolves it, then mapped to a drive.
        std::string host = target;
        if (host.front() != '/') host.insert(0, at_.folder().host() + "/");
        windows = map_.windowsPathFor(host, ec);
    } else {
        // Relative to the link's folder, where the walk stands, its ".." taken lexically. A target
        // is no DOS path: "nul" and "a." are names as they stand, as Windows reads a link's target.
        const path relative = windowsPathOf(target, ec);
        if (!ec) windows = (path(at_.windows()) / relative).lexically_normal();
    }
    if (ec) {
        // A target that names nothing Windows can reach leaves the link missing, never elsewhere.
        if (!isMissing(ec)) return false;
        stopAt(origin, ec);
        ec.clear();
        return false;
    }
    type_ = file_type::directory;
    return moveTo(windows, origin, ec);
}

// Goes on from a link's target. The folders that the target shares with where the walk stands were
// resolved already (the walk never stands on a link), so only the rest is walked.
bool Walk::moveTo(const path& windows, std::size_t origin, std::error_code& ec) {
    const path plain = drivePathOf(windows);
    if (plain.empty()) {
        ec = make_error_code(ERROR_BAD_NETPATH);
        return false;
    }
    std::vector<std::string> names;
    appendNames(plain, names);
    const DriveMap::Drive* drive = usable(plain.native()[0], ec);
    if (drive == nullptr) return false;
    std::size_t shared = 0;
    if (drive == &at_.drive()) {
        while (shared < names.size() && shared < at_.depth() && at_.name(shared) == names[shared])
            ++shared;
        at_.truncate(shared);
    } else {
        at_.reset(*drive);
    }
    for (std::size_t i = names.size(); i > shared; --i)
        pending_.push_back({std::move(names[i - 1]), origin});
    return true;
}

// The names still to walk, taken in one call when the host confirms that none of them is a link
// and all are there in the case given: a path without links, in the case on disk, needs no walk
// name by name. Tried at the start and again after each link. When a name is missing, the names
// before the last are tried the same way, so that a missing last name costs no walk either.
// Anything else (a link, a missing folder, a name in another case, a host without the call) is
// left to the walk.
// Where the last walk in this thread met a link among the names it was given: a walk of a path that
// starts with the same names opens that link in one call, which enters the folders before it only
// if none of them is a link, and reads its target from the handle, rather than first trying the
// whole path at once. It only chooses the calls; every answer still comes from them.
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
        if (!isValidName(it->name) || it->name == "." || it->name == "..") return false;
        if (!names.empty()) names.push_back('/');
        names.append(it->name);
    }
    return !names.empty();
}

// Enters the first `count` pending names in one call when none is a link and all are there in
// the case given.
bool Walk::enterAtOnce(std::size_t count) {
    std::string names;
    host::Handle handle;
    if (!pendingNames(pending_, count, names) ||
        host::openLinkFree(at_.folder().placeOf(names, scratch_), host::LastLink::refuse, handle) !=
            0) {
        return false;
    }
    // A name that cannot be entered stays pending, for the walk to say why.
    for (std::size_t entered = 0; entered < count; ++entered, pending_.pop_back()) {
        if (at_.push(pending_.back().name) != 0) return false;
        anyFound_ = true;
    }
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

// Follows the hint's link when the path starts with it and names after it, as step() would have;
// false when the walk goes on name by name instead (or stopped, with `ec` or a missing name).
bool Walk::followsLastLink(std::error_code& ec) {
    const std::size_t count = lastLink.count;
    if (lastLink.drive != at_.drive().letter || count == 0 || pending_.size() <= count) {
        return false;
    }
    std::string names;
    if (!pendingNames(pending_, count, names) || names != lastLink.names) return false;
    triedAtOnce_ = links_;
    host::Handle handle;
    std::string target;
    if (host::openLinkFree(at_.folder().placeOf(names, scratch_), host::LastLink::open, handle) !=
            0 ||
        host::readLinkOf(handle, target) != 0) {
        return false;
    }
    // The folders before the link exist in the case given, and the link is one: as step() would.
    for (std::size_t entered = 1; entered < count; ++entered, pending_.pop_back()) {
        if (at_.push(pending_.back().name) != 0) return false;
        anyFound_ = true;
    }
    const Pending link = std::move(pending_.back());
    pending_.pop_back();
    anyFound_ = true;
    before_ = at_;
    beforeOrigin_ = link.origin;
    return follow(target, link.origin, ec) || !ec;
}

bool Walk::allAtOnce() {
    triedAtOnce_ = links_;
    std::string names;
    if (!pendingNames(pending_, pending_.size(), names)) return false;
    // symlink_status() of a link needs the link itself; every other lookup goes on through it.
    const bool linkAsIs = lookup_.follow == Follow::allButLast && lookup_.typeOfLast;
    host::Handle handle;
    const int error =
        host::openLinkFree(at_.folder().placeOf(names, scratch_),
                           linkAsIs ? host::LastLink::open : host::LastLink::refuse, handle);
    if (error == ENOENT && pending_.size() > 3) {
        // Worth a call only where it saves more than one: three names or more before the last.
        enterAtOnce(pending_.size() - 1);
        return false;
    }
    if (error != 0) return false;
    file_type type = file_type::unknown;
    if (lookup_.typeOfLast && host::typeOf(handle, type) != 0) return false;
    if (type == file_type::symlink && host::readLinkOf(handle, entry_.target) != 0) return false;
    for (; !pending_.empty(); pending_.pop_back()) {
        if (at_.push(pending_.back().name) != 0) return false;
        anyFound_ = true;
    }
    type_ = type;
    return true;
}

Resolution Walk::run(const path& full, std::error_code& ec) {
    ec.clear();
    Resolution result;
    if (!start(full, ec)) return result;
    followsLastLink(ec);
    while (!ec && missingFrom_ == static_cast<std::size_t>(-1) && !pending_.empty()) {
        if (links_ != triedAtOnce_ && allAtOnce()) break;
        Pending item = std::move(pending_.back());
        pending_.pop_back();
        if (!step(std::move(item), pending_.empty(), ec)) break;
    }
    if (ec) return result;
    if (!anyFound_ && missingFrom_ == static_cast<std::size_t>(-1)) {
        file_type driveType = file_type::none;
        if (host::typeAt(at_.folder().place(), true, driveType) != 0) {
            ec = make_error_code(ERROR_PATH_NOT_FOUND);
            return result;
        }
    }
    result.head = path(at_.windows());
    result.folder = at_.folder();
    result.type = type_;
    if (type_ == file_type::symlink) result.linkTarget = std::move(entry_.target);
    if (missingFrom_ != static_cast<std::size_t>(-1)) {
        std::string rest;
        for (std::size_t i = missingFrom_; i < names_.size(); ++i) {
            if (!rest.empty()) rest.push_back('\\');
            rest.append(names_[i]);
        }
        result.rest = path(std::move(rest));
        result.missing = missing_;
    }
    return result;
}

}  // namespace

Resolution resolve(const DriveMap& map, const path& full, Lookup lookup, std::error_code& ec) {
    return Walk(map, lookup).run(full, ec);
}

}  // namespace winfs
