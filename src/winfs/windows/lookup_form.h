// Internal to winfs, not installed.
// How the file calls (CreateFileW and the rest) read a full path before they look it up: which
// drive, administrative share or device it starts on, and which names follow. Lexical: nothing
// here touches the disk.
//
// Threading: pure functions; safe to call concurrently.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pathprobe/winfs/path.h"

namespace winfs {

struct LookupForm {
    // unixNamespace: Wine's own namespace of the host's whole tree, "\\?\unix\usr\bin" for
    // "/usr/bin".
    enum class Kind { drive, share, device, unixNamespace, nothing };
    Kind kind = Kind::nothing;
    // drive: its letter; share: the drive letter of an "X$" share, or 0 for any other share.
    char drive = 0;
    std::string server;  // share: as given
    std::string root;    // the text before the first name, as given: "c:\", "\\localhost\c$\"
    // The names to look up. A path after \\?\ or \??\ gives them verbatim: "." and "..", a name
    // ending in a dot or a space, or one holding '/', are names as they stand (and nothing on an
    // NTFS disk has the first or the last of them); any other path gives them lexically normal.
    std::vector<std::string> names;
    std::string device;  // device: its name as given ("nul")
};

// "c:\zor" and "\\.\C:\zor\..\zor" are C:'s "zor"; "\\?\C:\zor\..\zor" is C:'s "zor", "..",
// "zor"; "\\localhost\c$\zor", "\\?\UNC\localhost\c$\zor" and "\\.\UNC\localhost\c$\zor" are
// the share c$ of localhost, "zor"; "\\.\nul" and "\\?\CON" are devices; "\\?\unix\usr" and
// "\??\UNIX\usr" are the host's "usr"; "\\.\pipe\x" is nothing.
// `full` is a full path as fullPathName() gives it, \\?\ and \??\ paths as given.
LookupForm lookupFormOf(const path& full);

}  // namespace winfs
