// Internal to winfs, not installed.
// The resolver: the one walk that looks a full Windows path up on the disk. It follows links (at
// most 63 in one resolution, as Windows does), matches names in any case and keeps the case found
// on disk, and hands back the part that exists, resolved, and the rest of the path.
//
// Threading: resolve() may run in any number of threads at once. It uses only the map it is given,
// which the caller keeps alive; a name that changes between two system calls is looked at again, so
// every answer is one state that the path really had.
#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "host/host.h"
#include "pathprobe/winfs/drive_map.h"
#include "pathprobe/winfs/path.h"
#include "resolve/resolution.h"

namespace winfs {

// Resolves `full`, a full path (as fullPathName() gives it) on a drive of `map`. A path on no drive
// fails with ERROR_BAD_NETPATH, an unmapped drive with ERROR_PATH_NOT_FOUND, a 64th link with
// ERROR_CANT_RESOLVE_FILENAME, a name with a character Windows forbids with ERROR_INVALID_NAME.
// A name that is not there is no error: it starts `rest`.
Resolution resolve(const DriveMap& map, const path& full, Lookup lookup, std::error_code& ec);

// Whether openAsGiven() takes names in another case from the folders' kept listings: for an open
// that expects the file there; one that may make it walks instead, since a new name would cost
// those calls for nothing.
enum class OtherCase { walked, listed };

// Opens the file that `full` names with `mode` where the walk would find it so, without walking:
// a path on a drive whose names are all there as given and none of them a link, in one call; with
// OtherCase::listed, also one whose names are in another case, each as its folder's kept listing
// spells it, one folder at a time, with no link followed. Nothing where the walk must say what the
// path names (a name missing, or in another case where no listing is kept, a link, a device, a
// stream, a name Windows forbids): the caller walks then.
std::optional<host::Handle> openAsGiven(const DriveMap& map, const path& full, host::FileMode mode,
                                        OtherCase otherCase);

}  // namespace winfs
