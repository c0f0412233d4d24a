// directory_iterator and recursive_directory_iterator on the tree of buildTree(): order, types,
// options, failures, and the descent's pop() and disable_recursion_pending().
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "pathprobe/winfs/filesystem.h"
#include "tree_fixture.h"

using winfs::path;
using namespace std::string_view_literals;

namespace {

// Listings, on the tree of buildTree() with two more folders:
//   order\ holding names that show NTFS's index order, and "q?", which Windows cannot write;
//   rec\{a.txt, B\c\{f, up -> ../..}, B\d\, lnk -> B/c, x\y}, for descents;
//   deep\d\{d\d\...\f, e\f}, 65 folders d deep: deeper than the folders a descent keeps open;
//   via\l -> ..\deep, a link above as many folders.
// An entry is written as its name, then '/' for a folder and '@' for a link, as the entry tells.
template <class Row>
class ListingTest : public TreeTest<Row> {
  protected:
    void SetUp() override {
        TreeTest<Row>::SetUp();
        this->makeFolder(this->driveC("order"));
        for (const char* name :
             {"~t", "_x", "Z", "z", "b", "a1", "A", "\xc3\xa9", "\xc4\x80", "\xc3\xbf", "\xc5\xbf",
              "\xf0\x90\x90\xa8", "\xee\x80\x80", "\xef\xbd\x81", "q?"}) {
            this->makeFile(this->driveC("order/") + name);
        }
        this->makeFolder(this->driveC("rec/B/c"));
        this->makeFolder(this->driveC("rec/B/d"));
        this->makeFolder(this->driveC("rec/x"));
        for (const char* file : {"rec/a.txt", "rec/B/c/f", "rec/x/y"})
            this->makeFile(this->driveC(file));
        this->hostLink("../..", this->driveC("rec/B/c/up"));
        std::string deep = this->driveC("deep");
        for (int k = 0; k < 65; ++k)
            deep += "/d";
        this->makeFolder(deep);
        this->makeFile(deep + "/f");
        this->makeFolder(this->driveC("deep/d/e"));
        this->makeFile(this->driveC("deep/d/e/f"));
        this->hostLink("B/c", this->driveC("rec/lnk"));
        this->makeFolder(this->driveC("via"));
        this->hostLink("../deep", this->driveC("via/l"));
    }
    void TearDown() override {
        ::chmod(this->driveC("rec/x").c_str(), 0755);
        TreeTest<Row>::TearDown();
    }
    // Takes every permission from `folder` (below drive C) for as long as `apply` lives.
    std::optional<PermissionsApply> deny(const char* folder) {
        if (folder == nullptr) return std::nullopt;
        EXPECT_EQ(::chmod(this->driveC(folder).c_str(), 0), 0);
        return std::make_optional<PermissionsApply>();
    }
};

std::string shown(const fs::directory_entry& entry) {
    return entry.path().filename().string() + (entry.is_symlink()     ? "@"
                                               : entry.is_directory() ? "/"
                                                                      : "");
}

struct Listed {
    std::string_view folder;
    fs::directory_options options;
    const char* deny;      // a folder below drive C that may not be read, or none
    const char* expected;  // the entries, space separated
    const char* first;     // the first entry's path, when there is one to check
    int error;
};

void PrintTo(const Listed& l, std::ostream* os) {
    *os << '"' << l.folder << '"';
}

constexpr auto kNoOptions = fs::directory_options::none;
constexpr auto kSkip = fs::directory_options::skip_permission_denied;
constexpr auto kFollow = fs::directory_options::follow_directory_symlink;

// clang-format off
const Listed kListings[] = {
    {"c:\\zor", kNoOptions, nullptr, "a/ abs@ absdots@ badabs@ badrel@ bsl@ dangling@ file.txt hop@ lexi@ loop1@ loop2@ Mixed/ mIXED/ nul/ out@ rel@ store/ sub/ tonul@ upper@ \xc3\x89t\xc3\xa9/", "c:\\zor\\a", 0},
    // Each unit through the table ("ÿ" is U+0178, after "Ā"; "ſ" stays), then unit by unit: U+10428
    // is two surrogates, before U+E000 and "ａ" (U+FF21). "Z" and "z" side by side in byte order.
    {"c:\\order\\", kNoOptions, nullptr, "A a1 b Z z _x ~t \xc3\xa9 \xc4\x80 \xc3\xbf \xc5\xbf \xf0\x90\x90\xa8 \xee\x80\x80 \xef\xbd\x81", "c:\\order\\A", 0},
    {"C:\\ZOR\\STORE", kNoOptions, nullptr, "inner/", "C:\\ZOR\\STORE\\inner", 0},
    {"c:\\zor\\store\\..\\rel", kNoOptions, nullptr, "inner/", "c:\\zor\\store\\..\\rel\\inner", 0},
    {"store", kNoOptions, nullptr, "inner/", "store\\inner", 0},
    {"c:\\", kNoOptions, nullptr, "chain/ deep/ order/ outside/ rec/ up@ via/ zor/", "c:\\chain", 0},
    {"c:\\zor\\store\\inner", kNoOptions, nullptr, "", nullptr, 0},
    {"c:\\zor\\none", kNoOptions, nullptr, "", nullptr, 3},
    {"c:\\none\\x", kNoOptions, nullptr, "", nullptr, 3},
    {"c:\\zor\\dangling", kNoOptions, nullptr, "", nullptr, 3},
    {"c:\\zor\\file.txt", kNoOptions, nullptr, "", nullptr, 267},
    {"c:\\zor\\loop1", kNoOptions, nullptr, "", nullptr, 1921},
    {"c:\\zor\\nul", kNoOptions, nullptr, "", nullptr, 50},
    {"", kNoOptions, nullptr, "", nullptr, 2},
    {".\0"sv, kNoOptions, nullptr, "", nullptr, 2},  // cut short at the null: no folder
    {"c:\\rec\\x", kNoOptions, "rec/x", "", nullptr, 5},
    {"c:\\rec\\x", kSkip, "rec/x", "", nullptr, 0},
};
// clang-format on

class Listings : public ListingTest<Listed> {};

TEST_P(Listings, ComeInIndexOrderWithTheirTypes) {
    const Listed& row = GetParam();
    const auto denied = deny(row.deny);
    std::error_code ec;
    std::string got;
    fs::directory_iterator it(path(row.folder), row.options, ec);
    if (it != fs::directory_iterator() && row.first != nullptr) {
        EXPECT_EQ(it->path().string(), row.first);
        std::ostringstream entry, itsPath;
        entry << *it;
        itsPath << it->path();
        EXPECT_EQ(entry.str(), itsPath.str()) << "an entry is written as its path";
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        got.append(got.empty() ? "" : " ").append(shown(*it));
    EXPECT_EQ(got, row.expected);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
        expectThrows(
            [&](const path& p) {
                const fs::directory_iterator opened{p, row.options};
            },
            std::string(row.folder), row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Listings, testing::ValuesIn(kListings));

struct Descended {
    std::string_view folder;
    fs::directory_options options;
    const char* deny;
    const char* at;  // the entry where `act` is done
    // 'p': pop(); 'd': disable_recursion_pending(); 'D': both, in that order; 'r', 'b' and 'e':
    // rec, rec\B or deep\d moved away and a host link to a copy outside the prefix put in its
    // place, with OUTSIDE.txt in every folder; 'n': deep\d moved away and another d\e\f made in
    // its place; 'm': rec\B renamed, and the entry's size, time and status read
    char act;
    const char* expected;  // "depth:entry", space separated
    int error;
};

void PrintTo(const Descended& d, std::ostream* os) {
    *os << '"' << d.folder << "\" " << static_cast<unsigned>(d.options) << ' '
        << (d.at != nullptr ? d.at : "") << d.act;
}

// clang-format off
const Descended kDescents[] = {
    {"c:\\rec", kNoOptions, nullptr, nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    // Links entered; up leads back to c:\rec, which the descent is inside: given, not entered.
    {"c:\\rec", kFollow, nullptr, nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 1:f 1:up@ 0:x/ 1:y", 0},
    // A link to a file, or one that resolves to nothing (a loop, a name Windows cannot spell), is
    // an entry like any other.
    {"c:\\zor", kFollow, nullptr, nullptr, 0, "0:a/ 1:b/ 2:f 0:abs@ 1:inner/ 0:absdots@ 1:secret "
     "0:badabs@ 0:badrel@ 0:bsl@ 0:dangling@ 0:file.txt 0:hop@ 0:lexi@ 0:loop1@ 0:loop2@ 0:Mixed/ "
     "0:mIXED/ 0:nul/ 0:out@ 0:rel@ 1:inner/ 0:store/ 1:inner/ 0:sub/ 1:up@ 2:inner/ 0:tonul@ "
     "0:upper@ 1:inner/ 0:\xc3\x89t\xc3\xa9/", 0},
    {"c:\\REC\\lnk", kNoOptions, nullptr, nullptr, 0, "0:f 0:up@", 0},
    {"c:\\rec", kNoOptions, nullptr, "c", 'p', "0:a.txt 0:B/ 1:c/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, nullptr, "f", 'p', "0:a.txt 0:B/ 1:c/ 2:f 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, nullptr, "a.txt", 'p', "0:a.txt", 0},
    {"c:\\rec", kNoOptions, nullptr, "B", 'd', "0:a.txt 0:B/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kFollow, nullptr, "c", 'D', "0:a.txt 0:B/ 1:c/ 0:lnk@ 1:f 1:up@ 0:x/ 1:y", 0},
    {"c:\\rec", kFollow, nullptr, "lnk", 'd', "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, "rec/x", nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/", 5},
    {"c:\\rec", kSkip, "rec/x", nullptr, 0, "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/", 0},
    {"c:\\rec\\x", kSkip, "rec/x", nullptr, 0, "", 0},
    {"c:\\rec\\none\\x", kNoOptions, nullptr, nullptr, 0, "", 3},
    {"c:\\rec\\a.txt", kNoOptions, nullptr, nullptr, 0, "", 267},
    {"", kNoOptions, nullptr, nullptr, 0, "", 2},
    {".\0"sv, kNoOptions, nullptr, nullptr, 0, "", 2},
    // deep\d is closed and opened again by name when e is entered.
    {"c:\\deep", kNoOptions, nullptr, nullptr, 0,
     "0:d/ 1:d/ 2:d/ 3:d/ 4:d/ 5:d/ 6:d/ 7:d/ 8:d/ 9:d/ 10:d/ 11:d/ 12:d/ "
     "13:d/ 14:d/ 15:d/ 16:d/ 17:d/ 18:d/ 19:d/ 20:d/ 21:d/ 22:d/ 23:d/ "
     "24:d/ 25:d/ 26:d/ 27:d/ 28:d/ 29:d/ 30:d/ 31:d/ 32:d/ 33:d/ 34:d/ "
     "35:d/ 36:d/ 37:d/ 38:d/ 39:d/ 40:d/ 41:d/ 42:d/ 43:d/ 44:d/ 45:d/ "
     "46:d/ 47:d/ 48:d/ 49:d/ 50:d/ 51:d/ 52:d/ 53:d/ 54:d/ 55:d/ 56:d/ "
     "57:d/ 58:d/ 59:d/ 60:d/ 61:d/ 62:d/ 63:d/ 64:d/ 65:f 1:e/ 2:f", 0},
    // deep\d is open no longer when e is entered: opened again by name, the link is no folder.
    {"c:\\deep", kNoOptions, nullptr, "f", 'e',
     "0:d/ 1:d/ 2:d/ 3:d/ 4:d/ 5:d/ 6:d/ 7:d/ 8:d/ 9:d/ 10:d/ 11:d/ 12:d/ "
     "13:d/ 14:d/ 15:d/ 16:d/ 17:d/ 18:d/ 19:d/ 20:d/ 21:d/ 22:d/ 23:d/ "
     "24:d/ 25:d/ 26:d/ 27:d/ 28:d/ 29:d/ 30:d/ 31:d/ 32:d/ 33:d/ 34:d/ "
     "35:d/ 36:d/ 37:d/ 38:d/ 39:d/ 40:d/ 41:d/ 42:d/ 43:d/ 44:d/ 45:d/ "
     "46:d/ 47:d/ 48:d/ 49:d/ 50:d/ 51:d/ 52:d/ 53:d/ 54:d/ 55:d/ 56:d/ "
     "57:d/ 58:d/ 59:d/ 60:d/ 61:d/ 62:d/ 63:d/ 64:d/ 65:f 1:e/", 3},
    // deep\d is another folder when e is entered: the one listed is gone.
    {"c:\\deep", kNoOptions, nullptr, "f", 'n',
     "0:d/ 1:d/ 2:d/ 3:d/ 4:d/ 5:d/ 6:d/ 7:d/ 8:d/ 9:d/ 10:d/ 11:d/ 12:d/ 13:d/ 14:d/ 15:d/ 16:d/ 17:d/ 18:d/ 19:d/ 20:d/ 21:d/ 22:d/ 23:d/ 24:d/ 25:d/ 26:d/ 27:d/ 28:d/ 29:d/ 30:d/ 31:d/ 32:d/ 33:d/ 34:d/ 35:d/ 36:d/ 37:d/ 38:d/ 39:d/ 40:d/ 41:d/ 42:d/ 43:d/ 44:d/ 45:d/ 46:d/ 47:d/ 48:d/ 49:d/ 50:d/ 51:d/ 52:d/ 53:d/ 54:d/ 55:d/ 56:d/ 57:d/ 58:d/ 59:d/ 60:d/ 61:d/ 62:d/ 63:d/ 64:d/ 65:f 1:e/", 3},
    // The link's level is kept open when the folders below it are closed: deep\d is opened
    // again from it, not by the link's name.
    {"c:\\via", kFollow, nullptr, nullptr, 0,
     "0:l@ 1:d/ 2:d/ 3:d/ 4:d/ 5:d/ 6:d/ 7:d/ 8:d/ 9:d/ 10:d/ 11:d/ 12:d/ 13:d/ 14:d/ 15:d/ 16:d/ 17:d/ 18:d/ 19:d/ 20:d/ 21:d/ 22:d/ 23:d/ 24:d/ 25:d/ 26:d/ 27:d/ 28:d/ 29:d/ 30:d/ 31:d/ 32:d/ 33:d/ 34:d/ 35:d/ 36:d/ 37:d/ 38:d/ 39:d/ 40:d/ 41:d/ 42:d/ 43:d/ 44:d/ 45:d/ 46:d/ 47:d/ 48:d/ 49:d/ 50:d/ 51:d/ 52:d/ 53:d/ 54:d/ 55:d/ 56:d/ 57:d/ 58:d/ 59:d/ 60:d/ 61:d/ 62:d/ 63:d/ 64:d/ 65:d/ 66:f 2:e/ 3:f", 0},
    // Its entries answer from the folder held, under whatever name it has now.
    {"c:\\rec", kNoOptions, nullptr, "f", 'm', "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    // The folders that the descent is in are listed still, and nothing through the link.
    {"c:\\rec", kNoOptions, nullptr, "c", 'r', "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    {"c:\\rec", kNoOptions, nullptr, "c", 'b', "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 0:x/ 1:y", 0},
    // lnk -> B/c is then a link that the walk follows outside, as Windows would.
    {"c:\\rec", kFollow, nullptr, "up", 'b', "0:a.txt 0:B/ 1:c/ 2:f 2:up@ 1:d/ 0:lnk@ 1:f 1:OUTSIDE.txt 0:x/ 1:y", 0},
};
// clang-format on

class Descents : public ListingTest<Descended> {
  protected:
    // Moves `folder` (below drive C) away and puts a link to a copy of rec outside the prefix in
    // its place: `within` of the copy.
    void swapForOutside(const char* folder, const char* within) {
        for (const char* name : {"", "/B", "/B/c", "/B/d", "/B/e", "/x"}) {
            makeFolder(temp("far") + name);
            makeFile(temp("far") + name + "/OUTSIDE.txt");
        }
        makeFile(temp("far/B/c/f"));
        const std::string moved = driveC(folder) + ".moved";
        ASSERT_EQ(std::rename(driveC(folder).c_str(), moved.c_str()), 0);
        hostLink(temp("far") + within, driveC(folder));
    }
    // The entries of the copy outside, which must stay as they were.
    std::size_t outsideEntries() const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(temp("far"))) {
            count += entry.path().filename() == "OUTSIDE.txt" ? 1 : 0;
        }
        return count;
    }
};

TEST_P(Descents, EnterFoldersDepthFirst) {
    const Descended& row = GetParam();
    const auto denied = deny(row.deny);
    std::error_code ec;
    std::string got;
    fs::recursive_directory_iterator it(path(row.folder), row.options, ec);
    while (!ec && it != fs::recursive_directory_iterator()) {
        EXPECT_EQ(it.options(), row.options);
        got.append(got.empty() ? "" : " ").append(std::to_string(it.depth()) + ":" + shown(*it));
        if (row.at != nullptr && it->path().filename() == path(row.at)) {
            if (row.act == 'p' || row.act == 'D') {
                if (row.act == 'D') it.disable_recursion_pending();
                it.pop(ec);
                continue;
            }
            if (row.act == 'd') {
                it.disable_recursion_pending();
                EXPECT_FALSE(it.recursion_pending());
            } else if (row.act == 'm') {
                ASSERT_EQ(std::rename(driveC("rec/B").c_str(), driveC("rec/B2").c_str()), 0);
                ::truncate(driveC("rec/B2/c/f").c_str(), 3);
                std::error_code asked;
                EXPECT_EQ(it->file_size(asked), 3U) << asked.message();
                EXPECT_NE(it->last_write_time(asked), fs::file_time_type::min()) << asked.message();
                EXPECT_TRUE(it->is_regular_file(asked)) << asked.message();
            } else if (row.act == 'n') {
                ASSERT_EQ(std::rename(driveC("deep/d").c_str(), driveC("deep/d.moved").c_str()), 0);
                makeFolder(driveC("deep/d/e"));
                makeFile(driveC("deep/d/e/f"));
            } else {
                swapForOutside(row.act == 'r'   ? "rec"
                               : row.act == 'b' ? "rec/B"
                                                : "deep/d",
                               row.act == 'r' ? "" : "/B");
            }
        }
        it.increment(ec);
    }
    EXPECT_EQ(got, row.expected);
    if (row.error == kNoError) {
        EXPECT_FALSE(ec) << ec.message();
    } else {
        expectError(ec, row.error);
    }
    // A step that fails names the entry it could not enter, not the folder that holds it.
    if (row.error != kNoError && row.act == 0 && !got.empty()) {
        path last;
        try {
            for (fs::recursive_directory_iterator all(path(row.folder), row.options);
                 all != fs::recursive_directory_iterator(); ++all)
                last = all->path();
            ADD_FAILURE() << "no step failed";
        } catch (const fs::filesystem_error& e) {
            EXPECT_EQ(e.path1(), last);
        }
    }
    if (row.act == 'r' || row.act == 'b' || row.act == 'e') {
        EXPECT_EQ(outsideEntries(), 6U);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, Descents, testing::ValuesIn(kDescents));

}  // namespace
