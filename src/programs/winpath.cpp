// winpath: what Windows makes of any path, from the command line.
//   winpath [--json] [--mixed] [-0] OPERATION PATH...
// One result per path, as plain text on standard output (a PATH "-" reads paths from standard
// input, one a line, or NUL-separated with -0); a path that fails gives
// "winpath: OPERATION: <system's text> [path]" on standard error and the run goes on. The exit
// status is 1 when any path failed, 2 for a usage error, 0 otherwise.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "decomposition_report.h"
#include "error_text.h"
#include "path_forms.h"
#include "pathprobe/path_resolution.h"
#include "platform.h"

namespace {

// Members keep the order they are written in: operation, input, then result or error.
using json = nlohmann::ordered_json;

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

struct Operation {
    const char* name;
    const char* help;
    Run run;
    bool takesBase = false;  // the last argument is the base that every other path is taken against
    Prints prints = Prints::windowsPath;
};

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
    Converted converted =
        settings.pathList ? convertList(direction, input) : convertPath(direction, input);
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

const std::vector<Operation>& operations() {
    static const std::vector<Operation> table{
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
        {"relative", "PATH... BASE: each path relative to BASE, on disk",
         againstBase([](const fs::path& p, const fs::path& base, std::error_code& ec) {
             return fs::relative(p, base, ec);
         }),
         true},
        {"proximate", "PATH... BASE: as relative, or the path itself where there is none",
         againstBase([](const fs::path& p, const fs::path& base, std::error_code& ec) {
             return fs::proximate(p, base, ec);
         }),
         true},
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
        {"windows", "HOSTPATH...: the Windows path of a host path, through the drive map",
         converted<Direction::toWindows>},
        {"host", "WINPATH...: the host path that a Windows path names",
         converted<Direction::toHost>, false, Prints::other},
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
    try {
        operation.run(input, settings, outcome);
    } catch (const std::system_error& e) {
        // fs::filesystem_error among them: a name that cannot be converted, or an operation that
        // only throws.
        outcome.error = e.code();
    }
}

std::string failureText(const Outcome& outcome) {
    return outcome.message.empty() ? errorText(outcome.error) : outcome.message;
}

// A path as a failure line echoes it: one over 200 bytes as its first 120 and last 60, cut between
// characters, so that a failure stays one line to read: "c:\xx...xx (32771 bytes)".
std::string echoed(const std::string& text) {
    constexpr std::size_t kLongest = 200;
    constexpr std::size_t kHead = 120;
    constexpr std::size_t kTail = 60;
    if (text.size() <= kLongest) return text;
    const auto characterAt = [&text](std::size_t at) {
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
        return at;
    };
    return text.substr(0, characterAt(kHead)) + "..." +
           text.substr(characterAt(text.size() - kTail)) + " (" + std::to_string(text.size()) +
           " bytes)";
}

std::string failureLine(const Operation& operation, const std::string& input,
                        const Settings& settings, const Outcome& outcome) {
    std::string line = std::string("winpath: ") + operation.name + ": " + failureText(outcome) +
                       " [" + echoed(input) + "]";
    if (operation.takesBase) line += " [" + echoed(settings.relativeTo) + "]";
    return line;
}

json jsonEntry(const Operation& operation, const std::string& input, const Settings& settings,
               const Outcome& outcome) {
    json entry{{"operation", operation.name}, {"input", input}};
    if (operation.takesBase) entry["base"] = settings.relativeTo;
    if (settings.baseDir && std::string(operation.name) == "abspath") {
        entry["base"] = *settings.baseDir;
    }
    if (!outcome.diagnostics.empty()) entry["diagnostics"] = outcome.diagnostics;
    if (outcome.error) {
        entry["error"] = {{"code", outcome.error.value()},
                          {"category", outcome.error.category().name()},
                          {"text", failureText(outcome)}};
    } else if (outcome.parts.empty()) {
        entry["result"] = outcome.result;
    } else {
        json parts = json::object();
        for (const auto& [label, value] : outcome.parts)
            parts[label] = value;
        entry["result"] = std::move(parts);
    }
    return entry;
}

std::string operationList() {
    std::string list = "Operations (one result per PATH):\n";
    for (const Operation& operation : operations()) {
        std::string name = operation.name;
        name.resize(18, ' ');
        list += "  " + name + operation.help + "\n";
    }
    list +=
        "\nA PATH \"-\" reads paths from standard input, one a line; with -0, NUL-separated, and "
        "the\nresults are written NUL-separated too. --mixed writes Windows paths with '/'.\n"
        "\nA failure writes \"winpath: OPERATION: <system's text> [path]\" on standard error and "
        "goes on\nwith the next path. Exit status: 1 when any path failed, 2 for a usage error, "
        "0 otherwise.";
    return list;
}

// The result as --mixed and -0 ask for it: '\\' as '/' in a Windows path, each line ended by the
// separator. A decompose entry, several lines, ends in the separator instead of its last newline.
void finish(const Operation& operation, const Settings& settings, Outcome& outcome) {
    if (settings.mixed && operation.prints == Prints::windowsPath) {
        std::replace(outcome.text.begin(), outcome.text.end(), '\\', '/');
        std::replace(outcome.result.begin(), outcome.result.end(), '\\', '/');
    }
    if (settings.separator != '\n' && !outcome.text.empty())
        outcome.text.back() = settings.separator;
}

// Answers one path, on standard output or into `document`; false when it failed.
bool answer(const Operation& operation, const std::string& input, const Settings& settings,
            json* document) {
    Outcome outcome;
    runOne(operation, input, settings, outcome);
    if (!outcome.error) finish(operation, settings, outcome);
    if (document != nullptr) {
        document->push_back(jsonEntry(operation, input, settings, outcome));
        return !outcome.error;
    }
    for (const std::string& line : outcome.diagnostics)
        std::cout << line << settings.separator;
    if (outcome.error) {
        // In the order written, where both streams go to one terminal.
        std::cout.flush();
        std::cerr << failureLine(operation, input, settings, outcome) << '\n';
    } else {
        std::cout << outcome.text;
    }
    return !outcome.error;
}

// Ends the run once standard output has failed, with errno still telling why: quietly when its
// reader has gone, as coreutils tools end ("winpath ... | head -1", also on endless input), else
// with the reason (a full disk) and exit status 1.
[[noreturn]] void outputLost() {
    const int error = errno;
    if (error == EPIPE) endAsBrokenPipe();
    std::cerr << "winpath: cannot write to standard output: " << std::strerror(error) << std::endl;
    std::exit(1);
}

// The paths of a stream, one a record: a line (without a CR before its LF), or a NUL-terminated
// name with -0. What was written goes out before a read that may wait, so that output comes once
// per batch of input, and a reader that sends a path at a time gets its answer.
bool answerRecords(std::istream& in, const Operation& operation, const Settings& settings,
                   json* document) {
    bool allAnswered = true;
    std::string input;
    for (;;) {
        if (in.rdbuf()->in_avail() <= 0 && !std::cout.flush()) outputLost();
        if (!std::getline(in, input, settings.separator)) break;
        if (settings.separator == '\n' && !input.empty() && input.back() == '\r') input.pop_back();
        allAnswered = answer(operation, input, settings, document) && allAnswered;
        if (!std::cout) outputLost();
    }
    return allAnswered;
}

// The paths of a file given with -f ("-" is standard input); false when it cannot be read.
bool answerFile(const std::string& name, const Operation& operation, const Settings& settings,
                json* document) {
    if (name == "-") return answerRecords(std::cin, operation, settings, document);
    errno = 0;
    std::ifstream file(name, std::ios::binary);
    const bool allAnswered = file.is_open() && answerRecords(file, operation, settings, document);
    if (file.is_open() && !file.bad()) return allAnswered;
    // The reason is the host's: "No such file or directory", "Is a directory".
    const int error = errno;
    std::cout.flush();
    std::cerr << "winpath: cannot read " << name << ": "
              << (error != 0 ? std::strerror(error) : "a read failed") << std::endl;
    return false;
}

// Answers the paths of each file, then each input; returns the exit status.
int answerEach(const Operation& operation, const std::vector<std::string>& files,
               const std::vector<std::string>& inputs, const Settings& settings, bool asJson) {
    bool allAnswered = true;
    json document = json::array();
    json* const into = asJson ? &document : nullptr;
    for (const std::string& file : files)
        allAnswered = answerFile(file, operation, settings, into) && allAnswered;
    for (const std::string& input : inputs) {
        const bool answered = input == "-" ? answerRecords(std::cin, operation, settings, into)
                                           : answer(operation, input, settings, into);
        allAnswered = answered && allAnswered;
        if (!std::cout) outputLost();
    }
    // Input that is not UTF-8 is written with replacement characters rather than refused.
    if (asJson) std::cout << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    if (!std::cout.flush()) outputLost();
    if (std::cin.bad()) {
        std::cerr << "winpath: cannot read standard input" << std::endl;
        return 1;
    }
    return allAnswered ? 0 : 1;
}

// How many leading arguments the parser must see. Thousands of paths after the operation, with no
// option among them, are taken as they stand: the parser's work for each would cost more than the
// answer. It sees everything up to the operation and one path, so it checks what it checked before.
int parsedPart(int argc, char** argv) {
    int operation = 1;
    for (bool value = false; operation < argc; ++operation) {
        const std::string_view arg = argv[operation];
        if (arg == "--") return argc;
        if (value || arg.starts_with('-')) {
            value = arg == "--base" || arg == "-f" || arg == "--file";
            continue;
        }
        break;
    }
    for (int i = operation + 1; i < argc; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '\0') return argc;
    }
    return std::min(argc, operation + 2);
}

// The two forms a command takes; OPERATION and PATH are checked after parsing, not by the parser.
class Usage : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: winpath [OPTIONS] OPERATION PATH...\n"
               "       winpath [OPTIONS] -w|-u PATH...\n";
    }
};

int run(int argc, char** argv) {
    CLI::App app{"What Windows makes of a path: one OPERATION on each PATH.", "winpath"};
    app.set_version_flag("--version", std::string("winpath ") + PATHPROBE_VERSION);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("winpath: ") + e.what() + "\nRun with --help for more information.\n";
    });
    app.footer(operationList());
    app.formatter(std::make_shared<Usage>());

    std::vector<std::string> names;
    for (const Operation& operation : operations())
        names.push_back(operation.name);
    std::string operationName;
    std::vector<std::string> inputs;
    Settings settings;
    bool asJson = false;
    // Checked after parsing, so that an option that is not taken is named before a path is blamed.
    app.add_option("OPERATION", operationName, "One of the operations below");
    app.add_option("PATH", inputs,
                   "The paths, each taken as a Windows path (a host path for windows); - reads "
                   "them from standard input");
    // The spellings of winepath, cygpath and wslpath: "winpath -w PATH" is "winpath windows PATH".
    bool toWindows = false;
    bool toHost = false;
    app.add_flag("-w", toWindows, "The operation windows: every argument is a PATH");
    app.add_flag("-u", toHost, "The operation host: every argument is a PATH");
    bool absoluteAsked = false;  // the results of windows and host are absolute whatever it says
    app.add_flag("-a", absoluteAsked,
                 "Accepted for cygpath's sake: windows and host give absolute paths");
    app.add_flag("--json", asJson, "Write one JSON document instead of lines");
    app.add_flag("-m,--mixed", settings.mixed, "Write Windows paths with / (C:/zor)");
    bool nulSeparated = false;
    app.add_flag("-0,--null", nulSeparated,
                 "Read paths from standard input, and write results, separated by NUL");
    std::vector<std::string> files;
    app.add_option("-f,--file", files,
                   "Read paths from FILE (- for standard input), one a line, or NUL-separated "
                   "with -0; before the PATHs")
        ->type_name("FILE")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("-p,--path", settings.pathList,
                 "windows, host: each PATH a list, host paths joined by ':', Windows paths by ';'");
    app.add_option("--base", settings.baseDir,
                   "abspath: resolve relative paths against DIR, not the working directory")
        ->type_name("DIR");
    app.add_flag("--resolve-symlinks", settings.resolveSymlinks,
                 "canonpath, abspath: follow a link rather than bail out on it");

    const Operation* operation = nullptr;
    try {
        const int parsed = parsedPart(argc, argv);
        app.parse(parsed, argv);
        inputs.insert(inputs.end(), argv + parsed, argv + argc);
        if (toWindows && toHost) throw CLI::ValidationError("-w, -u", "give one of them");
        if (toWindows || toHost) {
            if (!operationName.empty()) inputs.insert(inputs.begin(), operationName);
            operationName = toWindows ? "windows" : "host";
        }
        if (operationName.empty()) throw CLI::RequiredError("OPERATION");
        operation = findOperation(operationName);
        if (operation == nullptr) {
            throw CLI::ValidationError(
                "OPERATION", operationName + " not in {" + CLI::detail::join(names) + "}");
        }
        if (inputs.empty() && files.empty()) throw CLI::RequiredError("PATH");
        if (settings.baseDir && operationName != "abspath") {
            throw CLI::ValidationError("--base", "is for abspath only");
        }
        if (settings.pathList && operationName != "windows" && operationName != "host") {
            throw CLI::ValidationError("-p", "is for windows and host only");
        }
        if (operation->takesBase) {
            if (inputs.size() < 2) throw CLI::ValidationError("BASE", "is required");
            settings.relativeTo = inputs.back();
            inputs.pop_back();
            if (settings.relativeTo == "-") {
                throw CLI::ValidationError("BASE", "is given as an argument, not read");
            }
        }
        if (nulSeparated) settings.separator = '\0';
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    if (const std::string fault = prefixFault(); !fault.empty()) {
        std::cerr << "winpath: " << fault << std::endl;
        return 2;
    }
    return answerEach(*operation, files, inputs, settings, asJson);
}

}  // namespace

int main(int argc, char** argv) {
    ignoreBrokenPipe();
    // Standard output is flushed once per batch of paths (see answerStandardInput), not before
    // every read of standard input nor through C's buffer as well.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        // What stops the whole run (memory, say) is reported after what was already written.
        std::cout.flush();
        std::cerr << "winpath: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "winpath: unknown failure" << std::endl;
    }
    return 1;
}
