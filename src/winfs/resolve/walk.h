// Internal to winfs, not installed.
// The resolver's walk: where it stands, what it has still to look up, and how it goes on. The walk
// name by name (resolver.cpp) is the meaning of a resolution; the shortcuts (walk_shortcuts.cpp)
// only save system calls, and leave to it every case they cannot settle. Internal to the resolver.
//
// Threading: a Walk belongs to the thread that runs it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "drives/drive.h"
#include "host/host.h"
#include "resolve/resolution.h"
#include "windows/lookup_form.h"

namespace winfs {

// Where the walk stands: a folder on the host and the same folder as a Windows path, every name on
// the way resolved and in the case found on disk.
class Position {
  public:
    void reset(const Drive& drive, const LookupForm& form);
    const Drive& drive() const noexcept { return *drive_; }
    const host::Cursor& folder() const noexcept { return folder_; }
    host::Cursor& folder() noexcept { return folder_; }
    const std::string& windows() const noexcept { return windows_; }
    // The same place on its drive's root, "X:\", whatever root the walk was given.
    std::string onDrive() const;
    std::size_t depth() const noexcept { return marks_.size(); }
    std::string_view name(std::size_t k) const noexcept;

    // Enters the name, a folder in this one.
    void push(std::string_view name);
    // Back to the first `depth` names: the folders a link's target shares with where we stand.
    void truncate(std::size_t depth);

  private:
    const Drive* drive_ = nullptr;
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

// A folder that the last walk in a thread met, by its names below its drive, for the next walk
// to go there in one call.
struct FolderHint {
    char drive = 0;
    std::string names;      // joined with '/'
    std::size_t count = 0;  // how many; none is a hint to no folder
};

class Walk {
  public:
    Walk(const DriveMap& map, Lookup lookup) : map_(map), lookup_(lookup) {}

    Resolution run(const path& full, std::error_code& ec);

  private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    // Name by name. Each returns the error that ends the resolution; a name that is not there is
    // no error: it stops the walk (stopAt), and the rest of the path is missing from it on.
    std::error_code start(const LookupForm& form);
    std::error_code step(Pending item, bool last);
    std::error_code lookUp(Pending& item, bool last);
    host::Error look(std::string_view name, bool last);
    std::error_code follow(const std::string& target, std::size_t origin);
    std::error_code moveTo(const path& windows, std::size_t origin);
    void enterLink(std::size_t origin, std::string_view name);
    void stopAt(std::size_t origin, std::error_code missing);
    bool stopped() const noexcept { return missingFrom_ != none; }
    bool driveFolderThere();
    Resolution result();

    // The shortcuts: each enters names in one call where the host vouches that the walk would have
    // found them so, and leaves everything else pending.
    bool allAtOnce();
    bool allAtOnceRespelt();
    bool enterVouched(host::Handle last);
    bool enterListed(file_type type);
    host::LastLink lastLinkMode() const noexcept;
    bool enterToMissing(std::size_t count);
    std::size_t pendingTo(const FolderHint& hint) const;
    std::size_t hintedFolder() const;
    std::error_code followLastLink();
    void noteFolder(FolderHint& hint) const;
    void noteLink(std::size_t origin, std::string_view link);
    void noteMissing(std::string_view name);
    void noteOtherCase();

    const DriveMap& map_;
    const Lookup lookup_;
    Position at_;
    std::vector<std::string> names_;  // the names of the walked path below its drive
    std::vector<Pending> pending_;    // last first
    file_type type_ = file_type::directory;
    std::optional<host::Stat> stat_;  // of the last name, when its type was asked
    Position before_;  // where the walk stood before the name whose link it is following
    std::size_t beforeOrigin_ = none;
    std::size_t missingFrom_ = none;
    std::error_code missing_;
    int links_ = 0;
    bool anyFound_ = false;
    std::string scratch_;
    host::Entry entry_;
    host::Handle entered_;  // the folder that the last look opened, if it opened one
    int triedAtOnce_ = -1;  // links_ when allAtOnce() was last tried
};

}  // namespace winfs
