// The programs' own, not installed.
// winpath's operations, each a name, a line of help and what it does to one path: the results and
// the failure of one path, before they are written as text or JSON.
//
// Threading: the table is built once and never changed; an operation may run from any number of
// threads, as the operations it calls (the drive map and the working folder are read, not changed).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

struct Settings {
    std::optional<std::string> baseDir;  // abspath's --base
    std::string relativeTo;              // relative's and proximate's last argument
    bool resolveSymlinks = false;        // canonpath's and abspath's --resolve-symlinks
    bool mixed = false;                  // --mixed: Windows paths with '/'
    char separator = '\n';               // between paths read and written: -0 makes it NUL
    bool pathList = false;               // -p: each PATH a list of paths (windows, host)
};

// What one path gave: the plain text to write (each line ended), the result for --json, and the
// diagnostic lines that canonPath and absPath wrote on the way; or the error.
struct Outcome {
    std::string text;
    std::string result;                                      // for --json
    std::vector<std::pair<std::string, std::string>> parts;  // decompose's, for --json instead
    std::vector<std::string> diagnostics;
    std::error_code error;
    std::string message;  // what happened, where the error's own text would not say it
};

// Fills `outcome`, or sets outcome.error, or throws a filesystem error.
using Run = std::function<void(const std::string& input, const Settings&, Outcome&)>;

// What an operation's result is: --mixed writes a Windows path with '/'.
enum class Prints { windowsPath, other };

// The conversions between host and Windows paths, which users of path converters come for, and
// the operations that probe what Windows makes of a Windows path.
enum class Group { conversion, probe };

struct Operation {
    const char* name;
    const char* help;  // one line, for the list of operations
    Run run;
    bool takesBase = false;  // the last argument is the base that every other path is taken against
    Prints prints = Prints::windowsPath;
    Group group = Group::probe;
    const char* operands = "PATH...";  // for its usage line
    const char* details = "";          // what its own --help says beyond `help`
};

// Every operation, in the order --help lists them: the conversions first.
const std::vector<Operation>& operations();
// The operation of that name, or nullptr.
const Operation* findOperation(const std::string& name);
// Runs one operation on one path; a failure, thrown or not, ends up in outcome.error. A path
// holding a NUL fails with 123 (ERROR_INVALID_NAME), whatever the operation.
void runOne(const Operation& operation, const std::string& input, const Settings& settings,
            Outcome& outcome);
