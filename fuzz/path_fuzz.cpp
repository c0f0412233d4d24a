// Feeds arbitrary bytes to winfs::path and checks the grammar's invariants on everything it
// accepts. The bytes before the first NUL are the path; the bytes after it (or, without a NUL, the
// same text) are a second path to join with.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/path.h"
#include "windows/full_path.h"

namespace {

std::string_view subject;  // the text under test, for the report

[[noreturn]] void fail(const char* invariant, const std::string& got, const std::string& wanted) {
    std::fprintf(stderr, "invariant broken: %s\n  path:   [%.*s]\n  got:    [%s]\n  wanted: [%s]\n",
                 invariant, static_cast<int>(subject.size()), subject.data(), got.c_str(),
                 wanted.c_str());
    std::abort();
}

void expectEqual(const char* invariant, const std::string& got, const std::string& wanted) {
    if (got != wanted) fail(invariant, got, wanted);
}

void expect(const char* invariant, bool holds) {
    if (!holds) fail(invariant, "false", "true");
}

// What the grammar leaves of a file name for stem and extension: "a.txt:s:$DATA" -> "a.txt".
std::string withoutStream(const std::string& filename) {
    return filename.substr(0, filename.find(':'));
}

std::vector<std::string> forwardElements(const winfs::path& p) {
    std::vector<std::string> elements;
    // Each element takes at least one byte, bar the empty one after a trailing separator.
    const std::size_t limit = p.native().size() + 2;
    for (auto it = p.begin(); it != p.end();) {
        if (elements.size() > limit) fail("forward iteration ends", "runaway", "end()");
        elements.push_back(it->native());
        const auto here = it++;
        auto back = it;
        expect("--(++it) is it", --back == here && back->native() == here->native());
    }
    return elements;
}

std::vector<std::string> backwardElements(const winfs::path& p) {
    std::vector<std::string> elements;
    const std::size_t limit = p.native().size() + 2;
    for (auto it = p.end(); it != p.begin();) {
        if (elements.size() > limit) fail("backward iteration ends", "runaway", "begin()");
        --it;
        elements.insert(elements.begin(), it->native());
    }
    return elements;
}

std::string joined(const std::vector<std::string>& elements) {
    std::string text;
    for (const std::string& element : elements)
        text += "[" + element + "]";
    return text;
}

void checkPath(const winfs::path& p) {
    const std::string& text = p.native();
    subject = text;

    const std::string rootName = p.root_name().native();
    const std::string rootDirectory = p.root_directory().native();
    const std::string rootPath = p.root_path().native();
    const std::string relative = p.relative_path().native();
    expectEqual("root_name + root_directory + relative_path == text",
                rootName + rootDirectory + relative, text);
    expectEqual("root_path == root_name + root_directory", rootPath, rootName + rootDirectory);
    expectEqual("has_root_name == !root_name.empty", p.has_root_name() ? "1" : "0",
                rootName.empty() ? "0" : "1");
    expectEqual("has_root_directory == !root_directory.empty", p.has_root_directory() ? "1" : "0",
                rootDirectory.empty() ? "0" : "1");
    expectEqual("is_absolute == has_root_name && has_root_directory", p.is_absolute() ? "1" : "0",
                p.has_root_name() && p.has_root_directory() ? "1" : "0");

    const std::string filename = p.filename().native();
    expect("filename is a suffix of relative_path",
           relative.size() >= filename.size() &&
               relative.compare(relative.size() - filename.size(), filename.size(), filename) == 0);
    expectEqual("stem + extension == filename up to its first ':'",
                p.stem().native() + p.extension().native(), withoutStream(filename));
    const std::string extension = p.extension().native();
    expect("extension is empty or starts with '.'", extension.empty() || extension[0] == '.');

    const std::string parent = p.parent_path().native();
    expect("parent_path is a prefix of the text",
           text.compare(0, parent.size(), parent) == 0 && parent.size() <= text.size());

    const winfs::path normal = p.lexically_normal();
    const std::string normalText = normal.native();
    expectEqual("lexically_normal is idempotent", normal.lexically_normal().native(), normalText);
    subject = text;
    // Normalising must not turn "a file named s:x" into "drive s:", nor drop or make a root.
    std::string preferredRootName = rootName;
    std::replace(preferredRootName.begin(), preferredRootName.end(), '/', '\\');
    expectEqual("lexically_normal keeps the root name", normal.root_name().native(),
                preferredRootName);
    subject = text;
    expectEqual("lexically_normal keeps the root directory",
                normal.has_root_directory() ? "1" : "0", rootDirectory.empty() ? "0" : "1");
    subject = text;
    expect("lexically_normal keeps a non-empty path non-empty",
           text.empty() || !normalText.empty());

    expectEqual("backward iteration == forward iteration", joined(backwardElements(p)),
                joined(forwardElements(p)));

    // The same path with other separators after its root name compares equal and hashes alike.
    std::string respelled = rootName;
    for (std::size_t i = rootName.size(); i < text.size(); ++i) {
        const char c = text[i];
        respelled += c == '/' ? "\\" : c == '\\' ? "/" : std::string(1, c);
    }
    const winfs::path other(respelled);
    subject = text;
    expectEqual("compare ignores the spelling of separators after the root name",
                std::to_string(p.compare(other)), "0");
    expect("equal paths hash alike", hash_value(p) == hash_value(other));

    // Without "." or ".." or a name that reads as a root name, a path is "." from itself.
    bool plain = true;
    for (const winfs::path& element : p.relative_path()) {
        const std::string& name = element.native();
        plain = plain && name != "." && name != ".." && !element.has_root_name();
    }
    if (plain)
        expectEqual("p.lexically_relative(p) is \".\"", p.lexically_relative(p).native(), ".");
}

// Made full again, a full path stays as it is: absolute(absolute(p)) == absolute(p).
void checkFullPath(const winfs::path& p) {
    static const winfs::path workingDirectory("C:\\work\\dir");
    subject = p.native();
    std::error_code ec;
    const winfs::path full = winfs::fullPathName(p, workingDirectory, ec);
    if (ec) {
        expect("fullPathName fails only on an empty or too long path",
               p.empty() || ec == std::error_code(winfs::ERROR_FILENAME_EXCED_RANGE,
                                                  winfs::system_category()));
        return;
    }
    const winfs::path again = winfs::fullPathName(full, workingDirectory, ec);
    expectEqual("fullPathName is idempotent", ec ? ec.message() : again.native(), full.native());
}

// Comparison is an order, and equal paths hash alike.
void checkPair(const winfs::path& a, const winfs::path& b) {
    subject = a.native();
    const int ab = a.compare(b);
    const int ba = b.compare(a);
    expectEqual("compare is antisymmetric", std::to_string((ab > 0) - (ab < 0)),
                std::to_string((ba < 0) - (ba > 0)));
    if (ab == 0) expect("equal paths hash alike", hash_value(a) == hash_value(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = bytes.find('\0');
    const std::string_view first = bytes.substr(0, nul);
    const std::string_view second = nul == std::string_view::npos ? first : bytes.substr(nul + 1);

    winfs::path p;
    try {
        p = winfs::path(first);
    } catch (const winfs::filesystem_error&) {
        return 0;  // not UTF-8
    }
    checkPath(p);
    checkFullPath(p);

    winfs::path other;
    try {
        other = winfs::path(second);
    } catch (const winfs::filesystem_error&) {
        return 0;
    }
    checkPair(p, other);
    const winfs::path both = p / other;
    checkPath(both);
    return 0;
}
