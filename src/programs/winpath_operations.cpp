#include "winpath_operations.h"

#include <exception>
#include <sstream>

#include "decomposition_report.h"
#include "path_forms.h"
#include "pathprobe/path_resolution.h"
#include "platform.h"

namespace {

void setPath(Outcome& outcome, const fs::path& result) {
    outcome.result = result.string();
    outcome.text.reserve(outcome.result.size() + 1);
    outcome.text.append(outcome.result).push_back('\n');
}

// An std-style operation f(path, ec) -> path.
template <class F>
Run onPath(F f) {
    return [f](const std::string& input, const Settings&, Outcome& outcome) {
        const fs::path result = f(fs::path(input), outcome.error);
        if (!outcome.error) setPath(outcome, result);
    };
}

// An std-style operation f(path, base, ec) -> path.
template <class F>
Run againstBase(F f) {
    return [f](const std::string& input, const Settings& settings, Outcome& outcome) {
        const fs::path result = f(fs::path(input), fs::path(settings.relativeTo), outcome.error);
        if (!outcome.error) setPath(outcome, result);
    };
}

const char* typeName(fs::file_type type) {
    switch (type) {
        case fs::file_type::none:
            return "none";
        case fs::file_type::not_found:
            return "not_found";
        case fs::file_type::regular:
            return "regular";
        case fs::file_type::directory:
            return "directory";
        case fs::file_type::symlink:
            return "symlink";
        case fs::file_type::block:
            return "block";
        case fs::file_type::character:
            return "character";
        case fs::file_type::fifo:
            return "fifo";
        case fs::file_type::socket:
            return "socket";
        default:
            return "unknown";
    }
}

void status(const std::string& input, const Settings&, Outcome& outcome) {
    const fs::file_status s = fs::status(fs::path(input), outcome.error);
    // A missing path is an answer, not a failure, whether or not the library sets the code.
    if (s.type() == fs::file_type::not_found) outcome.error.clear();
    if (outcome.error) return;
    outcome.text = std::string(typeName(s.type())) + "\n";
    outcome.result = typeName(s.type());
}

// A path, or a list of them with -p, in the other form: fails alone where it has no such form.
template <Direction direction>
void converted(const std::string& input, const Settings& settings, Outcome& outcome) {
    const Separator separator = settings.mixed ? Separator::slash : Separator::backslash;
    Converted converted = settings.pathList ? convertList(direction, input, separator)
                                            : convertPath(direction, input, separator);
    outcome.error = converted.error;
    outcome.message = std::move(converted.message);
    if (outcome.error) return;
    outcome.text = converted.path + "\n";
    outcome.result = std::move(converted.path);
}

void decompose(const std::string& input, const Settings&, Outcome& outcome) {
    std::ostringstream entry;
    writeDecomposition(entry, input);
    outcome.text = entry.str();
    outcome.parts = decomposition(fs::path(input));
}

// The diagnostic lines that canonPath and absPath write to `lines` are kept with the result, also
// when the call throws.
void withDiagnostics(Outcome& outcome,
                     const std::function<fs::path(std::ostream& lines)>& resolve) {
    std::ostringstream lines;
    fs::path result;
    std::exception_ptr failure;
    try {
        result = resolve(lines);
    } catch (...) {
        failure = std::current_exception();
    }
    std::istringstream text(lines.str());
    for (std::string line; std::getline(text, line);)
        outcome.diagnostics.push_back(line);
    if (failure) std::rethrow_exception(failure);
    setPath(outcome, result);
}

}  // namespace

const std::vector<Operation>& operations() {
    static const std::vector<Operation> table{
        {.name = "windows",
         .help = "the Windows path of a host path, through the drive map",
         .run = converted<Direction::toWindows>,
         .group = Group::conversion,
         .operands = "HOSTPATH...",
         .details =
             "On the drive whose folder is the longest leading part of the host path, a link to a\n"
             "drive's folder counting as that folder. A relative host path is taken against the\n"
             "working folder, \"..\" by its text; a trailing / is kept as \\. A name that Windows\n"
             "would read as another file (\"trail.\", \"trail \", \"nul\") is written after "
             "\\\\?\\,\n"
             "which keeps it (\\\\?\\C:\\x\\trail.); a path outside every drive as Wine writes it\n"
             "(\\\\?\\unix\\usr\\bin). A Windows path (C:/zor) comes back as it is, made full. A "
             "name\n"
             "that Windows cannot spell (a\\b, a:b) fails."},
        {.name = "host",
         .help = "the host path that a Windows path names",
         .run = converted<Direction::toHost>,
         .prints = Prints::other,
         .group = Group::conversion,
         .operands = "WINPATH...",
         .details =
             "The part that exists is found in any case, the links before the last name followed;\n"
             "a link as the last name is named, not followed, so that rm of it removes the link. "
             "A\n"
             "path after \\\\?\\ is taken as it stands (\\\\?\\C:\\x\\trail. is trail., not "
             "trail);\n"
             "\\\\?\\unix\\usr\\bin is /usr/bin. A host path (/tmp/x) comes back as it is. A drive "
             "that\n"
             "is not mapped, a device (nul) and a stream (f.txt:s) fail, saying which."},
        {.name = "short",
         .help = "each name in its short (8.3) form; the path must exist (GetShortPathName)",
         .run = onPath(shortPathName),
         .group = Group::conversion,
         .operands = "WINPATH..."},
        {.name = "long",
         .help = "each name in its long form; the path must exist (GetLongPathName)",
         .run = onPath(longPathName),
         .group = Group::conversion,
         .operands = "WINPATH..."},
        {"absolute", "the path made absolute, lexically (GetFullPathName)",
         onPath([](const fs::path& p, std::error_code& ec) { return fs::absolute(p, ec); })},
        {"canonical", "every element resolved on disk; the path must exist",
         onPath([](const fs::path& p, std::error_code& ec) { return fs::canonical(p, ec); })},
        {"weakly_canonical", "canonical for the part that exists, the rest appended",
         onPath(
             [](const fs::path& p, std::error_code& ec) { return fs::weakly_canonical(p, ec); })},
        {"status", "the file type: regular, directory, not_found, ...", status, false,
         Prints::other},
        {"normal", "lexically_normal",
         onPath([](const fs::path& p, std::error_code&) { return p.lexically_normal(); })},
        {"decompose", "the decomposition report's lines for the path", decompose, false,
         Prints::other},
        {"relative", "each path relative to BASE, on disk",
         againstBase([](const fs::path& p, const fs::path& base, std::error_code& ec) {
             return fs::relative(p, base, ec);
         }),
         true, Prints::windowsPath, Group::probe, "PATH... BASE"},
        {"proximate", "as relative, or the path itself where there is none",
         againstBase([](const fs::path& p, const fs::path& base, std::error_code& ec) {
             return fs::proximate(p, base, ec);
         }),
         true, Prints::windowsPath, Group::probe, "PATH... BASE"},
        {"canonpath", "canonPath, with its diagnostic lines",
         [](const std::string& input, const Settings& settings, Outcome& outcome) {
             withDiagnostics(outcome, [&](std::ostream& lines) {
                 return canonPath(fs::path(input), settings.resolveSymlinks, lines);
             });
         }},
        {"abspath", "absPath, with its diagnostic lines (--base DIR for the base folder)",
         [](const std::string& input, const Settings& settings, Outcome& outcome) {
             withDiagnostics(outcome, [&](std::ostream& lines) {
                 std::optional<fs::path> base;
                 if (settings.baseDir) base = fs::path(*settings.baseDir);
                 return absPath(fs::path(input), base, settings.resolveSymlinks, lines);
             });
         }},
    };
    return table;
}

const Operation* findOperation(const std::string& name) {
    for (const Operation& operation : operations()) {
        if (name == operation.name) return &operation;
    }
    return nullptr;
}

void runOne(const Operation& operation, const std::string& input, const Settings& settings,
            Outcome& outcome) {
    // A line may hold a NUL ("c:\zor\a<NUL>b"), which no file's name holds: Windows would read
    // "c:\zor\a", and the host would cut it there too. A list names the element that holds it.
    if (!settings.pathList && input.find('\0') != std::string::npos) {
        constexpr int kInvalidName = 123;  // ERROR_INVALID_NAME
        outcome.error = std::error_code(kInvalidName, system_category());
        return;
    }
    try {
        operation.run(input, settings, outcome);
    } catch (const std::system_error& e) {
        // fs::filesystem_error among them: a name that cannot be converted, or an operation that
        // only throws.
        outcome.error = e.code();
    }
}
