#include "resolve/resolver.h"

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "pathprobe/winfs/error.h"
#include "resolve/name_cache.h"
#include "resolve/walk.h"
#include "text/names.h"
#include "text/path_grammar.h"
#include "windows/lookup_form.h"

namespace winfs {
namespace {

constexpr int kMaxLinks = 63;
// Listings of one folder, at most, for a name renamed between its spellings as it is looked up,
// and the spellings tried after each.
constexpr int kListings = 32;
constexpr std::size_t kSpellings = 4;

// The devices that every Windows machine has: the bit bucket and the console. A printer, a serial
// or a parallel port (PRN, AUX, COM1, LPT1) is there only where the hardware is, and none is here.
bool isPresentDevice(std::string_view name) {
    for (const std::string_view present : {"NUL", "CON", "CONIN$", "CONOUT$"}) {
        if (grammar::equalIgnoringAsciiCase(name, present)) return true;
    }
    return false;
}

}  // namespace

void Position::reset(const Drive& drive, const LookupForm& form) {
    drive_ = &drive;
    folder_ = host::Cursor(drive.handle.get(), drive.folder);
    // An administrative share stays the root that was given; a drive is "X:\".
    if (form.kind == LookupForm::Kind::share) {
        windows_ = form.root;
        if (windows_.back() != '\\') windows_.push_back('\\');
    } else {
        windows_ = {drive.letter, ':', '\\'};
    }
    marks_.clear();
}

std::string_view Position::name(std::size_t k) const noexcept {
    const std::size_t start = marks_[k] + (k == 0 ? 0 : 1);
    const std::size_t end = k + 1 < marks_.size() ? marks_[k + 1] : windows_.size();
    return std::string_view(windows_).substr(start, end - start);
}

std::string Position::onDrive() const {
    std::string text{drive_->letter, ':', '\\'};
    if (!marks_.empty()) text.append(std::string_view(windows_).substr(marks_[0]));
    return text;
}

void Position::push(std::string_view name) {
    folder_.descend(name);
    marks_.push_back(windows_.size());
    if (windows_.back() != '\\') windows_.push_back('\\');
    windows_.append(name);
}

void Position::truncate(std::size_t depth) {
    if (depth >= marks_.size()) return;
    folder_.truncate(depth);
    windows_.resize(marks_[depth]);
    marks_.resize(depth);
}

std::error_code Walk::start(const LookupForm& form) {
    std::error_code ec;
    const Drive* drive = DriveMapAccess::driveOf(map_, form, ec);
    if (drive == nullptr) return ec;
    at_.reset(*drive, form);
    names_ = form.names;
    pending_.reserve(names_.size() + 8);
    for (std::size_t i = names_.size(); i > 0; --i)
        pending_.push_back({names_[i - 1], i - 1});
    return {};
}

void Walk::stopAt(std::size_t origin, std::error_code missing) {
    if (beforeOrigin_ == origin) {
        at_ = std::move(before_);  // a link that leads nowhere counts as missing itself
        type_ = file_type::directory;
        stat_.reset();
    }
    missingFrom_ = origin;
    missing_ = missing;
}

// Looks the name up in the case given, then, when it is not there, in any case: among names that
// differ only in case, the one that sorts first byte by byte, the same on every host whatever
// order the folder lists them in. A spelling that the listing gave and that is gone by the next
// look was renamed meanwhile (to another spelling, perhaps): the folder is listed again, a few
// times at most. A folder that cannot be listed cannot tell that a name is missing in every case:
// its error ends the walk; a folder that is gone itself leaves the name missing.
std::error_code Walk::lookUp(Pending& item, bool last) {
    // The folder where the walk stands is held for the look; one gone or no longer a folder (a link
    // now) leaves the name missing.
    const host::Result<host::Place> place = at_.folder().here();
    host::Error error = place ? look(item.name, last) : place.error();
    // The spellings the listings gave, the latest last: a name renamed back and forth between two
    // of them is caught in one or the other, however the renames fall between listing and look.
    std::vector<std::string> spellings;
    for (int round = 0; error.missing() && round < kListings; ++round) {
        // Out of step with whoever renames it, so that their renames fall at other moments.
        if (round > 1) std::this_thread::sleep_for(std::chrono::microseconds(round));
        std::string found;
        const std::error_code listed = folderNames().find({place->folder, ""}, item.name, found);
        const bool missed = listed == make_error_code(ERROR_FILE_NOT_FOUND) ||
                            listed == make_error_code(ERROR_PATH_NOT_FOUND);
        // A listing taken while the folder changed may miss a name being renamed in both its
        // spellings: one that an earlier listing gave is still looked at.
        if (missed && spellings.empty()) break;
        if (listed && !missed) return listed;
        if (!missed) {
            std::erase(spellings, found);
            if (spellings.size() == kSpellings) spellings.erase(spellings.begin());
            spellings.push_back(std::move(found));
        }
        for (auto spelling = spellings.rbegin(); spelling != spellings.rend(); ++spelling) {
            error = look(*spelling, last);
            if (!error.missing()) {
                item.name = std::move(*spelling);
                noteOtherCase();
                break;
            }
        }
    }
    if (error.missing() || error.notAFolder()) {
        // A drive whose folder is gone is a missing path, whatever follows.
        const bool driveThere = anyFound_ || at_.depth() > 0 || driveFolderThere();
        const bool fileMissing = last && error.missing() && driveThere;
        if (error.missing()) noteMissing(item.name);
        stopAt(item.origin,
               make_error_code(fileMissing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND));
        if (error.notAFolder() && beforeOrigin_ != item.origin) {
            type_ = file_type::regular;
            stat_.reset();
        }
        return {};
    }
    if (error) return error.windows(last ? host::At::lastName : host::At::folderOnTheWay);
    anyFound_ = true;
    return {};
}

// One look at a name in the folder where the walk stands, which is held. A name on the way is
// opened as a folder with no link followed, which tells in one call that it is a folder and no
// link, and holds it for the next name; what cannot be opened so (a link, a file) is looked at.
host::Error Walk::look(std::string_view name, bool last) {
    const host::Result<host::Place> place = at_.folder().in(name, scratch_);
    if (!place) return place.error();
    if (!last) {
        host::Result<host::Handle> folder = host::enterFolder(*place);
        if (folder) {
            entry_.type = file_type::directory;
            entry_.stat.reset();
            entered_ = std::move(*folder);
            return {};
        }
        if (!folder.error().notAFolder()) return folder.error();
    }
    entered_ = {};
    return host::lookAt(*place, last && lookup_.typeOfLast, entry_);
}

std::error_code Walk::step(Pending item, bool last) {
    // A stream suffix: the file's own data or a folder's index is the file or the folder; the host
    // keeps no other stream.
    const grammar::Stream stream = grammar::streamOf(item.name);
    item.name.resize(stream.nameLength);
    if (!isValidName(item.name) || !grammar::canBeAName(item.name)) {
        // Nothing on disk can have that name: it is missing, and says why.
        stopAt(item.origin, make_error_code(ERROR_INVALID_NAME));
        return {};
    }
    if (stream.kind == grammar::Stream::Kind::other) {
        stopAt(item.origin, make_error_code(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND));
        return {};
    }
    if (const std::error_code ec = lookUp(item, last); ec || stopped()) {
        return ec;
    }
    if (entry_.type == file_type::symlink && (lookup_.follow == Follow::all || !last)) {
        enterLink(item.origin, item.name);
        return follow(entry_.target, item.origin);
    }
    at_.push(item.name);
    at_.folder().hold(std::move(entered_));
    // Only the last name's type is asked for; a folder on the way that is a file fails the next
    // lookup.
    type_ = last ? entry_.type : file_type::directory;
    stat_ = last ? entry_.stat : std::nullopt;
    return {};
}

// Keeps where the walk stood before the link, the first time a name's link is met.
void Walk::enterLink(std::size_t origin, std::string_view name) {
    if (beforeOrigin_ == origin) return;
    before_ = at_;
    beforeOrigin_ = origin;
    noteLink(origin, name);
}

std::error_code Walk::follow(const std::string& target, std::size_t origin) {
    if (++links_ > kMaxLinks || target.empty()) return make_error_code(ERROR_CANT_RESOLVE_FILENAME);
    std::error_code ec;
    path windows;
    if (target.front() == '/') {
        // A host path, resolved as the host resolves it, then mapped to a drive.
        windows = map_.windowsPathFor(target, ec);
    } else {
        // Relative to the link's folder, where the walk stands, its ".." taken lexically and
        // stopping at the root of the link's drive, as on Windows: "..\..\etc" from C:\zor is
        // C:\etc, whoever made the link. A target is no DOS path: "nul" and "a." are names as they
        // stand, as Windows reads a link's target.
        const path relative = relativeWindowsPathFor(target, ec);
        if (!ec) windows = (path(at_.onDrive()) / relative).lexically_normal();
    }
    if (ec) {
        // A target that names nothing Windows can reach leaves the link missing, never elsewhere.
        if (!isNotFound(ec)) return ec;
        stopAt(origin, ec);
        return {};
    }
    type_ = file_type::directory;
    stat_.reset();
    return moveTo(windows, origin);
}

// Goes on from a link's target. The folders that the target shares with where the walk stands were
// resolved already (the walk never stands on a link), so only the rest is walked.
std::error_code Walk::moveTo(const path& windows, std::size_t origin) {
    LookupForm form = lookupFormOf(windows);
    std::error_code ec;
    const Drive* drive = DriveMapAccess::driveOf(map_, form, ec);
    if (drive == nullptr) return ec;
    std::vector<std::string>& names = form.names;
    std::size_t shared = 0;
    if (drive == &at_.drive()) {
        while (shared < names.size() && shared < at_.depth() && at_.name(shared) == names[shared])
            ++shared;
        at_.truncate(shared);
    } else {
        at_.reset(*drive, form);
    }
    for (std::size_t i = names.size(); i > shared; --i)
        pending_.push_back({std::move(names[i - 1]), origin});
    return {};
}

// Whether the folder of the drive where the walk stands is there, as a folder.
bool Walk::driveFolderThere() {
    const host::Result<host::Place> root = at_.folder().here();
    return root && host::isFolderAt(*root);
}

Resolution Walk::result() {
    Resolution result;
    result.head = path(at_.windows());
    result.drive = at_.drive().letter;
    result.folder = at_.folder();
    result.type = type_;
    result.stat = stat_;
    if (type_ == file_type::symlink) result.linkTarget = std::move(entry_.target);
    if (stopped()) {
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

// What the walk gives for a device: the device as it was named, there or missing.
Resolution deviceResolution(const LookupForm& form) {
    Resolution result;
    result.head = path(form.root);
    if (isPresentDevice(form.device)) {
        result.type = file_type::character;
    } else {
        result.head = path(form.root.substr(0, form.root.size() - form.device.size()));
        result.rest = path(form.device);
        result.missing = make_error_code(ERROR_FILE_NOT_FOUND);
    }
    return result;
}

Resolution Walk::run(const path& full, std::error_code& ec) {
    const LookupForm form = lookupFormOf(full);
    if (form.kind == LookupForm::Kind::device) return deviceResolution(form);
    if ((ec = start(form))) return {};
    ec = followLastLink();
    while (!ec && !stopped() && !pending_.empty()) {
        if (links_ != triedAtOnce_ && allAtOnce()) break;
        Pending item = std::move(pending_.back());
        pending_.pop_back();
        ec = step(std::move(item), pending_.empty());
    }
    if (ec) return {};
    if (!anyFound_ && !stopped() && !driveFolderThere()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    return result();
}

Resolution resolve(const DriveMap& map, const path& full, Lookup lookup, std::error_code& ec) {
    return Walk(map, lookup).run(full, ec);
}

}  // namespace winfs
