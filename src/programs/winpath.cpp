// winpath: what Windows makes of any path, from the command line.
//   winpath [--json] [--mixed] [-0] OPERATION PATH...
// One result per path, as plain text on standard output (a PATH "-" reads paths from standard
// input, one a line, or NUL-separated with -0); a path that fails gives
// "winpath: OPERATION: <system's text> [path]" on standard error and the run goes on. The exit
// status is 1 when any path failed, 2 for a usage error, 0 otherwise.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "error_text.h"
#include "platform.h"
#include "winpath_operations.h"

namespace {

// Members keep the order they are written in: operation, input, then result or error.
using json = nlohmann::ordered_json;

std::string failureText(const Outcome& outcome) {
    return outcome.message.empty() ? errorText(outcome.error) : outcome.message;
}

// A path as a failure line echoes it: one over 200 bytes as its first 120 and last 60, cut between
// characters, so that a failure stays one line to read: "c:\xx...xx (32771 bytes)". `head` and
// `tail` are the path's first and last bytes (the whole of it, but for a record too long to keep),
// `length` its length.
std::string echoed(std::string_view head, std::string_view tail, std::size_t length) {
    constexpr std::size_t kLongest = 200;
    constexpr std::size_t kHead = 120;
    constexpr std::size_t kTail = 60;
    if (length <= kLongest) return std::string(head);
    const auto characterAt = [](std::string_view text, std::size_t at) {
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
        return at;
    };
    return std::string(head.substr(0, characterAt(head, kHead))) + "..." +
           std::string(tail.substr(characterAt(tail, tail.size() - kTail))) + " (" +
           std::to_string(length) + " bytes)";
}

std::string echoed(const std::string& text) {
    return echoed(text, text, text.size());
}

// A failure line is text to read: a NUL in a path it echoes, which a terminal shows as nothing,
// is written <NUL> ("[c:\zor\a<NUL>b]", not "[c:\zor\ab]").
std::string failureLine(const Operation& operation, const std::string& echo,
                        const Settings& settings, const Outcome& outcome) {
    std::string line =
        std::string("winpath: ") + operation.name + ": " + failureText(outcome) + " [" + echo + "]";
    if (operation.takesBase) line += " [" + echoed(settings.relativeTo) + "]";
    std::string shown;
    for (const char c : line) {
        if (c == '\0') {
            shown += "<NUL>";
        } else {
            shown += c;
        }
    }
    return shown;
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

// An operation and what it takes, as its usage line and the list of operations give it:
// "relative PATH... BASE".
std::string withOperands(const Operation& operation) {
    return std::string(operation.name) + " " + operation.operands;
}

std::string operationList() {
    std::string list;
    for (const Operation& operation : operations()) {
        if (&operation == &operations().front()) {
            list += "Conversions (one result per PATH):\n";
        } else if (operation.group != (&operation - 1)->group) {
            list += "\nWhat Windows makes of a Windows path (one result per PATH):\n";
        }
        std::string name = withOperands(operation);
        name.resize(std::max<std::size_t>(name.size() + 2, 26), ' ');
        list += "  " + name + operation.help + "\n";
    }
    list += "\nwinpath OPERATION --help tells more of one operation.\n";
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

// Writes what one path gave, on standard output or into `document`; false when it failed. `input`
// is the path, or what a failure line echoes of a record too long to keep.
bool report(const Operation& operation, const std::string& input, const std::string& echo,
            const Settings& settings, Outcome& outcome, json* document) {
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
        std::cerr << failureLine(operation, echo, settings, outcome) << '\n';
    } else {
        std::cout << outcome.text;
    }
    return !outcome.error;
}

// Answers one path; false when it failed.
bool answer(const Operation& operation, const std::string& input, const Settings& settings,
            json* document) {
    Outcome outcome;
    runOne(operation, input, settings, outcome);
    return report(operation, input, echoed(input), settings, outcome, document);
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

// No record longer than the longest argument that Linux passes (128 KiB, its NUL counted) is
// answered, so that a path answers alike from either. None is a path that Windows takes: 32,767
// UTF-16 units are at most 98,301 bytes of UTF-8.
constexpr std::size_t kLongestRecord = 131071;

// A record as read. Of one longer than kLongestRecord, which no path is, only the first and last
// bytes are kept, what a failure line echoes: an endless line (-f /dev/zero) is read in bounded
// memory, to its end.
struct Record {
    std::string text;        // the record, or its first bytes
    std::string tail;        // where `text` is not the whole record, its last bytes
    std::size_t length = 0;  // of the whole record

    void add(std::string_view more) {
        constexpr std::size_t kHeadKept = 128;
        constexpr std::size_t kTailKept = 61;  // 60 echoed, and a CR that the LF drops
        length += more.size();
        if (length <= kLongestRecord + 1) {  // one more for that CR
            text.append(more);
        } else if (tail.empty()) {
            text.append(more);
            tail = text.substr(text.size() - kTailKept);
            text.resize(kHeadKept);
        } else {
            tail.append(more);
            tail.erase(0, tail.size() - kTailKept);
        }
    }
    std::string_view last() const { return tail.empty() ? text : tail; }
};

// The next record of `in` into `record`: a line (without a CR before its LF), or with -0 a
// NUL-terminated name; false at the end of input, or when it cannot be read.
bool readRecord(std::istream& in, char separator, Record& record) {
    record.text.clear();
    record.tail.clear();
    record.length = 0;
    std::array<char, 4096> chunk;
    for (;;) {
        in.getline(chunk.data(), chunk.size(), separator);
        const auto taken = static_cast<std::size_t>(in.gcount());
        if (in.bad()) return false;
        if (in.eof()) {
            record.add({chunk.data(), taken});
            if (record.length == 0) return false;
            break;
        }
        if (!in.fail()) {  // the separator, taken and not kept
            record.add({chunk.data(), taken - 1});
            break;
        }
        record.add({chunk.data(), taken});  // a chunk full, and the record goes on
        in.clear();
    }
    std::string& end = record.tail.empty() ? record.text : record.tail;
    if (separator == '\n' && !end.empty() && end.back() == '\r') {
        end.pop_back();
        --record.length;
    }
    return true;
}

// The paths of a stream, one a record. What was written goes out before a read that may wait, so
// that output comes once per batch of input, and a reader that sends a path at a time gets its
// answer. A record too long to be a path fails alone, as "The filename or extension is too long."
bool answerRecords(std::istream& in, const Operation& operation, const Settings& settings,
                   json* document) {
    constexpr int kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
    bool allAnswered = true;
    Record record;
    for (;;) {
        if (in.rdbuf()->in_avail() <= 0 && !std::cout.flush()) outputLost();
        if (!readRecord(in, settings.separator, record)) break;
        if (record.length <= kLongestRecord) {
            allAnswered = answer(operation, record.text, settings, document) && allAnswered;
        } else {
            Outcome outcome;
            outcome.error = std::error_code(kFilenameTooLong, system_category());
            const std::string echo = echoed(record.text, record.last(), record.length);
            report(operation, echo, echo, settings, outcome, document);
            allAnswered = false;
        }
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

// Whether an option does anything for the operation: most do for every one, some only for those
// their help names.
bool takes(const Operation& operation, const std::string& option) {
    const std::string name = operation.name;
    if (option == "--base") return name == "abspath";
    if (option == "--resolve-symlinks") return name == "canonpath" || name == "abspath";
    if (option == "--path") return name == "windows" || name == "host";
    if (option == "-a") return operation.group == Group::conversion;
    if (option == "-w") return name == "windows";
    if (option == "-u") return name == "host";
    if (option == "-s") return name == "short";
    if (option == "-l") return name == "long";
    if (option == "--mixed") return operation.prints == Prints::windowsPath;
    return true;
}

// "winpath OPERATION --help": its usage, what it does, and the options it takes.
std::string operationHelp(const CLI::App& app, const CLI::Formatter& formatter,
                          const Operation& operation) {
    std::string text = "Usage: winpath [OPTIONS] " + withOperands(operation) + "\n";
    for (const char* spelling : {"-w", "-u", "-s", "-l"}) {
        if (takes(operation, spelling)) {
            text += std::string("       winpath [OPTIONS] ") + spelling + " " + operation.operands +
                    "\n";
        }
    }
    text += std::string("\n") + operation.name + ": " + operation.help + ".\n";
    if (*operation.details != '\0') text += std::string(operation.details) + "\n";
    text += "\nOptions:\n";
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (option->nonpositional() && name != "--help" && name != "--version" &&
            takes(operation, name)) {
            text += formatter.make_option(option, false);
        }
    }
    return text;
}

// The two forms a command takes; OPERATION and PATH are checked after parsing, not by the parser.
class Usage : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: winpath [OPTIONS] OPERATION PATH...\n"
               "       winpath [OPTIONS] -w|-u|-s|-l PATH...\n";
    }
};

int run(int argc, char** argv) {
    CLI::App app{"What Windows makes of a path: one OPERATION on each PATH.", "winpath"};
    app.set_version_flag("--version", std::string("winpath ") + PATHPROBE_VERSION);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("winpath: ") + e.what() + "\nRun with --help for more information.\n";
    });
    app.footer(operationList());
    const auto formatter = std::make_shared<Usage>();
    app.formatter(formatter);
    // Read as an option, so that "winpath OPERATION --help" can tell of that operation.
    app.set_help_flag();
    bool helpAsked = false;
    app.add_flag("-h,--help", helpAsked,
                 "Print this help message and exit; after an OPERATION, that operation's");

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
    bool toShort = false;
    bool toLong = false;
    app.add_flag("-w", toWindows, "The operation windows: every argument is a PATH");
    app.add_flag("-u", toHost, "The operation host: every argument is a PATH");
    app.add_flag("-s", toShort, "The operation short: every argument is a PATH");
    app.add_flag("-l", toLong, "The operation long: every argument is a PATH");
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
    bool maxPath = false;
    app.add_flag("--max-path", maxPath,
                 "Answer as a Windows without long paths: a path past MAX_PATH needs \\\\?\\");

    const Operation* operation = nullptr;
    try {
        const int parsed = parsedPart(argc, argv);
        app.parse(parsed, argv);
        inputs.insert(inputs.end(), argv + parsed, argv + argc);
        // The operation that -w, -u, -s or -l names, as winepath spells them.
        const std::pair<bool, const char*> spelt[] = {
            {toWindows, "windows"}, {toHost, "host"}, {toShort, "short"}, {toLong, "long"}};
        const char* named = nullptr;
        for (const auto& [given, name] : spelt) {
            if (!given) continue;
            if (named != nullptr) throw CLI::ValidationError("-w, -u, -s, -l", "give one of them");
            named = name;
        }
        if (named != nullptr) {
            if (!operationName.empty()) inputs.insert(inputs.begin(), operationName);
            operationName = named;
        }
        if (helpAsked && operationName.empty()) throw CLI::CallForHelp();
        if (operationName.empty()) throw CLI::RequiredError("OPERATION");
        operation = findOperation(operationName);
        if (operation == nullptr) {
            throw CLI::ValidationError(
                "OPERATION", operationName + " not in {" + CLI::detail::join(names) + "}");
        }
        if (helpAsked) {
            std::cout << operationHelp(app, *formatter, *operation) << std::flush;
            return std::cout ? 0 : 1;
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

    if (maxPath) limitToMaxPath();
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
