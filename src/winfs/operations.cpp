#include "winfs/operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "winfs/drive_map.h"
#include "winfs/error.h"
#include "winfs/host.h"
#include "winfs/utf8.h"

namespace winfs {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr int kMaxLinks = 63;

std::error_code conversionError() {
    return std::make_error_code(std::errc::illegal_byte_sequence);
}

// Errors that mean "there is nothing there" to status(), as on Windows.
bool isNotFound(const std::error_code& ec) noexcept {
    if (ec.category() != system_category()) return false;
    switch (ec.value()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return true;
        default:
            return false;
    }
}

// Windows refuses these characters in names.
bool isValidName(std::string_view name) noexcept {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32) return false;
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*':
                return false;
            default:
                break;
        }
    }
    return true;
}

// The next code point of valid UTF-8 text.
char32_t nextCodePoint(std::string_view text, std::size_t& i) noexcept {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t code = lead & (0x3F >> extra);
    for (int k = 0; k < extra && i < text.size(); ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    return code;
}

// Windows compares names through its uppercase table; the host's Unicode locale stands in for it.
char32_t upper(char32_t c) noexcept {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode == locale_t{}) return c;
    return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), unicode));
}

bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (upper(nextCodePoint(a, i)) != upper(nextCodePoint(b, j))) return false;
    }
    return i == a.size() && j == b.size();
}

// The name in `folder` that differs from `name` only in case, if there is one.
bool findIgnoringCase(const std::string& folder, std::string& name) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view candidate = entry->d_name;
        if (isValidUtf8(candidate) && equalIgnoringCase(candidate, name)) {
            name = candidate;
            return true;
        }
    }
    return false;
}

file_type typeOf(mode_t mode) noexcept {
    if (S_ISREG(mode)) return file_type::regular;
    if (S_ISDIR(mode)) return file_type::directory;
    if (S_ISLNK(mode)) return file_type::symlink;
    if (S_ISBLK(mode)) return file_type::block;
    if (S_ISCHR(mode)) return file_type::character;
    if (S_ISFIFO(mode)) return file_type::fifo;
    if (S_ISSOCK(mode)) return file_type::socket;
    return file_type::unknown;
}

// Where a walk stands: a folder on the host and the same folder as a Windows path, every element
// on the way resolved.
struct Position {
    struct Mark {
        std::size_t host;  // sizes before the name was added, for ".."
        std::size_t windows;
        std::size_t name;  // where the name starts in `windows`
    };
    std::string host;
    std::string windows;  // "C:\" then names joined with '\'
    std::vector<Mark> marks;
    int folder = -1;        // a handle on the drive's folder, or -1
    std::size_t below = 0;  // where the names below that folder start in `host`

    // A host path below the drive's folder as the *at() calls take it with `folder`.
    const char* fromFolder(const std::string& full) const {
        return folder >= 0 ? full.c_str() + below : full.c_str();
    }
    void reset(const DriveMap::Root& root) {
        host = root.host;
        folder = root.folder;
        below = host.size() + (host.back() == '/' ? 0 : 1);
        windows = {root.drive, ':', '\\'};
        marks.clear();
    }
    void push(std::string_view name) {
        Mark mark{host.size(), windows.size(), 0};
        if (host.back() != '/') host.push_back('/');
        host.append(name);
        if (windows.back() != '\\') windows.push_back('\\');
        mark.name = windows.size();
        windows.append(name);
        marks.push_back(mark);
    }
    void pop() {
        if (marks.empty()) return;  // no parent above a root
        host.resize(marks.back().host);
        windows.resize(marks.back().windows);
        marks.pop_back();
    }
    std::string_view name(std::size_t k) const {
        const std::size_t end = k + 1 < marks.size() ? marks[k + 1].windows : windows.size();
        return std::string_view(windows).substr(marks[k].name, end - marks[k].name);
    }
};

struct Item {
    std::string name;
    std::size_t origin;  // which element of the walked path it comes from (links pass theirs on)
};

struct Walk {
    Position at;
    std::size_t missing = kNone;  // the first element that does not exist, if one does not
    bool missingIsLast = false;   // nothing came after it
    file_type type = file_type::directory;  // what `at` names
};

// Pushes the names of `p` after its first `skip` elements, last first, onto `stack`.
void pushNames(const path& p, std::size_t skip, std::size_t origin, std::vector<Item>& stack,
               bool numbered) {
    const std::size_t first = stack.size();
    std::size_t index = 0;
    for (const path& element : p) {
        if (index++ < skip || element.empty()) continue;
        stack.push_back({element.native(), numbered ? stack.size() - first : origin});
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first), stack.end());
}

// Looks at one entry with one system call where it can: readlink tells a link, with its target,
// from anything else, whose type is then asked only when `wantType`. Returns 0 or an errno value.
int probeEntry(int folder, const char* name, const std::string& host, bool wantType,
               file_type& type, std::string& target) {
    const int at = folder >= 0 ? folder : AT_FDCWD;
    char buffer[4096];
    const ssize_t n = ::readlinkat(at, name, buffer, sizeof buffer);
    if (n >= 0) {
        type = file_type::symlink;
        if (static_cast<std::size_t>(n) < sizeof buffer) {
            target.assign(buffer, static_cast<std::size_t>(n));
            return 0;
        }
        std::error_code ec;
        target = readHostLink(host, ec);
        return ec ? ENAMETOOLONG : 0;
    }
    if (errno != EINVAL) return errno;
    type = file_type::unknown;
    if (!wantType) return 0;
    struct stat st {};
    if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    type = typeOf(st.st_mode);
    return 0;
}

// Goes on from an absolute link target. The folders that the target shares with where the walk
// stands were resolved already (the walk never stands on a link), so only the rest is walked.
void moveTo(Position& at, const path& target, std::size_t origin, std::vector<Item>& stack,
            std::error_code& ec) {
    const DriveMap::Root root = drives().rootOf(target, ec);
    if (ec) return;
    std::vector<std::string> names;
    names.reserve(16);
    std::size_t index = 0;
    for (const path& element : target) {
        if (index++ >= root.skipped && !element.empty()) names.push_back(element.native());
    }
    std::size_t shared = 0;
    if (root.drive == at.windows[0]) {
        while (shared < names.size() && shared < at.marks.size() &&
               at.name(shared) == names[shared]) {
            ++shared;
        }
        while (at.marks.size() > shared)
            at.pop();
    } else {
        at.reset(root);
    }
    for (std::size_t i = names.size(); i > shared; --i) {
        stack.push_back({std::move(names[i - 1]), origin});
    }
}

// Resolves an absolute Windows path on disk, element by element: one lstat per element, one
// readlink per link, and one folder read where an element is not there in the case given.
Walk walk(const path& absolutePath, bool followLast, bool needType, std::error_code& ec) {
    Walk result;
    const DriveMap& map = drives();
    const DriveMap::Root root = map.rootOf(absolutePath, ec);
    if (ec) return result;
    result.at.reset(root);

    std::vector<Item> stack;
    stack.reserve(16);
    result.at.marks.reserve(16);
    pushNames(absolutePath, root.skipped, 0, stack, true);

    Position snapshot;  // where the walk stood before the element whose links it is following
    std::size_t snapshotOrigin = kNone;
    int links = 0;
    struct stat st {};
    bool rootChecked = false;

    auto missing = [&](std::size_t origin, bool last) {
        if (snapshotOrigin == origin) {
            result.at = std::move(snapshot);
            result.type = file_type::directory;
        }
        result.missing = origin;
        // A missing drive folder is a missing path, whatever follows.
        result.missingIsLast = last && (rootChecked || ::stat(result.at.host.c_str(), &st) == 0 ||
                                        !result.at.marks.empty());
        ec.clear();
    };

    std::string candidate;  // the host path of the element looked at
    std::string target;
    while (!stack.empty()) {
        Item item = std::move(stack.back());
        stack.pop_back();
        const bool last = stack.empty();
        if (item.name == ".") continue;
        if (item.name == "..") {
            result.at.pop();
            result.type = file_type::directory;
            continue;
        }
        if (!isValidName(item.name)) {
            ec = make_error_code(ERROR_INVALID_NAME);
            return result;
        }

        candidate.assign(result.at.host);
        if (candidate.back() != '/') candidate.push_back('/');
        const std::size_t nameAt = candidate.size();
        candidate.append(item.name);
        file_type type = file_type::unknown;
        const int folder = result.at.folder;
        int error = probeEntry(folder, result.at.fromFolder(candidate), candidate, last && needType,
                               type, target);
        if (error == ENOENT && findIgnoringCase(result.at.host, item.name)) {
            candidate.replace(nameAt, std::string::npos, item.name);
            error = probeEntry(folder, result.at.fromFolder(candidate), candidate, last && needType,
                               type, target);
        }
        if (error == ENOENT || error == ENOTDIR) {
            missing(item.origin, last && error == ENOENT);
            if (error == ENOTDIR && snapshotOrigin != item.origin) result.type = file_type::regular;
            return result;
        }
        if (error != 0) {
            ec = make_error_code(windowsErrorFor(error, last));
            return result;
        }
        rootChecked = true;

        if (type == file_type::symlink && (followLast || !last)) {
            if (++links > kMaxLinks) {
                ec = make_error_code(ERROR_CANT_RESOLVE_FILENAME);
                return result;
            }
            if (!isValidUtf8(target)) {
                ec = conversionError();
                return result;
            }
            if (snapshotOrigin != item.origin) {
                snapshot = result.at;
                snapshotOrigin = item.origin;
            }
            if (target.empty()) {
                ec = make_error_code(ERROR_CANT_RESOLVE_FILENAME);
                return result;
            }
            if (target.front() == '/') {
                const path windows = map.windowsPathFor(target, ec);
                if (ec) return result;
                moveTo(result.at, windows, item.origin, stack, ec);
                if (ec) return result;
            } else {
                const path relative(target);
                if (relative.has_root_name() || relative.has_root_directory()) {
                    const path windows = absolute(relative, ec);
                    if (ec) return result;
                    moveTo(result.at, windows, item.origin, stack, ec);
                    if (ec) return result;
                } else {
                    // Relative to the link's folder, where the walk stands; its ".." are taken
                    // lexically, before anything in it is followed.
                    pushNames(relative.lexically_normal(), 0, item.origin, stack, false);
                }
            }
            result.type = file_type::directory;
            continue;
        }
        result.at.push(item.name);
        // Only the last element's type is asked for; a folder on the way that is a file fails
        // the next lookup.
        result.type = last ? type : file_type::directory;
    }
    if (!rootChecked && ::stat(result.at.host.c_str(), &st) != 0) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
    }
    return result;
}

[[noreturn]] void raise(const char* operation, const path& p, const std::error_code& ec) {
    if (ec == std::errc::illegal_byte_sequence) {
        // The path type's own error, naming the operation that met the name.
        throw filesystem_error("Cannot convert character sequence (" + std::string(operation) + ")",
                               p, ec);
    }
    throw filesystem_error(operation, p, ec);
}

[[noreturn]] void raise(const char* operation, const path& p1, const path& p2,
                        const std::error_code& ec) {
    throw filesystem_error(operation, p1, p2, ec);
}

template <class Result, class Operation>
Result orThrow(const char* name, const path& p, Operation operation) {
    std::error_code ec;
    Result result = operation(ec);
    if (ec) raise(name, p, ec);
    return result;
}

// Builds a Windows path from a root and names, removing "." and ".." on the way.
class Lexical {
  public:
    explicit Lexical(std::string root) : text_(std::move(root)), rootSize_(text_.size()) {}

    void add(std::string_view name) {
        // Root directories come as runs of separators; names never hold one.
        if (name.empty() || name == "." || name.front() == '\\' || name.front() == '/') return;
        if (name == "..") {
            if (!ends_.empty()) {
                ends_.pop_back();
                text_.resize(ends_.empty() ? rootSize_ : ends_.back());
            }
            return;
        }
        if (text_.size() > rootSize_) text_.push_back('\\');
        text_.append(name);
        ends_.push_back(text_.size());
    }
    void addAll(const path& p, std::size_t skip) {
        std::size_t index = 0;
        for (const path& element : p) {
            if (index++ >= skip) add(element.native());
        }
    }
    std::string finish(bool trailingSeparator) {
        // GetFullPathName drops trailing dots and spaces from the last name.
        if (!ends_.empty()) {
            while (text_.size() > rootSize_ && (text_.back() == '.' || text_.back() == ' ')) {
                text_.pop_back();
            }
            if (text_.size() > rootSize_ && text_.back() == '\\') trailingSeparator = false;
            if (text_.size() == rootSize_) trailingSeparator = false;
        }
        if (trailingSeparator && text_.size() > rootSize_) text_.push_back('\\');
        return std::move(text_);
    }

  private:
    std::string text_;
    std::size_t rootSize_;
    std::vector<std::size_t> ends_;
};

bool endsInSeparator(const path& p) {
    const std::string& text = p.native();
    return !text.empty() && (text.back() == '\\' || text.back() == '/') && p.has_relative_path();
}

std::size_t elementCount(const path& p) {
    std::size_t count = 0;
    for (auto it = p.begin(); it != p.end(); ++it)
        ++count;
    return count;
}

}  // namespace

path current_path() {
    return orThrow<path>("current_path", path(),
                         [](std::error_code& ec) { return current_path(ec); });
}

path current_path(std::error_code& ec) {
    const std::string host = hostWorkingDirectory(ec);
    if (ec) return {};
    return drives().windowsPathFor(host, ec);
}

void current_path(const path& p) {
    std::error_code ec;
    current_path(p, ec);
    if (ec) raise("current_path", p, ec);
}

void current_path(const path& p, std::error_code& ec) noexcept {
    try {
        const path full = absolute(p, ec);
        if (ec) return;
        const Walk w = walk(full, true, true, ec);
        if (ec) return;
        if (w.missing != kNone) {
            ec = make_error_code(w.missingIsLast ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
            return;
        }
        if (w.type != file_type::directory) {
            ec = make_error_code(ERROR_DIRECTORY);
            return;
        }
        if (::chdir(w.at.host.c_str()) != 0) ec = make_error_code(windowsErrorFor(errno, false));
    } catch (const std::bad_alloc&) {
        ec = make_error_code(ERROR_NOT_ENOUGH_MEMORY);
    }
}

path temp_directory_path() {
    std::error_code ec;
    path folder = temp_directory_path(ec);
    if (ec) raise("temp_directory_path", folder, ec);
    return folder;
}

path temp_directory_path(std::error_code& ec) {
    ec.clear();
    path folder;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || !isValidUtf8(value)) continue;
        path candidate(value);
        if (candidate.is_absolute()) {
            folder = std::move(candidate);
            break;
        }
    }
    if (folder.empty()) {
        const char* host = std::getenv("TMPDIR");
        folder = drives().windowsPathFor(host != nullptr && *host == '/' ? host : "/tmp", ec);
        if (ec) return {};
    }
    folder = absolute(folder, ec);
    if (ec) return {};
    if (folder.native().back() != '\\') folder += "\\";

    // As Windows's standard library: the folder must be there.
    const file_status s = status(folder, ec);
    if (s.type() == file_type::not_found) return folder;  // ec says what is missing
    if (ec) return folder;
    if (s.type() != file_type::directory) ec = std::make_error_code(std::errc::not_a_directory);
    return folder;
}

bool create_directories(const path& p) {
    std::error_code ec;
    const bool created = create_directories(p, ec);
    if (ec) raise("create_directories", p, ec);
    return created;
}

bool create_directories(const path& p, std::error_code& ec) {
    const path full = absolute(p, ec);
    if (ec) return false;
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return false;
    }
    Walk w = walk(full, true, true, ec);
    if (ec) return false;
    if (w.type != file_type::directory) {
        ec = make_error_code(ERROR_ALREADY_EXISTS);  // a file in the way
        return false;
    }
    if (w.missing == kNone) return false;

    const DriveMap::Root root = drives().rootOf(full, ec);
    if (ec) return false;
    const std::vector<path> names(full.begin(), full.end());
    for (std::size_t i = root.skipped + w.missing; i < names.size(); ++i) {
        const std::string& name = names[i].native();
        if (name.empty()) continue;
        if (utf16Length(name) > 255) {
            ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        if (!isValidName(name) || name == "." || name == "..") {
            ec = make_error_code(ERROR_INVALID_NAME);
            return false;
        }
        w.at.push(name);
        if (::mkdir(w.at.host.c_str(), 0777) != 0) {
            ec = make_error_code(errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                                 : windowsErrorFor(errno, false));
            return false;
        }
    }
    return true;
}

path absolute(const path& p) {
    return orThrow<path>("absolute", p, [&](std::error_code& ec) { return absolute(p, ec); });
}

path absolute(const path& p, std::error_code& ec) {
    ec.clear();
    if (p.empty()) return {};
    // The longest path Windows takes, in UTF-16 units.
    if (p.native().size() > 32767 && utf16Length(p.native()) > 32767) {
        ec = make_error_code(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    const std::string rootName = p.root_name().native();
    const bool rooted = p.has_root_directory();
    const bool drive = rootName.size() == 2 && rootName[1] == ':';

    if (!rootName.empty() && !drive) {
        // \\?\ and \??\ paths are taken as they are; \\.\ and \\server paths are made tidy.
        if (rootName.size() == 3 && rootName[2] == '?') return p;
        std::string root = rootName;
        std::replace(root.begin(), root.end(), '/', '\\');
        root.push_back('\\');
        Lexical result(std::move(root));
        result.addAll(p, rooted ? 2 : 1);
        return path(result.finish(endsInSeparator(p)));
    }
    if (drive && rooted) {
        Lexical result(rootName + "\\");
        result.addAll(p, 2);
        return path(result.finish(endsInSeparator(p)));
    }

    const path cwd = current_path(ec);
    if (ec) return {};
    const std::string cwdRoot = cwd.root_name().native();
    if (drive) {
        const char letter = static_cast<char>(rootName[0] & ~0x20);
        if (!cwdRoot.empty() && (cwdRoot[0] & ~0x20) == letter) {
            Lexical result(cwdRoot + "\\");
            result.addAll(cwd, 2);
            result.addAll(p, 1);
            return path(result.finish(endsInSeparator(p)));
        }
        Lexical result(std::string{letter, ':', '\\'});
        result.addAll(p, 1);
        return path(result.finish(endsInSeparator(p)));
    }
    Lexical result(cwdRoot + "\\");
    if (!rooted) result.addAll(cwd, 2);
    result.addAll(p, rooted ? 1 : 0);
    return path(result.finish(endsInSeparator(p)));
}

file_status status(const path& p) {
    std::error_code ec;
    const file_status s = status(p, ec);
    if (!status_known(s)) raise("status", p, ec);
    return s;
}

namespace {

file_status statusOf(const path& p, bool follow, bool needType, std::error_code& ec) noexcept {
    try {
        const path full = absolute(p, ec);
        if (ec) return file_status(isNotFound(ec) ? file_type::not_found : file_type::none);
        if (full.empty()) {
            ec = make_error_code(ERROR_PATH_NOT_FOUND);
            return file_status(file_type::not_found);
        }
        const Walk w = walk(full, follow, needType, ec);
        if (ec) return file_status(isNotFound(ec) ? file_type::not_found : file_type::none);
        if (w.missing != kNone) {
            ec = make_error_code(w.missingIsLast ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
            return file_status(file_type::not_found);
        }
        return file_status(w.type);
    } catch (const std::bad_alloc&) {
        ec = make_error_code(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const filesystem_error& e) {
        ec = e.code();
    }
    return file_status(file_type::none);
}

}  // namespace

file_status status(const path& p, std::error_code& ec) noexcept {
    return statusOf(p, true, true, ec);
}

file_status symlink_status(const path& p) {
    std::error_code ec;
    const file_status s = symlink_status(p, ec);
    if (!status_known(s)) raise("symlink_status", p, ec);
    return s;
}

file_status symlink_status(const path& p, std::error_code& ec) noexcept {
    return statusOf(p, false, true, ec);
}

namespace {

// status() for the predicates: a missing path is an answer (false), not an error.
file_status statusOfWhatIsThere(const path& p, std::error_code& ec) noexcept {
    const file_status s = status(p, ec);
    if (s.type() == file_type::not_found) ec.clear();
    return s;
}

}  // namespace

bool exists(const path& p) {
    return exists(status(p));
}

bool exists(const path& p, std::error_code& ec) noexcept {
    return exists(statusOfWhatIsThere(p, ec));
}

bool is_directory(const path& p) {
    return is_directory(status(p));
}

bool is_directory(const path& p, std::error_code& ec) noexcept {
    return is_directory(statusOfWhatIsThere(p, ec));
}

bool is_regular_file(const path& p) {
    return is_regular_file(status(p));
}

bool is_regular_file(const path& p, std::error_code& ec) noexcept {
    return is_regular_file(statusOfWhatIsThere(p, ec));
}

// Whether the last element is a link takes no more than one call on it.
bool is_symlink(const path& p) {
    std::error_code ec;
    const file_status s = statusOf(p, false, false, ec);
    if (!status_known(s)) raise("symlink_status", p, ec);
    return is_symlink(s);
}

bool is_symlink(const path& p, std::error_code& ec) noexcept {
    const file_status s = statusOf(p, false, false, ec);
    if (s.type() == file_type::not_found) ec.clear();
    return is_symlink(s);
}

path canonical(const path& p) {
    return orThrow<path>("canonical", p, [&](std::error_code& ec) { return canonical(p, ec); });
}

path canonical(const path& p, std::error_code& ec) {
    const path full = absolute(p, ec);
    if (ec) return {};
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    Walk w = walk(full, true, false, ec);
    if (ec) return {};
    if (w.missing != kNone) {
        ec = make_error_code(w.missingIsLast ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return {};
    }
    return path(std::move(w.at.windows));
}

path weakly_canonical(const path& p) {
    return orThrow<path>("weakly_canonical", p,
                         [&](std::error_code& ec) { return weakly_canonical(p, ec); });
}

path weakly_canonical(const path& p, std::error_code& ec) {
    ec.clear();
    if (p.empty()) return {};
    const path normal = p.lexically_normal();
    const path full = absolute(normal, ec);
    if (ec) return {};

    Walk w = walk(full, true, false, ec);
    if (ec) {
        // Nothing of it exists when even its root does not (an unmapped drive, a server).
        if (isNotFound(ec)) {
            ec.clear();
            return normal;
        }
        return {};
    }
    if (w.missing == kNone) return path(std::move(w.at.windows));

    // The names of `full` from the missing one on follow the part that exists.
    const DriveMap::Root root = drives().rootOf(full, ec);
    if (ec) return {};
    const std::vector<path> names(full.begin(), full.end());
    const std::size_t firstName = root.skipped + w.missing;

    // A relative path whose first own name is missing stays relative.
    if (!normal.has_root_name() && !normal.has_root_directory()) {
        const std::size_t own = elementCount(normal);
        const bool leadsUp = normal.begin() != normal.end() && normal.begin()->native() == "..";
        if (!leadsUp && names.size() >= own && firstName == names.size() - own) return normal;
    }
    path result(std::move(w.at.windows));
    for (std::size_t i = firstName; i < names.size(); ++i)
        result /= names[i];
    return result.lexically_normal();
}

path read_symlink(const path& p) {
    return orThrow<path>("read_symlink", p,
                         [&](std::error_code& ec) { return read_symlink(p, ec); });
}

path read_symlink(const path& p, std::error_code& ec) {
    const path full = absolute(p, ec);
    if (ec) return {};
    const Walk w = walk(full, false, false, ec);
    if (ec) return {};
    if (w.missing != kNone) {
        ec = make_error_code(w.missingIsLast ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return {};
    }
    if (w.type != file_type::symlink) {
        ec = make_error_code(ERROR_NOT_A_REPARSE_POINT);
        return {};
    }
    const std::string target = readHostLink(w.at.host, ec);
    if (ec) return {};
    if (!isValidUtf8(target)) {
        ec = conversionError();
        return {};
    }
    if (!target.empty() && target.front() == '/') return drives().windowsPathFor(target, ec);
    path relative(target);
    return relative.make_preferred();
}

namespace {

void makeLink(const path& target, const path& link, std::error_code& ec) {
    const path full = absolute(link, ec);
    if (ec) return;
    const path name = full.filename();
    if (name.empty()) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return;
    }
    if (!isValidName(name.native())) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return;
    }
    const Walk folder = walk(full.parent_path(), true, true, ec);
    if (ec) return;
    if (folder.missing != kNone || folder.type != file_type::directory) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return;
    }
    std::string existing = name.native();
    if (findIgnoringCase(folder.at.host, existing)) {
        ec = make_error_code(ERROR_ALREADY_EXISTS);
        return;
    }

    std::string stored;
    if (target.has_root_name() || target.has_root_directory()) {
        path windows = target.has_root_directory() && !target.has_root_name()
                           ? path(std::string{folder.at.windows[0], ':'}) / target
                           : target;
        windows = absolute(windows, ec);
        if (ec) return;
        stored = drives().hostPathFor(windows, ec);
        if (ec) return;
    } else {
        stored = target.generic_string();
    }
    std::string host = folder.at.host;
    if (host.back() != '/') host.push_back('/');
    host.append(name.native());
    if (::symlink(stored.c_str(), host.c_str()) != 0) {
        ec = make_error_code(windowsErrorFor(errno, false));
        return;
    }
    ec.clear();
}

}  // namespace

void create_symlink(const path& target, const path& link) {
    std::error_code ec;
    create_symlink(target, link, ec);
    if (ec) raise("create_symlink", target, link, ec);
}

void create_symlink(const path& target, const path& link, std::error_code& ec) noexcept {
    try {
        makeLink(target, link, ec);
    } catch (const std::bad_alloc&) {
        ec = make_error_code(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const filesystem_error& e) {
        ec = e.code();
    }
}

void create_directory_symlink(const path& target, const path& link) {
    std::error_code ec;
    create_directory_symlink(target, link, ec);
    if (ec) raise("create_directory_symlink", target, link, ec);
}

void create_directory_symlink(const path& target, const path& link, std::error_code& ec) noexcept {
    create_symlink(target, link, ec);
}

namespace {

// As the other operations do, a name that is not UTF-8 fails with the path type's own text.
[[noreturn]] void raiseRelation(const char* operation, const path& p, const path& base,
                                const std::error_code& ec) {
    if (ec == std::errc::illegal_byte_sequence) {
        throw filesystem_error("Cannot convert character sequence (" + std::string(operation) + ")",
                               p, base, ec);
    }
    throw filesystem_error(operation, p, base, ec);
}

}  // namespace

path relative(const path& p, std::error_code& ec) {
    const path base = current_path(ec);
    if (ec) return {};
    return relative(p, base, ec);
}

path relative(const path& p, const path& base) {
    std::error_code ec;
    path result = relative(p, base, ec);
    if (ec) raiseRelation("relative", p, base, ec);
    return result;
}

path relative(const path& p, const path& base, std::error_code& ec) {
    const path from = weakly_canonical(p, ec);
    if (ec) return {};
    const path to = weakly_canonical(base, ec);
    if (ec) return {};
    return from.lexically_relative(to);
}

path proximate(const path& p, std::error_code& ec) {
    const path base = current_path(ec);
    if (ec) return {};
    return proximate(p, base, ec);
}

path proximate(const path& p, const path& base) {
    std::error_code ec;
    path result = proximate(p, base, ec);
    if (ec) raiseRelation("proximate", p, base, ec);
    return result;
}

path proximate(const path& p, const path& base, std::error_code& ec) {
    const path from = weakly_canonical(p, ec);
    if (ec) return {};
    const path to = weakly_canonical(base, ec);
    if (ec) return {};
    return from.lexically_proximate(to);
}

}  // namespace winfs
