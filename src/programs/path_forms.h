// The programs' own, not installed.
// winpath's two conversions, a host path to its Windows path and a Windows path to its host path,
// of one path or of a list of them ("/a:/b" to "C:\a;Z:\b", as WINEPATH and PATH hold them).
//
// Threading: safe to call from any number of threads; they read the drive map and the working
// folder, as the operations do.
#pragma once

#include <string>
#include <system_error>

enum class Direction { toWindows, toHost };

// One path converted, or why not: `message`, where set, says what happened in place of the
// system's text for `error`.
struct Converted {
    std::string path;
    std::error_code error;
    std::string message;
};

// How a Windows path is to be written: with '\', or with '/' as --mixed writes it ("C:/zor"). A
// path after "\\?\" keeps its names only with '\' ("//?/C:/x/trail." is "C:\x\trail" to
// Windows): with '/' it fails.
enum class Separator { backslash, slash };

// A path holding a NUL has neither form: it fails with 123 (ERROR_INVALID_NAME).
Converted convertPath(Direction direction, const std::string& input,
                      Separator separator = Separator::backslash);

// A host list, split at ':', to a Windows list joined by ';' (an element holding ';' written in
// double quotes, as PATH holds it); a Windows list, split at ';' outside double quotes, to a host
// list joined by ':'. An empty element stays empty. The list fails at its first element that fails,
// and names it; a host path holding ':' cannot stand in a host list.
Converted convertList(Direction direction, const std::string& list,
                      Separator separator = Separator::backslash);
