#include "path_forms.h"

#include <string_view>
#include <vector>

#include "error_text.h"
#include "platform.h"

namespace {

// The elements of a Windows list: split at ';' outside double quotes, the quotes dropped.
std::vector<std::string> windowsElements(std::string_view list) {
    std::vector<std::string> elements(1);
    bool quoted = false;
    for (const char c : list) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            elements.emplace_back();
        } else {
            elements.back().push_back(c);
        }
    }
    return elements;
}

std::vector<std::string> hostElements(std::string_view list) {
    std::vector<std::string> elements;
    for (std::size_t start = 0;;) {
        const std::size_t end = list.find(':', start);
        elements.emplace_back(list.substr(start, end - start));
        if (end == std::string_view::npos) return elements;
        start = end + 1;
    }
}

// What happened, where a Windows path has no host path and the system's text would mislead:
// "The request is not supported." for the device c:\zor\nul.
std::string whyNoHostPath(const std::string& windows, const std::error_code& error) {
    std::string name;
    try {
        name = fs::path(windows).filename().string();
    } catch (const std::system_error&) {
        return {};
    }
    if (name.find(':') != std::string::npos)
        return "a stream (" + name + "), which no host file holds";
    constexpr int kPathNotFound = 3;   // ERROR_PATH_NOT_FOUND
    constexpr int kNotSupported = 50;  // ERROR_NOT_SUPPORTED
    if (error.category() != system_category()) return {};
    if (error.value() == kNotSupported) {
        std::error_code ec;
        const fs::path device = fs::absolute(fs::path(windows), ec);
        return "a device (" + device.string() + "), which no host file stands for";
    }
    if (error.value() == kPathNotFound) return unmappedDriveOf(windows);
    return {};
}

}  // namespace

Converted convertPath(Direction direction, const std::string& input, Separator separator) {
    constexpr int kInvalidName = 123;  // ERROR_INVALID_NAME
    Converted converted;
    // No file's name holds a NUL: a host path would be cut there by every system call.
    if (input.find('\0') != std::string::npos) {
        converted.error = std::error_code(kInvalidName, system_category());
        return converted;
    }
    converted.path = direction == Direction::toWindows ? windowsPathFor(input, converted.error)
                                                       : hostPathFor(input, converted.error);
    if (!converted.error && direction == Direction::toWindows && separator == Separator::slash &&
        converted.path.starts_with("\\\\?\\")) {
        converted.error = std::error_code(kInvalidName, system_category());
        converted.message =
            converted.path + " keeps its names only as written, with '\\': --mixed cannot write it";
    }
    if (!converted.error) return converted;
    converted.path.clear();
    if (direction == Direction::toHost) converted.message = whyNoHostPath(input, converted.error);
    return converted;
}

Converted convertList(Direction direction, const std::string& list, Separator separator) {
    const bool toWindows = direction == Direction::toWindows;
    Converted joined;
    bool first = true;
    for (const std::string& element : toWindows ? hostElements(list) : windowsElements(list)) {
        if (!first) joined.path.push_back(toWindows ? ';' : ':');
        first = false;
        if (element.empty()) continue;
        Converted one = convertPath(direction, element, separator);
        // A host path given as it is ("/usr/bin:/bin") comes back as it was given.
        if (!one.error && !toWindows && one.path != element &&
            one.path.find(':') != std::string::npos) {
            one.error = make_error_code(std::errc::invalid_argument);
            one.message = "a host path holding ':' cannot stand in a list: " + one.path;
        }
        if (one.error) {
            one.message = (one.message.empty() ? errorText(one.error) : one.message) + " [" +
                          element + "] in the list";
            return one;
        }
        if (toWindows && one.path.find(';') != std::string::npos) {
            joined.path.append("\"").append(one.path).append("\"");
        } else {
            joined.path.append(one.path);
        }
    }
    return joined;
}
