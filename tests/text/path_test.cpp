#include "pathprobe/winfs/path.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <list>
#include <memory_resource>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/names.h"
#include "text/utf8.h"

using winfs::path;

// Counts this thread's allocations, so that the noexcept queries can be held to not allocating.
namespace {
thread_local std::size_t allocations = 0;
}  // namespace

// Out of line, so that the compiler does not pair an inlined free() with operator new.
[[gnu::noinline]] void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
// The standard library's temporary buffers (std::stable_sort) come from the nothrow form, and go
// back through the sized delete above: both must use malloc.
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// A single-pass input iterator over text that ends in a null character: a Source that the standard
// allows besides strings and pointers.
template <class C>
class OnePass {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = C;
    using difference_type = std::ptrdiff_t;
    using pointer = const C*;
    using reference = const C&;

    explicit OnePass(const C* at) : at_(at) {}
    reference operator*() const { return *at_; }
    OnePass& operator++() {
        ++at_;
        return *this;
    }
    void operator++(int) { ++at_; }
    bool operator==(const OnePass&) const = default;

  private:
    const C* at_;
};

// u8path, which C++20 deprecates and keeps, in each of its forms: the path of UTF-8 text.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::vector<path> fromU8path(const char* text) {
    const std::u8string utf8(text, text + std::strlen(text));
    const std::string narrow(text);
    return {winfs::u8path(text),
            winfs::u8path(narrow),
            winfs::u8path(std::string_view(narrow)),
            winfs::u8path(utf8),
            winfs::u8path(utf8.c_str()),
            winfs::u8path(OnePass<char>(text)),
            winfs::u8path(OnePass<char8_t>(utf8.c_str())),
            winfs::u8path(narrow.begin(), narrow.end()),
            winfs::u8path(utf8.begin(), utf8.end())};
}
#pragma GCC diagnostic pop

struct Decomposition {
    const char* text;
    const char* rootName;
    const char* rootDirectory;
    const char* rootPath;
    const char* relativePath;
    const char* parentPath;
    const char* filename;
    const char* stem;
    const char* extension;
    bool absolute;
};

// clang-format off
const Decomposition kDecompositions[] = {
    // text                      root name    root dir  root path      relative path             parent path          filename            stem          extension abs
    {"",                         "",          "",       "",            "",                       "",                  "",                 "",           "",       false},
    {"c:",                       "c:",        "",       "c:",          "",                       "c:",                "",                 "",           "",       false},
    {"C:\\",                     "C:",        "\\",     "C:\\",        "",                       "C:\\",              "",                 "",           "",       true},
    {"C:\\temp\\test.txt",       "C:",        "\\",     "C:\\",        "temp\\test.txt",         "C:\\temp",          "test.txt",         "test",       ".txt",   true},
    {"C:\\\\temp\\\\test.txt",   "C:",        "\\\\",   "C:\\\\",      "temp\\\\test.txt",       "C:\\\\temp",        "test.txt",         "test",       ".txt",   true},
    {"c:\\\\\\\\cat",            "c:",        "\\\\\\\\", "c:\\\\\\\\", "cat",                   "c:\\\\\\\\",        "cat",              "cat",        "",       true},
    {"c:foo\\bar",               "c:",        "",       "c:",          "foo\\bar",               "c:foo",             "bar",              "bar",        "",       false},
    {"z:/a/b",                   "z:",        "/",      "z:/",         "a/b",                    "z:/a",              "b",                "b",          "",       true},
    {"c:\\cat\\dog\\elk\\",      "c:",        "\\",     "c:\\",        "cat\\dog\\elk\\",        "c:\\cat\\dog\\elk", "",                 "",           "",       true},
    {"\\\\?\\C:\\temp\\test.txt", "\\\\?",    "\\",     "\\\\?\\",     "C:\\temp\\test.txt",     "\\\\?\\C:\\temp",   "test.txt",         "test",       ".txt",   true},
    {"\\\\?\\",                  "\\\\?",     "\\",     "\\\\?\\",     "",                       "\\\\?\\",           "",                 "",           "",       true},
    {"\\\\.\\pipe\\x",           "\\\\.",     "\\",     "\\\\.\\",     "pipe\\x",                "\\\\.\\pipe",       "x",                "x",          "",       true},
    {"\\??\\c:\\x",              "\\??",      "\\",     "\\??\\",      "c:\\x",                  "\\??\\c:",          "x",                "x",          "",       true},
    {"\\\\?\\UNC\\srv\\share",   "\\\\?",     "\\",     "\\\\?\\",     "UNC\\srv\\share",        "\\\\?\\UNC\\srv",   "share",            "share",      "",       true},
    {"\\\\server\\share",        "\\\\server", "\\",    "\\\\server\\", "share",                 "\\\\server\\",      "share",            "share",      "",       true},
    {"/\\server/share",          "/\\server", "/",      "/\\server/",  "share",                  "/\\server/",        "share",            "share",      "",       true},
    {"\\\\server",               "\\\\server", "",      "\\\\server",  "",                       "\\\\server",        "",                 "",           "",       false},
    {"\\\\?\\\\x",               "\\\\?",     "\\\\",   "\\\\?\\\\",   "x",                      "\\\\?\\\\",         "x",                "x",          "",       true},
    {"\\\\\\dog",                "",          "\\\\\\", "\\\\\\",      "dog",                    "\\\\\\",            "dog",              "dog",        "",       false},
    {"/",                        "",          "/",      "/",           "",                       "/",                 "",                 "",           "",       false},
    {"\\foo",                    "",          "\\",     "\\",          "foo",                    "\\",                "foo",              "foo",        "",       false},
    {".",                        "",          "",       "",            ".",                      "",                  ".",                ".",          "",       false},
    {"..",                       "",          "",       "",            "..",                     "",                  "..",               "..",         "",       false},
    {"a\\..",                    "",          "",       "",            "a\\..",                  "a",                 "..",               "..",         "",       false},
    {"cc:dog",                   "",          "",       "",            "cc:dog",                 "",                  "cc:dog",           "cc",         "",       false},
    {"1:\\dog",                  "",          "",       "",            "1:\\dog",                "1:",                "dog",              "dog",        "",       false},
    {"[:/abc",                   "",          "",       "",            "[:/abc",                 "[:",                "abc",              "abc",        "",       false},
    {"file.txt:stream",          "",          "",       "",            "file.txt:stream",        "",                  "file.txt:stream",  "file",       ".txt",   false},
    {".profile",                 "",          "",       "",            ".profile",               "",                  ".profile",         ".profile",   "",       false},
    {"a.tar.gz",                 "",          "",       "",            "a.tar.gz",               "",                  "a.tar.gz",         "a.tar",      ".gz",    false},
    {"d\\name.",                 "",          "",       "",            "d\\name.",               "d",                 "name.",            "name",       ".",      false},
    {"..x",                      "",          "",       "",            "..x",                    "",                  "..x",              ".",          ".x",     false},
    {"c:\\a//b\\\\",             "c:",        "\\",     "c:\\",        "a//b\\\\",               "c:\\a//b",          "",                 "",           "",       true},
};
// clang-format on

void PrintTo(const Decomposition& d, std::ostream* os) {
    *os << '"' << d.text << '"';
}

class DecompositionTest : public testing::TestWithParam<Decomposition> {};

TEST_P(DecompositionTest, TakesThePathApart) {
    const Decomposition& d = GetParam();
    const path p(d.text);
    EXPECT_EQ(p.root_name().string(), d.rootName);
    EXPECT_EQ(p.root_directory().string(), d.rootDirectory);
    EXPECT_EQ(p.root_path().string(), d.rootPath);
    EXPECT_EQ(p.relative_path().string(), d.relativePath);
    EXPECT_EQ(p.parent_path().string(), d.parentPath);
    EXPECT_EQ(p.filename().string(), d.filename);
    EXPECT_EQ(p.stem().string(), d.stem);
    EXPECT_EQ(p.extension().string(), d.extension);
    EXPECT_EQ(p.is_absolute(), d.absolute);
    EXPECT_EQ(p.is_relative(), !d.absolute);
    EXPECT_EQ(p.has_root_name(), *d.rootName != '\0');
    EXPECT_EQ(p.has_root_directory(), *d.rootDirectory != '\0');
    EXPECT_EQ(p.has_root_path(), *d.rootPath != '\0');
    EXPECT_EQ(p.has_relative_path(), *d.relativePath != '\0');
    EXPECT_EQ(p.has_parent_path(), *d.parentPath != '\0');
    EXPECT_EQ(p.has_filename(), *d.filename != '\0');
    EXPECT_EQ(p.has_stem(), *d.stem != '\0');
    EXPECT_EQ(p.has_extension(), *d.extension != '\0');
    EXPECT_EQ(p.string(), d.text);
}

INSTANTIATE_TEST_SUITE_P(Grammar, DecompositionTest, testing::ValuesIn(kDecompositions));

struct Join {
    const char* left;
    const char* right;
    const char* joined;
};

const Join kJoins[] = {
    {"C:\\work", "c:", "c:"},  // root names compare exactly
    {"c:cat", "d:dog", "d:dog"},
    {"c:cat", "/dog", "c:/dog"},
    {"c:cat", "c:dog", "c:cat\\dog"},
    {"cat", "c:/dog", "c:/dog"},
    {"c:", "foo", "c:foo"},
    {"c:", "", "c:"},
    {"c:\\", "foo", "c:\\foo"},
    {"c:\\zor-hack", "foo", "c:\\zor-hack\\foo"},
    {"c:\\zor\\", "foo", "c:\\zor\\foo"},
    {"c:\\zor", "", "c:\\zor\\"},
    {"c:\\a\\b", "\\x\\y", "c:\\x\\y"},
    {"c:\\a", "\\\\?\\d:\\x", "\\\\?\\d:\\x"},
    {"c:\\a", "\\\\server\\share", "\\\\server\\share"},
    {"\\\\server", "share", "\\\\server\\share"},
    {"\\\\server\\share", "x", "\\\\server\\share\\x"},
    {"a", "b", "a\\b"},
    {"", "b", "b"},
    {"", "", ""},
    {"\\", "b", "\\b"},
    {"a/", "b", "a/b"},
};

void PrintTo(const Join& j, std::ostream* os) {
    *os << '"' << j.left << "\" / \"" << j.right << '"';
}

class JoinTest : public testing::TestWithParam<Join> {};

TEST_P(JoinTest, JoinsAsWindowsDoes) {
    const Join& j = GetParam();
    const path left(j.left);
    EXPECT_EQ((left / j.right).string(), j.joined);
    path inPlace(j.left);
    inPlace /= path(j.right);
    EXPECT_EQ(inPlace.string(), j.joined);
    path fromOnePass(j.left);
    fromOnePass /= OnePass<char>(j.right);
    EXPECT_EQ(fromOnePass.string(), j.joined);
    EXPECT_EQ(path(j.left).append(OnePass<char>(j.right)).string(), j.joined);
    EXPECT_EQ(left.string(), j.left) << "operator/ must leave its left side alone";
}

INSTANTIATE_TEST_SUITE_P(Grammar, JoinTest, testing::ValuesIn(kJoins));

struct Normalisation {
    const char* text;
    const char* normal;
};

const Normalisation kNormalisations[] = {
    {"", ""},
    {"X:///", "X:\\"},
    {"//server///share", "\\\\server\\share"},
    {"C:\\a\\.\\b\\.\\.\\c\\.\\.\\.", "C:\\a\\b\\c\\"},
    {".\\", "."},
    {"..\\..\\..\\", "..\\..\\.."},
    {"C:\\a\\b\\c\\d\\e\\..\\f\\..\\..\\..\\g\\h\\..", "C:\\a\\b\\g\\"},
    {"c:\\zor\\..\\zor", "c:\\zor"},
    {"c:\\zor\\..\\zor\\asdf\\", "c:\\zor\\asdf\\"},
    {"c:\\zor\\\\", "c:\\zor\\"},
    {"a/b/../c", "a\\c"},
    {"a/..", "."},
    {"a/../..", ".."},
    {"a\\..\\..\\b", "..\\b"},
    {"..\\a\\..", ".."},
    {"\\..\\a", "\\a"},
    {"c:\\..\\..", "c:\\"},
    {"c:..\\a", "c:..\\a"},
    {"c:.", "c:"},
    {"c:a\\..", "c:"},
    {"./.", "."},
    {"a//b", "a\\b"},
    {"//?/c:/x/../y", "\\\\?\\c:\\y"},
    {"\\\\?\\C:\\a\\..\\..", "\\\\?\\"},
    {"...\\x", "...\\x"},
    // Removing names never makes a root that the path did not have.
    {".\\s:.\\s:", ".\\s:.\\s:"},
    {"a\\..\\c:", ".\\c:"},
    {"\\.\\??\\x", "\\.\\??\\x"},
    {"\\\\\\??\\x", "\\.\\??\\x"},
};

void PrintTo(const Normalisation& n, std::ostream* os) {
    *os << '"' << n.text << '"';
}

class NormalisationTest : public testing::TestWithParam<Normalisation> {};

TEST_P(NormalisationTest, GivesTheNormalForm) {
    const Normalisation& n = GetParam();
    const path normal = path(n.text).lexically_normal();
    EXPECT_EQ(normal.string(), n.normal);
    EXPECT_EQ(normal.lexically_normal().string(), n.normal) << "normal form is a fixed point";
}

INSTANTIATE_TEST_SUITE_P(Grammar, NormalisationTest, testing::ValuesIn(kNormalisations));

struct Relation {
    const char* text;
    const char* base;
    const char* relative;  // proximate is this, or the text itself when this is empty
};

void PrintTo(const Relation& r, std::ostream* os) {
    *os << '"' << r.text << "\" from \"" << r.base << '"';
}

// clang-format off
const Relation kRelations[] = {
    // The standard's own examples, with Windows separators.
    {"\\a\\d",                "\\a\\b\\c",             "..\\..\\d"},
    {"\\a\\b\\c",             "\\a\\d",                "..\\b\\c"},
    {"a\\b\\c",               "a",                     "b\\c"},
    {"a\\b\\c",               "a\\b\\c\\x\\y",         "..\\.."},
    {"a\\b\\c",               "a\\b\\c",               "."},
    {"a\\b",                  "c\\d",                  "..\\..\\a\\b"},
    // Root names must match exactly, and the root directories too.
    {"c:\\a\\d",              "c:\\a\\b\\c",           "..\\..\\d"},
    {"c:\\a",                 "d:\\a",                 ""},
    {"C:\\a",                 "c:\\a",                 ""},
    {"c:a",                   "c:\\a",                 ""},
    {"c:\\a",                 "c:a",                   ""},
    {"c:a\\b",                "c:a",                   "b"},
    {"c:/x/y",                "c:\\x",                 "y"},
    {"\\\\server\\share\\a",  "\\\\server\\share\\b",  "..\\a"},
    {"\\\\server\\share\\a",  "\\\\other\\share\\a",   ""},
    {"//server/share/a",      "\\\\server\\share\\a",  ""},
    // A name that reads as a root name on its own gives no answer, bar the drive right after
    // "\\?\", which belongs to the root as Microsoft's library reads it.
    {"a\\c:b",                "a",                     ""},
    {"\\\\?\\a:\\meow",       "\\\\?\\a:\\meow",       "."},
    {"\\\\?\\a:\\meow\\purr\\nyan", "\\\\?\\a:\\meow",       "purr\\nyan"},
    {"\\\\?\\C:\\x",          "\\\\?\\C:\\y",          "..\\x"},
    {"\\\\?\\a:\\x",          "\\\\?\\b:\\x",          ""},
    {"\\\\?\\a:\\x",          "\\\\?\\x",              ""},
    {"\\\\?\\a:b\\x",         "\\\\?\\a:b",            ""},
    {"\\\\?\\C:\\x\\d:",      "\\\\?\\C:\\x",          ""},
    {"\\\\.\\C:\\x",          "\\\\.\\C:\\y",          ""},
    {"//?/C:/x",              "//?/C:/y",              ""},
    // "." and ".." of the base count as the standard says; nothing is normalised first.
    {"a\\x",                  "a\\.\\b",               "..\\x"},
    {"a\\b",                  "a\\b\\.",               "."},
    {"a\\b",                  "a\\b\\..",              ""},
    {"a\\..\\b",              "a",                     "..\\b"},
    {"a\\b\\",                "a\\b",                  "."},
    {"a\\b",                  "a\\b\\",                "."},
    {"a",                     "",                      "a"},
};
// clang-format on

class RelationTest : public testing::TestWithParam<Relation> {};

TEST_P(RelationTest, MakesThePathRelativeLexically) {
    const Relation& r = GetParam();
    const path text(r.text);
    EXPECT_EQ(text.lexically_relative(path(r.base)).string(), r.relative);
    EXPECT_EQ(text.lexically_proximate(path(r.base)).string(), *r.relative ? r.relative : r.text);
}

INSTANTIATE_TEST_SUITE_P(Grammar, RelationTest, testing::ValuesIn(kRelations));

// Each holds a byte sequence that UTF-8 forbids.
const char* const kNotUtf8[] = {
    "\xff",
    "\x80",
    "abc\xe2\x82",         // cut short
    "\xc0\xaf",            // overlong '/'
    "\xe0\x80\xaf",        // overlong '/'
    "\xed\xa0\x80",        // a surrogate
    "\xf4\x90\x80\x80",    // above U+10FFFF
    "c:\\zor\\\xe9t\xe9",  // Latin-1
};

class ConversionErrorTest : public testing::TestWithParam<const char*> {};

TEST_P(ConversionErrorTest, RejectsWithTheConversionError) {
    try {
        const path p(GetParam());
        FAIL() << "accepted " << p;
    } catch (const winfs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::make_error_code(std::errc::illegal_byte_sequence));
        EXPECT_EQ(std::string(e.what()).rfind("Cannot convert character sequence", 0), 0u)
            << e.what();
    }
    path grown("c:\\");
    EXPECT_THROW(grown += GetParam(), winfs::filesystem_error);
    EXPECT_EQ(grown.string(), "c:\\") << "a failed append leaves the path as it was";
}

INSTANTIATE_TEST_SUITE_P(Conversion, ConversionErrorTest, testing::ValuesIn(kNotUtf8));

TEST(Conversion, KeepsValidUtf8AsGiven) {
    for (const char* text :
         {"c:\\caf\xc3\xa9", "\xe2\x82\xac", "\xf0\x9d\x84\x9e.txt", "\xef\xbf\xbf"}) {
        EXPECT_EQ(path(text).string(), text);
        EXPECT_EQ(path(std::string(text)).string(), text);
        EXPECT_EQ(path(std::string_view(text)).string(), text);
    }
}

// One text in each encoding; the UTF-8 is what the path keeps.
struct Encoding {
    const char* utf8;
    std::u16string_view utf16;
    std::u32string_view utf32;
};

void PrintTo(const Encoding& e, std::ostream* os) {
    *os << '"' << e.utf8 << '"';
}

// clang-format off
const Encoding kEncodings[] = {
    {"",                                   u"",                     U""},
    {"c:\\a/b",                            u"c:\\a/b",              U"c:\\a/b"},
    {"caf\xc3\xa9\\\xe2\x82\xac",            u"caf\u00e9\\\u20ac",      U"caf\u00e9\\\u20ac"},
    {"\xdf\xbf\xe0\xa0\x80",                  u"\u07ff\u0800",           U"\u07ff\u0800"},
    {"\xed\x9f\xbf\xee\x80\x80",              u"\ud7ff\ue000",           U"\ud7ff\ue000"},
    {"\xef\xbf\xbf\xf0\x90\x80\x80",          u"\uffff\U00010000",       U"\uffff\U00010000"},
    {"\xf0\x9d\x84\x9e.txt",                 u"\U0001d11e.txt",         U"\U0001d11e.txt"},
    {"\xf4\x8f\xbf\xbf",                     u"\U0010ffff",             U"\U0010ffff"},
};
// clang-format on

class EncodingTest : public testing::TestWithParam<Encoding> {};

TEST_P(EncodingTest, ConvertsBothWays) {
    const Encoding& e = GetParam();
    const std::wstring wide(e.utf32.begin(), e.utf32.end());
    const std::u8string utf8(e.utf8, e.utf8 + std::strlen(e.utf8));
    const std::u16string utf16(e.utf16);
    const path built[] = {
        path(e.utf16),
        path(utf16),
        path(utf16.c_str()),
        path(e.utf32),
        path(wide),
        path(wide.c_str()),
        path(utf8),
        path(utf8.c_str()),
        path(std::u8string_view(utf8)),
        path(e.utf16.begin(), e.utf16.end()),
        path(e.utf32.begin(), e.utf32.end()),
        path(wide.begin(), wide.end()),
        path(utf8.begin(), utf8.end()),
        path(OnePass<char>(e.utf8)),
        path(OnePass<char8_t>(utf8.c_str())),
        path(OnePass<char16_t>(utf16.c_str())),
    };
    for (const path& p : built)
        EXPECT_EQ(p.string(), e.utf8);
    for (const path& p : fromU8path(e.utf8))
        EXPECT_EQ(p.string(), e.utf8);

    const path p(e.utf8);
    // Compared as wholes: this GoogleTest cannot print these strings.
    EXPECT_TRUE(p.u16string() == e.utf16);
    EXPECT_TRUE(p.u32string() == e.utf32);
    EXPECT_TRUE(p.wstring() == wide);
    const path generic(p.generic_string());
    EXPECT_TRUE(p.generic_u16string() == generic.u16string());
    EXPECT_TRUE(p.generic_u32string() == generic.u32string());
    EXPECT_TRUE(p.generic_wstring() == generic.wstring());
    // The template forms, in each encoding, with the default allocator and with one given.
    EXPECT_EQ(p.string<char>(), e.utf8);
    EXPECT_TRUE(p.string<char8_t>() == utf8);
    EXPECT_TRUE(p.string<char16_t>() == e.utf16);
    EXPECT_TRUE(p.string<char32_t>() == e.utf32);
    EXPECT_TRUE(p.string<wchar_t>() == wide);
    EXPECT_EQ(p.generic_string<char>(), generic.string());
    EXPECT_TRUE(p.generic_string<char8_t>() == generic.u8string());
    EXPECT_TRUE(p.generic_string<char16_t>() == generic.u16string());
    EXPECT_TRUE(p.generic_string<char32_t>() == generic.u32string());
    EXPECT_TRUE(p.generic_string<wchar_t>() == generic.wstring());
    std::pmr::monotonic_buffer_resource arena;
    const std::pmr::polymorphic_allocator<char16_t> from(&arena);
    const std::pmr::u16string held =
        p.string<char16_t, std::char_traits<char16_t>, std::pmr::polymorphic_allocator<char16_t>>(
            from);
    const std::pmr::wstring heldGeneric =
        p.generic_string<wchar_t, std::char_traits<wchar_t>,
                         std::pmr::polymorphic_allocator<wchar_t>>(&arena);
    EXPECT_TRUE(held == e.utf16);
    EXPECT_TRUE(std::wstring_view(heldGeneric) == generic.wstring());
    EXPECT_EQ(held.get_allocator().resource(), &arena);
    EXPECT_EQ(heldGeneric.get_allocator().resource(), &arena);

    path grown("x");
    grown += e.utf16;
    grown.concat(e.utf32);
    grown.concat(wide.begin(), wide.end());
    grown += OnePass<char>(e.utf8);
    grown.concat(OnePass<char>(e.utf8));
    EXPECT_EQ(grown.string(), "x" + std::string(e.utf8) + e.utf8 + e.utf8 + e.utf8 + e.utf8);
    EXPECT_EQ(grown.assign(wide).string(), e.utf8);
    EXPECT_EQ(path("x").assign(e.utf16.begin(), e.utf16.end()).string(), e.utf8);
}

INSTANTIATE_TEST_SUITE_P(Conversion, EncodingTest, testing::ValuesIn(kEncodings));

// Rejected as the path's own text is, and the path that it would change stays as it was.
template <class Text>
void expectRejected(const Text& text) {
    try {
        const path p(text);
        ADD_FAILURE() << "accepted " << p;
    } catch (const winfs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::make_error_code(std::errc::illegal_byte_sequence));
        EXPECT_STREQ(e.what(), "Cannot convert character sequence");
    }
    EXPECT_THROW(path(text.begin(), text.end()), winfs::filesystem_error);
    path kept("c:\\");
    EXPECT_THROW(kept += text, winfs::filesystem_error);
    EXPECT_THROW(kept.assign(text), winfs::filesystem_error);
    EXPECT_EQ(kept.string(), "c:\\");
}

TEST(Conversion, RejectsTextInvalidInItsEncoding) {
    for (const auto& text : {std::u16string(u"a\xd800"),              // high surrogate at the end
                             std::u16string{char16_t{0xd800}, u'b'},  // ...before no low one
                             std::u16string(u"\xdc00\xd800"), std::u16string(u"\xdfff")}) {
        expectRejected(text);
    }
    for (const auto& text :
         {std::u32string(U"\x110000"), std::u32string(U"a\xd800"), std::u32string(U"\xdfff")}) {
        expectRejected(text);
    }
    for (const auto& text :
         {std::wstring(L"\x110000"), std::wstring(L"\xdc00"), std::wstring(1, wchar_t{-1})}) {
        expectRejected(text);
    }
    for (const auto& text : {std::u8string(1, char8_t{0xff}), std::u8string(u8"\xc0\xaf")}) {
        expectRejected(text);
    }
    path kept("c:\\");
    EXPECT_THROW(path(OnePass<char>("a\xff")), winfs::filesystem_error);
    EXPECT_THROW(kept /= OnePass<char>("\xc0\xaf"), winfs::filesystem_error);
    EXPECT_THROW(kept.concat(OnePass<char>("\xff")), winfs::filesystem_error);
    EXPECT_THROW(fromU8path("\xed\xa0\x80"), winfs::filesystem_error);  // a surrogate
    EXPECT_EQ(kept.string(), "c:\\");
}

struct Elements {
    const char* text;
    std::vector<std::string> elements;
};

void PrintTo(const Elements& e, std::ostream* os) {
    *os << '"' << e.text << '"';
}

class IterationTest : public testing::TestWithParam<Elements> {};

TEST_P(IterationTest, WalksTheElementsBothWays) {
    const path p(GetParam().text);
    std::vector<std::string> forward;
    for (const path& element : p)
        forward.push_back(element.string());
    EXPECT_EQ(forward, GetParam().elements);

    std::vector<std::string> backward;
    for (auto it = p.end(); it != p.begin();)
        backward.insert(backward.begin(), (--it)->string());
    EXPECT_EQ(backward, GetParam().elements);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, IterationTest,
    testing::Values(Elements{"", {}}, Elements{"c:", {"c:"}}, Elements{"/", {"/"}},
                    Elements{"c:\\a\\b\\", {"c:", "\\", "a", "b", ""}},
                    Elements{"c:a//b", {"c:", "a", "b"}},
                    Elements{"\\\\server\\share", {"\\\\server", "\\", "share"}},
                    Elements{"\\\\?\\C:\\x", {"\\\\?", "\\", "C:", "x"}},
                    Elements{"a\\\\", {"a", ""}}, Elements{"\\\\\\x", {"\\\\\\", "x"}},
                    Elements{"\\\\server", {"\\\\server"}}, Elements{"c:\\", {"c:", "\\"}},
                    Elements{"\\\\?\\", {"\\\\?", "\\"}}, Elements{"a", {"a"}},
                    Elements{"c:\\\\\\a\\\\b\\\\\\", {"c:", "\\\\\\", "a", "b", ""}},
                    Elements{"..\\.", {"..", "."}}));

struct Ordering {
    const char* left;
    const char* right;
    int sign;
};

void PrintTo(const Ordering& o, std::ostream* os) {
    *os << '"' << o.left << "\" vs \"" << o.right << '"';
}

class CompareTest : public testing::TestWithParam<Ordering> {};

TEST_P(CompareTest, OrdersByElements) {
    const Ordering& o = GetParam();
    const int c = path(o.left).compare(path(o.right));
    EXPECT_EQ((c > 0) - (c < 0), o.sign);
    EXPECT_EQ(path(o.left) == path(o.right), o.sign == 0);
    const int back = path(o.right).compare(path(o.left));
    EXPECT_EQ((back > 0) - (back < 0), -o.sign);
    EXPECT_EQ(path(o.left) <=> path(o.right), o.sign <=> 0);
    if (o.sign == 0) {
        EXPECT_EQ(hash_value(path(o.left)), hash_value(path(o.right)));
        EXPECT_EQ(std::hash<path>{}(path(o.left)), std::hash<path>{}(path(o.right)));
    }
}

// clang-format off
const Ordering kOrderings[] = {
    {"a/b",                "a\\b",      0},
    {"a\\\\b",             "a\\b",      0},
    {"c:\\a",              "c:/a",      0},
    {"\\\\s\\x",           "\\\\s/x",   0},
    {"a",                  "b",         -1},
    {"c:a",                "c:\\a",     -1},
    {"c:\\a",              "d:\\a",     -1},
    {"a",                  "a\\",       -1},
    {"a\\",                "a\\b",      -1},
    {"a\\b",               "a\\c",      -1},
    {"a\\b",               "a-b",       -1},  // a separator before any character
    {"",                   "a",         -1},
    // Root names compare exactly as written, character by character.
    {"C:\\a",              "c:\\a",     -1},
    {"//s/x",              "\\\\s\\x",  -1},
    {"//server\\share",    "C:/a",      -1},
    {"\\\\server\\share",  "C:/a",      1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Grammar, CompareTest, testing::ValuesIn(kOrderings));

// The key by which a listing sorts names before it compares them: where two keys differ, the names
// order as the keys do; equal keys leave it to the comparison. Each name is read from a longer
// text, so that a key must stop at the name's end.
// No unit above ASCII becomes one in ASCII through the uppercase table, which the order keys take
// for granted: each sorts after U+007F.
TEST(Names, NoUnitAboveAsciiFoldsIntoIt) {
    for (char32_t unit = 0x80; unit <= 0xFFFF; ++unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // surrogates are no characters
        std::string name;
        winfs::appendCodePoint(name, unit);
        ASSERT_GT(winfs::compareIgnoringCase(name, "\x7f"), 0) << static_cast<unsigned>(unit);
    }
}

TEST(Names, OrderKeysAgreeWithTheComparison) {
    // clang-format off
    const Ordering rows[] = {
        {"a1",        "A1",         0},
        {"A",         "a1",         -1},
        {"a1",        "a10",        -1},
        {"Z",         "_",          -1},
        {"abcdefg",   "abcdefgh",   -1},
        {"abcdefgh",  "abcdefgi",   -1},
        {"abcdefgz",  "bbcdefga",   -1},  // the first unit first, in the key and in the comparison
        {"abcdefgh",  "ABCDEFGH0",  0},   // the ninth unit is the comparison's
        {"abcdefgh\xc3\xa9", "ABCDEFGH", 0},
        {"abcdefgZ",  "abcdefg\xc3\xa9", -1},  // "é" past every ASCII unit, as the eighth
        {"ab~",       "ab\xc3\xa9",       -1},
        {"ab",        "ab\xc3\xa9",       -1},
        {"ab\xc3\xa9", "ab\xc4\x80",    0},   // "é" and "Ā": the comparison's
        {"\xf0\x90\x90\xa8", "\xc3\xa9", 0},
        {"~",         "\xc3\xa9",         -1},
    };
    // clang-format on
    for (const Ordering& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row));
        const std::string left = std::string(row.left) + "zz";
        const std::string right = std::string(row.right) + "zz";
        const std::string_view a(left.data(), left.size() - 2);
        const std::string_view b(right.data(), right.size() - 2);
        const std::uint64_t x = winfs::orderKeyOf(a);
        const std::uint64_t y = winfs::orderKeyOf(b);
        EXPECT_EQ((x > y) - (x < y), row.sign);
        if (row.sign != 0) {
            const int order = winfs::compareIgnoringCase(a, b);
            EXPECT_EQ((order > 0) - (order < 0), row.sign);
        }
    }
}

// Each long name's short name as a Wine prefix computes it, so that a program under Wine and
// winfs find a file by the same one; empty where the name is its own short name.
TEST(Names, ShortNamesAreThoseOfAWinePrefix) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {"Program Files",        "PROG~FBU"},
        {"Program Files (x86)x", "PROG~L3X"},
        {"long file name.txt",   "LONG~5R1.TXT"},
        {"a.b.c",                "A_B~~54C.C"},
        {".bashrc",              "_BAS~0WR"},
        {"\xc3\xa9t\xc3\xa9.txt", "_T_~~JGT.TXT"},   // "été.txt"
        {"x",                    ""},
        {"PROGRAM FILES",        "PROG~FBU"},       // the hash ignores case
        {"\xc3\x89T\xc3\x89.txt", "_T_~~JGT.TXT"},   // "ÉTÉ.txt", past ASCII too
        {"README.TXT",           ""},
        {"readme.txt",           ""},
        {"ab~1",                 ""},
        {"~x~.~",                ""},
        {".",                    ""},
        {"..",                   ""},
        {"...",                  "_~~~~0CY._"},
        {"abcdefgh",             ""},
        {"abcdefghi",            "ABCD~GDH"},
        {"abcdefgh.txt",         ""},
        {"abcdefghi.tx",         "ABCD~WLL.TX"},
        {"abcdefg.txtx",         "ABCD~ILS.TXT"},
        {"x.html",               "X~~~~NAP.HTM"},
        {"long file name.html",  "LONG~1ZR.HTM"},
        {"ab.cdef",              "AB~~~52F.CDE"},
        {"a.",                   "A_~~~YNZ"},       // a last dot starts no extension
        {"a.b.",                 "A~~~~PBL.B_"},
        {"a.b c",                "A~~~~53R.B_C"},
        {"a b",                  "A_B~~GOE"},
        {"a+b",                  "A_B~~WM4"},
        {"a=b.c",                "A_B~~0HV.C"},
        {"\xf0\x9d\x84\x9ex",       "__X~~C1L"},       // U+1D11E, two units
    };
    // clang-format on
    for (const auto& [name, shortName] : rows) {
        EXPECT_EQ(winfs::shortNameOf(name), shortName) << name;
    }
    for (const char* alias : {"PROG~FBU", "prog~fbu", "LONG~5R1.TXT", "~"}) {
        EXPECT_TRUE(winfs::mayBeShortAlias(alias)) << alias;
    }
    for (const char* name : {"PROGRAM", "PROG~FBU.HTML", "PROG~FB U", "~.bashrc", "A~B.C.D"}) {
        EXPECT_FALSE(winfs::mayBeShortAlias(name)) << name;
    }
}

TEST(Modifiers, EditTheText) {
    struct Row {
        const char* text;
        const char* removedFilename;
        const char* newFilename;
        const char* newExtension;
        const char* noExtension;
    };
    const Row rows[] = {
        {"c:\\a\\b.txt", "c:\\a\\", "c:\\a\\x.md", "c:\\a\\b.md", "c:\\a\\b"},
        {"c:\\", "c:\\", "c:\\x.md", "c:\\.md", "c:\\"},
        {"b.txt:s", "", "x.md", "b.md", "b"},
        {"dir/.hidden", "dir/", "dir/x.md", "dir/.hidden.md", "dir/.hidden"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(path(row.text).remove_filename().string(), row.removedFilename);
        EXPECT_EQ(path(row.text).replace_filename("x.md").string(), row.newFilename);
        EXPECT_EQ(path(row.text).replace_extension("md").string(), row.newExtension);
        EXPECT_EQ(path(row.text).replace_extension(".md").string(), row.newExtension);
        EXPECT_EQ(path(row.text).replace_extension().string(), row.noExtension);
    }
    EXPECT_EQ(path("a/b\\c").make_preferred().string(), "a\\b\\c");
    EXPECT_EQ(path("a/b\\c").generic_string(), "a/b/c");
    path grown("c:\\zor");
    grown += "-hack";
    EXPECT_EQ(grown.string(), "c:\\zor-hack");
    EXPECT_EQ(grown.concat(std::string("\\x")).string(), "c:\\zor-hack\\x");
    EXPECT_EQ(grown.append("d:y").string(), "d:y");
    EXPECT_EQ(grown.assign("c:").append("z").string(), "c:z");
    const std::string names = "a/b";
    EXPECT_EQ(path(names.begin(), names.end()).append(names.begin(), names.end()).string(),
              "a/b\\a/b");
    // Any input iterator over char, not only a pointer.
    const std::list<char> listed{'c', ':'};
    std::istringstream read("x\\y");
    path fromIterators;
    fromIterators.append(listed.begin(), listed.end());
    fromIterators.concat(std::istreambuf_iterator<char>(read), std::istreambuf_iterator<char>());
    fromIterators.append(listed.rbegin(), listed.rend());
    EXPECT_EQ(fromIterators.string(), "c:x\\y\\:c");
    // Compared as a whole: this GoogleTest cannot print a std::u8string.
    EXPECT_TRUE(path("c:\\caf\xc3\xa9/x").generic_u8string() == u8"c:/caf\u00e9/x");
    EXPECT_THROW(grown.assign(std::string_view("\xff")), winfs::filesystem_error);
    EXPECT_EQ(grown.string(), "c:z") << "a failed assign leaves the path as it was";
    path other("d:\\");
    winfs::swap(grown, other);  // at namespace scope, as the standard declares it
    EXPECT_EQ(grown.string() + other.string(), "d:\\c:z");

    path converted = u"c:\\";
    converted += u'\u0141';  // one character, not narrowed to char's 'A'
    converted += U'\U0001d11e';
    converted /= L"x";
    converted.append(u8"y");
    EXPECT_EQ(converted.string(), "c:\\\xc5\x81\xf0\x9d\x84\x9e\\x\\y");
    EXPECT_THROW(converted += u'\xd800', winfs::filesystem_error);
    EXPECT_TRUE(converted == U"c:/\u0141\U0001d11e/x/y");
}

TEST(NoexceptQueries, DoNotAllocate) {
    // Longer than any short-string buffer, so that a copy of any part of it would allocate.
    const path p("\\\\a-server-with-a-long-name\\share\\folder-with-a-long-name\\file.tar.gz");
    const path q("//a-server-with-a-long-name/share/folder-with-a-long-name/file.tar.gz");
    const std::size_t before = allocations;
    const bool all = p.has_root_name() && p.has_root_directory() && p.has_root_path() &&
                     p.has_relative_path() && p.has_parent_path() && p.has_filename() &&
                     p.has_stem() && p.has_extension() && p.is_absolute() && !p.empty();
    const int order = p.compare(q);
    const bool less = p < q;
    const std::size_t hashes = hash_value(p) ^ hash_value(q);
    EXPECT_EQ(allocations, before);
    EXPECT_TRUE(all);
    EXPECT_EQ(order, 1);
    EXPECT_FALSE(less);
    EXPECT_NE(hashes, 0u);
}

TEST(QuotedOutput, EscapesQuotesAndBackslashes) {
    const std::pair<const char*, const char*> rows[] = {
        {"c:\\", "\"c:\\\\\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"c:\\zor\\..\\zor", "\"c:\\\\zor\\\\..\\\\zor\""},
    };
    for (const auto& [text, quoted] : rows) {
        std::ostringstream os;
        os << path(text);
        EXPECT_EQ(os.str(), quoted);
        std::istringstream is(os.str());
        path back("x");
        is >> back;
        EXPECT_EQ(back.string(), text) << "reads back what it wrote";
    }
}

TEST(QuotedInput, ReadsQuotedTextOrOneWord) {
    struct Row {
        const char* input;
        const char* text;
        const char* rest;  // what the next read finds
    };
    const Row rows[] = {
        {"  c:\\zor\\x y", "c:\\zor\\x", "y"},  // a bare word keeps its backslashes
        {"\"c:\\\\\" tail", "c:\\", "tail"},    // quoted, the escapes undone
        {"\"a b\"c d", "a b", "c"},             // the closing quote ends it, space or not
        {"\"c:\\zor\"", "c:zor", ""},           // '\' escapes any character, as std::quoted
        {"\"caf\xc3\xa9\"", "caf\xc3\xa9", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        std::istringstream is(row.input);
        path p;
        std::string rest;
        EXPECT_TRUE(is >> p);
        EXPECT_EQ(p.string(), row.text);
        is >> rest;
        EXPECT_EQ(rest, row.rest);
    }
    std::istringstream empty("   ");
    path p("c:\\");
    EXPECT_FALSE(empty >> p);
    EXPECT_TRUE(p.empty()) << "a failed read leaves an empty path, as the standard has it";
    std::istringstream latin1("\"caf\xe9\"");
    p = "c:\\";
    EXPECT_THROW(latin1 >> p, winfs::filesystem_error);
    EXPECT_EQ(p.string(), "c:\\");
}

}  // namespace
