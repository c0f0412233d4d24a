// Whether winfs answers as a Windows with long paths enabled (the default) or as one without
// LongPathsEnabled, where a program lacking the long-path manifest meets MAX_PATH.
//
// Threading: process-wide; both calls are safe from any number of threads at once. A call that is
// under way when the setting changes keeps the setting it began with.
#pragma once

namespace winfs {

// false: the legacy limit. An operation on a path whose full form, with its terminating NUL, takes
// more than MAX_PATH (260) UTF-16 units fails with ERROR_PATH_NOT_FOUND unless it is written with
// "\\?\" or "\??\"; create_directory allows MAX_PATH - 12 (248) with the NUL, and fails beyond with
// ERROR_FILENAME_EXCED_RANGE; the working directory cannot be set to a folder whose path, with a
// trailing '\' and the NUL, takes more than MAX_PATH (ERROR_FILENAME_EXCED_RANGE). absolute still
// answers, as GetFullPathNameW does. "C:\" and 256 more characters fit; one more does not.
// Until the first call, the environment decides: WINFS_LONG_PATHS=0 (or false, no, off) is the
// legacy limit; unset, empty, 1, true, yes or on is long paths; any other value is reported once on
// standard error and taken as long paths.
void set_long_paths(bool enabled) noexcept;
bool long_paths() noexcept;

}  // namespace winfs
