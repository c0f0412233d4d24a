// Builds a small random tree of folders, files and links on drive C of a scratch prefix, then
// resolves random paths through it and checks that winfs::canonical agrees with the host's
// realpath() mapped back through the drive map, and that the other lookups agree with it.
//
// Kept out on purpose, because Windows and POSIX differ there and neither side is wrong:
// - ".." in paths and link targets: Windows removes it lexically before following links, POSIX
//   after ("c:\lnk\.." is "c:\" whatever lnk points to).
// - Link targets ending in '/' or holding "." after a name: POSIX wants a folder there ("f/" or
//   "f/." fails when f is a file), while winfs normalises a target lexically and so drops them.
// - Names that match only ignoring case: every name on disk and in a target is spelled one fixed
//   way (kNames), so the host finds what winfs finds. Case is tested on the query alone, by asking
//   again with the case flipped and '/' separators, which must give the same answer.
// - Absolute targets outside drive C: a walk through z: into drive C's folder stays on Z:, while
//   realpath() output maps to C:. Targets stay inside drive C.
// - How many links one lookup may follow: glibc's realpath() stops after 40, winfs after 63, as
//   Windows. Without a cycle a few links can still add up to more than 40 ("l" -> "m/m/m", "m" ->
//   "n/n/n", ...), so where realpath() says ELOOP the answer expected of winfs is that of a plain
//   POSIX resolver below allowed 63 links. That resolver is itself checked against realpath() with
//   40 on every query, so it cannot drift from the host.
#include <dirent.h>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "drives/drive.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/operations.h"

namespace {

// Few and short, so that names collide; mixed case, so that the case found on disk matters.
constexpr const char* kNames[] = {"a", "B", "c", "Dd", "e", "F", "gH", "h"};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];
constexpr int kMaxFolders = 8;
constexpr int kMaxFiles = 2;
constexpr int kMaxLinks = 8;
constexpr int kMaxDepth = 4;           // of the folders made, below drive C
constexpr int kMaxQueryDepth = 6;      // names in a query path
constexpr int kMaxTargetNames = 4;     // names in a link target
constexpr int kHostLinkLimit = 40;     // glibc's realpath()
constexpr int kWindowsLinkLimit = 63;  // winfs, as Windows

std::string prefixFolder;  // the scratch prefix
std::string driveC;        // its drive_c, resolved on the host, as the drive map keeps it

void removePrefix() {
    std::error_code ec;
    if (!prefixFolder.empty()) std::filesystem::remove_all(prefixFolder, ec);
}

std::string hostResolved(const std::string& host) {
    char* resolved = ::realpath(host.c_str(), nullptr);
    if (resolved == nullptr) {
        std::fprintf(stderr, "tree_fuzz: cannot resolve %s: %s\n", host.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
    std::string text(resolved);
    std::free(resolved);
    return text;
}

void makePrefix() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/pathprobe-tree-fuzz.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("tree_fuzz: mkdtemp");
        std::exit(1);
    }
    prefixFolder = pattern;
    std::atexit(removePrefix);
    ::setenv("WINEPREFIX", prefixFolder.c_str(), 1);
    winfs::reloadDrives();  // makes drive_c
    driveC = hostResolved(prefixFolder + "/drive_c");
}

// Empties drive C but keeps its folder: the drive map holds a handle on it.
void wipeDriveC() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(driveC, ec)) {
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

// What the tree holds, one line an entry, for the report.
std::string treeReport;

std::string join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool existsOnHost(const std::string& host) {
    struct stat st {};
    return ::lstat(host.c_str(), &st) == 0;
}

std::string pickName(FuzzedDataProvider& input) {
    return kNames[input.ConsumeIntegralInRange<std::size_t>(0, kNameCount - 1)];
}

struct Folder {
    std::string relative;  // below drive C, '/' between names; "" for drive C itself
    int depth;
};

// Decodes the tree from the input and makes it under drive C.
void buildTree(FuzzedDataProvider& input) {
    treeReport.clear();
    std::vector<Folder> folders{{"", 0}};
    auto pickFolder = [&]() -> const Folder& {
        return folders[input.ConsumeIntegralInRange<std::size_t>(0, folders.size() - 1)];
    };

    const int folderCount = input.ConsumeIntegralInRange(0, kMaxFolders);
    for (int i = 0; i < folderCount; ++i) {
        const Folder parent = pickFolder();
        const std::string relative = join(parent.relative, pickName(input));
        if (parent.depth >= kMaxDepth || existsOnHost(driveC + "/" + relative)) continue;
        if (::mkdir((driveC + "/" + relative).c_str(), 0777) != 0) continue;
        folders.push_back({relative, parent.depth + 1});
        treeReport += "  folder " + relative + "\n";
    }

    const int fileCount = input.ConsumeIntegralInRange(0, kMaxFiles);
    for (int i = 0; i < fileCount; ++i) {
        const std::string folder = pickFolder().relative;  // before the name: decoding order
        const std::string relative = join(folder, pickName(input));
        if (existsOnHost(driveC + "/" + relative)) continue;
        const int fd =
            ::open((driveC + "/" + relative).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0) continue;
        ::close(fd);
        treeReport += "  file   " + relative + "\n";
    }

    const int linkCount = input.ConsumeIntegralInRange(0, kMaxLinks);
    for (int i = 0; i < linkCount; ++i) {
        const std::string folder = pickFolder().relative;  // before the name: decoding order
        const std::string relative = join(folder, pickName(input));
        const bool absolute = input.ConsumeBool();
        const int names = input.ConsumeIntegralInRange(absolute ? 0 : 1, kMaxTargetNames);
        std::string target;
        if (absolute) {
            target = driveC;  // as winfs stores "C:\..." on the host
            for (int k = 0; k < names; ++k)
                target += "/" + pickName(input);
        } else {
            // "./" leads, or "." alone stands for the link's own folder; never one after a name.
            if (input.ConsumeIntegralInRange(0, 3) == 0) target = names == 1 ? "." : "./";
            for (int k = target == "." ? 1 : 0; k < names; ++k) {
                if (!target.empty() && target.back() != '/') target += "/";
                target += pickName(input);
            }
        }
        if (existsOnHost(driveC + "/" + relative)) continue;
        if (::symlink(target.c_str(), (driveC + "/" + relative).c_str()) != 0) continue;
        treeReport += "  link   " + relative + " -> " + target + "\n";
    }
}

// The outcome of resolving one host path: 0 and the resolved path, or an errno value.
struct Outcome {
    int error = 0;
    std::string host;
};

std::string describe(const Outcome& outcome) {
    if (outcome.error == 0) return "[" + outcome.host + "]";
    return std::string("errno ") + std::to_string(outcome.error) + " (" +
           std::strerror(outcome.error) + ")";
}

Outcome hostRealpath(const std::string& host) {
    Outcome outcome;
    errno = 0;
    char* resolved = ::realpath(host.c_str(), nullptr);
    if (resolved == nullptr) {
        outcome.error = errno;
        return outcome;
    }
    outcome.host = resolved;
    std::free(resolved);
    return outcome;
}

// A plain POSIX resolver of `names` below drive C that follows at most `linkLimit` links. There
// is no ".." anywhere, so the folder it stands in only ever gains names or starts again at '/'.
Outcome resolveOnHost(const std::vector<std::string>& names, int linkLimit) {
    std::vector<std::string> pending(names.rbegin(), names.rend());
    std::string at = driveC;
    int links = 0;
    auto pushTarget = [&](const std::string& target) {
        std::vector<std::string> parts;
        std::size_t from = 0;
        while (from <= target.size()) {
            const std::size_t slash = std::min(target.find('/', from), target.size());
            parts.push_back(target.substr(from, slash - from));
            from = slash + 1;
        }
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name.empty() || name == ".") continue;
        const std::string next = (at == "/" ? "" : at) + "/" + name;
        struct stat st {};
        if (::lstat(next.c_str(), &st) != 0) return {errno, {}};
        if (S_ISLNK(st.st_mode)) {
            if (++links > linkLimit) return {ELOOP, {}};
            char buffer[4096];
            const ssize_t n = ::readlink(next.c_str(), buffer, sizeof buffer - 1);
            if (n < 0) return {errno, {}};
            const std::string target(buffer, static_cast<std::size_t>(n));
            if (!target.empty() && target.front() == '/') at = "/";
            pushTarget(target);
            continue;
        }
        at = next;  // a name below a file fails lstat() with ENOTDIR
    }
    return {0, at};
}

// realpath() output as a Windows path: drive C's folder is C:\, anything else lies on Z:.
std::string windowsFor(const std::string& host) {
    std::string windows;
    if (host == driveC) return "C:\\";
    if (host.compare(0, driveC.size() + 1, driveC + "/") == 0) {
        windows = "C:\\" + host.substr(driveC.size() + 1);
    } else {
        windows = "Z:\\" + host.substr(1);
    }
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string windowsPathFor(const std::vector<std::string>& names, bool flipCase) {
    std::string text = flipCase ? "c:" : "C:";
    const char separator = flipCase ? '/' : '\\';
    text += separator;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += separator;
        for (const char c : names[i]) {
            const auto u = static_cast<unsigned char>(c);
            text += flipCase
                        ? static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u))
                        : c;
        }
    }
    return text;
}

std::string describe(const std::error_code& ec) {
    if (!ec) return "no error";
    return std::string(ec.category().name()) + " " + std::to_string(ec.value()) + " (" +
           ec.message() + ")";
}

// Everything about the query under way, for the report.
struct Query {
    std::string windows;
    std::string host;
    Outcome realpath;
    Outcome expected;  // what a resolver allowed 63 links gives
};

[[noreturn]] void fail(const Query& query, const char* check, const std::string& got,
                       const std::string& wanted) {
    std::fprintf(stderr,
                 "tree_fuzz: %s\n"
                 "drive C is %s, holding:\n%s"
                 "query:      %s\n"
                 "host path:  %s\n"
                 "realpath(): %s\n"
                 "63 links:   %s\n"
                 "got:        %s\n"
                 "wanted:     %s\n",
                 check, driveC.c_str(), treeReport.c_str(), query.windows.c_str(),
                 query.host.c_str(), describe(query.realpath).c_str(),
                 describe(query.expected).c_str(), got.c_str(), wanted.c_str());
    removePrefix();  // the report holds the tree; abort() skips atexit
    std::abort();
}

bool isWindowsError(const std::error_code& ec, int value) {
    return ec.category() == winfs::system_category() && ec.value() == value;
}

bool isNotFound(const std::error_code& ec) {
    return isWindowsError(ec, winfs::ERROR_FILE_NOT_FOUND) ||
           isWindowsError(ec, winfs::ERROR_PATH_NOT_FOUND);
}

winfs::file_type typeOf(mode_t mode) {
    if (S_ISDIR(mode)) return winfs::file_type::directory;
    if (S_ISREG(mode)) return winfs::file_type::regular;
    if (S_ISLNK(mode)) return winfs::file_type::symlink;
    return winfs::file_type::unknown;
}

std::string describe(winfs::file_type type) {
    return std::to_string(static_cast<int>(type));
}

std::string result(const winfs::path& p, const std::error_code& ec) {
    return ec ? describe(ec) : "[" + p.native() + "]";
}

// The expected outcome as canonical() would give it.
std::string expectedText(const Outcome& outcome) {
    if (outcome.error == 0) return "[" + windowsFor(outcome.host) + "]";
    if (outcome.error == ELOOP) return "winfs 1921";
    return "winfs 2 or 3";
}

bool matches(const Outcome& expected, const winfs::path& p, const std::error_code& ec) {
    switch (expected.error) {
        case 0:
            return !ec && p.native() == windowsFor(expected.host);
        case ELOOP:
            return isWindowsError(ec, winfs::ERROR_CANT_RESOLVE_FILENAME);
        default:
            return isNotFound(ec);
    }
}

void checkQuery(const std::vector<std::string>& names) {
    Query query;
    query.windows = windowsPathFor(names, false);
    query.host = driveC;
    for (const std::string& name : names)
        query.host += "/" + name;
    query.realpath = hostRealpath(query.host);
    if (query.realpath.error == ENAMETOOLONG) return;
    if (query.realpath.error != 0 && query.realpath.error != ENOENT &&
        query.realpath.error != ENOTDIR && query.realpath.error != ELOOP) {
        fail(query, "realpath() failed in a way no tree here should make", "", "");
    }
    const Outcome hostModel = resolveOnHost(names, kHostLinkLimit);
    query.expected = resolveOnHost(names, kWindowsLinkLimit);
    if (hostModel.error != query.realpath.error || hostModel.host != query.realpath.host) {
        fail(query, "the test's own resolver disagrees with realpath()", describe(hostModel),
             describe(query.realpath));
    }
    if (query.realpath.error != ELOOP && (query.expected.error != query.realpath.error ||
                                          query.expected.host != query.realpath.host)) {
        fail(query, "more links allowed changed an answer that needed no more",
             describe(query.expected), describe(query.realpath));
    }
    const Outcome& expected = query.expected;

    struct stat st {};
    const int lstatError = ::lstat(query.host.c_str(), &st) == 0 ? 0 : errno;
    const winfs::file_type lstatType =
        lstatError == 0 ? typeOf(st.st_mode) : winfs::file_type::not_found;

    std::string canonicalText;
    for (const bool flip : {false, true}) {
        query.windows = windowsPathFor(names, flip);
        const winfs::path p(query.windows);

        std::error_code ec;
        const winfs::path canonical = winfs::canonical(p, ec);
        const std::error_code canonicalError = ec;
        if (!matches(expected, canonical, ec)) {
            fail(query, "canonical", result(canonical, ec), expectedText(expected));
        }
        // Error 2 against 3 is not the host's to say; but asking in another case must not change
        // which.
        if (!flip) {
            canonicalText = result(canonical, ec);
        } else if (result(canonical, ec) != canonicalText) {
            fail(query, "canonical in another case", result(canonical, ec), canonicalText);
        }

        const winfs::file_status status = winfs::status(p, ec);
        if (winfs::exists(status) != !canonicalError) {
            fail(query, "exists(status) iff canonical succeeds",
                 describe(status.type()) + ", " + describe(ec), result(canonical, canonicalError));
        }
        if (expected.error == 0) {
            struct stat target {};
            ::stat(expected.host.c_str(), &target);
            if (status.type() != typeOf(target.st_mode) || ec) {
                fail(query, "status", describe(status.type()) + ", " + describe(ec),
                     describe(typeOf(target.st_mode)));
            }
        } else if (expected.error == ELOOP) {
            if (status.type() != winfs::file_type::none ||
                !isWindowsError(ec, winfs::ERROR_CANT_RESOLVE_FILENAME)) {
                fail(query, "status", describe(status.type()) + ", " + describe(ec),
                     "none, winfs 1921");
            }
        } else if (status.type() != winfs::file_type::not_found || !isNotFound(ec)) {
            fail(query, "status", describe(status.type()) + ", " + describe(ec),
                 "not_found, winfs 2 or 3");
        }

        // The host stops after 40 links on the way; where it does, winfs may well go on.
        const winfs::file_status linkStatus = winfs::symlink_status(p, ec);
        const std::error_code linkError = ec;
        const bool isLink = winfs::is_symlink(p, ec);
        if (lstatError == 0) {
            if (linkStatus.type() != lstatType || linkError) {
                fail(query, "symlink_status",
                     describe(linkStatus.type()) + ", " + describe(linkError), describe(lstatType));
            }
            if (isLink != (lstatType == winfs::file_type::symlink) || ec) {
                fail(query, "is_symlink", std::to_string(isLink) + ", " + describe(ec),
                     std::to_string(lstatType == winfs::file_type::symlink));
            }
        } else if (lstatError == ENOENT || lstatError == ENOTDIR) {
            if (linkStatus.type() != winfs::file_type::not_found || !isNotFound(linkError)) {
                fail(query, "symlink_status",
                     describe(linkStatus.type()) + ", " + describe(linkError),
                     "not_found, winfs 2 or 3");
            }
            // As symlink_status: false, and the not-found error kept.
            if (isLink || !isNotFound(ec)) {
                fail(query, "is_symlink", std::to_string(isLink) + ", " + describe(ec),
                     "0, winfs 2 or 3");
            }
        }

        // As std::filesystem: canonical() of the longest leading part that exists, then the rest
        // of the names as given.
        const winfs::path weak = winfs::weakly_canonical(p, ec);
        std::string wanted;
        if (expected.error == 0) {
            wanted = canonical.native();
        } else if (expected.error == ELOOP) {
            if (!isWindowsError(ec, winfs::ERROR_CANT_RESOLVE_FILENAME)) {
                fail(query, "weakly_canonical", result(weak, ec), "winfs 1921");
            }
            continue;
        } else {
            std::vector<std::string> given(names);
            if (flip) {
                for (std::string& name : given)
                    name = windowsPathFor({name}, true).substr(3);
            }
            std::size_t existing = 0;
            Outcome base = resolveOnHost({}, kWindowsLinkLimit);
            while (existing < names.size()) {
                const Outcome longer = resolveOnHost(
                    std::vector<std::string>(
                        names.begin(), names.begin() + static_cast<std::ptrdiff_t>(existing + 1)),
                    kWindowsLinkLimit);
                if (longer.error != 0) break;
                base = longer;
                ++existing;
            }
            wanted = windowsFor(base.host);
            for (std::size_t i = existing; i < given.size(); ++i) {
                if (wanted.back() != '\\') wanted += '\\';
                wanted += given[i];
            }
        }
        if (ec || weak.native() != wanted) {
            fail(query, "weakly_canonical", result(weak, ec), "[" + wanted + "]");
        }
    }
}

// canonical(absolute(p)) is canonical(p), or both fail alike, for `names` spelled with what
// absolute() takes out: "." and "x\..", a trailing dot on a name, trailing dots and spaces, '/'
// and runs of separators, and the \\.\ and //?/ prefixes. A path that starts exactly with \\?\ or
// \??\ is kept out: the file calls take it as given while absolute() rewrites it, so "\\?\C:\a."
// names another file than its absolute form "\\?\C:\a", as on Windows.
void checkAbsolute(const std::vector<std::string>& names, FuzzedDataProvider& input) {
    static constexpr const char* kRoots[] = {"C:\\", "c://", "//?/C:/", "\\\\.\\c:\\", "\\"};
    Query query;
    query.windows = kRoots[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kRoots) - 1)];
    for (const std::string& name : names) {
        const int before = input.ConsumeIntegralInRange(0, 5);
        if (before == 1) query.windows += ".\\";
        if (before == 2) query.windows += "zz\\..\\";
        query.windows += name;
        const int after = input.ConsumeIntegralInRange(0, 5);
        if (after == 1) query.windows += ".";
        if (after == 2) query.windows += ". .";
        if (after == 3) query.windows += " ";
        query.windows += input.ConsumeBool() ? "\\" : "/";
    }
    const int end = input.ConsumeIntegralInRange(0, 3);
    if (end == 1 && !names.empty()) query.windows.pop_back();
    if (end == 2) query.windows += ".";
    if (end == 3) query.windows += " ";

    const winfs::path p(query.windows);
    std::error_code ec;
    const winfs::path full = winfs::absolute(p, ec);
    if (ec) fail(query, "absolute", describe(ec), "a full path");
    const std::string direct = result(winfs::canonical(p, ec), ec);
    const std::string throughAbsolute = result(winfs::canonical(full, ec), ec);
    if (throughAbsolute != direct) {
        fail(query, "canonical(absolute(p)) == canonical(p)",
             throughAbsolute + " from " + full.native(), direct);
    }
}

// Picks a path name by name: mostly a name found in the folder reached so far (through links, as
// a user browsing would), else any name, which may well be missing.
std::vector<std::string> pickQuery(FuzzedDataProvider& input) {
    std::vector<std::string> names;
    std::string host = driveC;
    const int depth = input.ConsumeIntegralInRange(0, kMaxQueryDepth);
    for (int i = 0; i < depth; ++i) {
        std::vector<std::string> found;
        if (input.ConsumeIntegralInRange(0, 4) != 0) {
            if (DIR* dir = ::opendir(host.c_str())) {
                while (const dirent* entry = ::readdir(dir)) {
                    const std::string name = entry->d_name;
                    if (name != "." && name != "..") found.push_back(name);
                }
                ::closedir(dir);
            }
            std::sort(found.begin(), found.end());  // readdir's order is the file system's
        }
        const std::string name =
            found.empty() ? pickName(input)
                          : found[input.ConsumeIntegralInRange<std::size_t>(0, found.size() - 1)];
        names.push_back(name);
        host += "/" + name;
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makePrefix();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    wipeDriveC();
    buildTree(input);
    const int queries = input.ConsumeIntegralInRange(1, 4);
    for (int i = 0; i < queries; ++i) {
        const std::vector<std::string> names = pickQuery(input);
        checkQuery(names);
        checkAbsolute(names, input);
    }
    if (std::getenv("TREE_FUZZ_SHOW") != nullptr) std::fprintf(stderr, "%s\n", treeReport.c_str());
    return 0;
}
