// What the tables of the winfs operations share: the tree of buildTree() with C:\zor as the working
// directory, the check of a row's error, and the fixtures of the changing and listing tables.
#pragma once

#include <gtest/gtest.h>
#include <linux/capability.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

#include "drive_fixture.h"
#include "pathprobe/winfs/filesystem.h"

// A row's error: a Windows code, or the conversion error of a name that is not UTF-8.
constexpr int kNoError = 0;
constexpr int kNotUtf8 = -1;

void expectError(const std::error_code& ec, int expected);

// The throwing form fails with the same code, naming the input.
template <class Operation>
void expectThrows(Operation operation, const std::string& input, int expected) {
    try {
        operation(winfs::path(input));
        ADD_FAILURE() << "no exception for " << input;
    } catch (const winfs::filesystem_error& e) {
        expectError(e.code(), expected);
        EXPECT_EQ(e.path1().string(), input);
        if (expected == kNotUtf8) {
            EXPECT_NE(std::string(e.what()).find(": Cannot convert character sequence ["),
                      std::string::npos)
                << e.what();
        }
    }
}

struct Mapping {
    const char* input;
    const char* expected;  // '@' stands for the temporary folder through z:
    int error;
};

void PrintTo(const Mapping& m, std::ostream* os);

// The tree of buildTree(), with C:\zor as the working directory.
class OperationsTest : public DriveFixture {
  protected:
    void SetUp() override;
};

// A bare prefix, for the operations on the working directory and the scratch folders.
class ScratchOperations : public DriveFixture {};

template <class Row>
class TreeTest : public OperationsTest, public testing::WithParamInterface<Row> {};

// The operations that change the disk and those that read sizes, times and identity, on the tree
// of buildTree() with three more files: data.txt ("hello"), old.txt (last written at 1e9 s after
// 1970) and the fifo pipe. Written as `fs::NAME`, as Windows code would call them.
namespace fs = winfs;

// The MAX_PATH limit of a Windows without long paths, for one scope.
class LegacyPaths {
  public:
    LegacyPaths() : was_(winfs::long_paths()) { winfs::set_long_paths(false); }
    ~LegacyPaths() { winfs::set_long_paths(was_); }
    LegacyPaths(const LegacyPaths&) = delete;
    LegacyPaths& operator=(const LegacyPaths&) = delete;

  private:
    bool was_;
};

// "c:\zor\", 200 a, '\' and as many b as make a path of `length` (209 or more) characters.
inline std::string deepPath(std::size_t length) {
    return "c:\\zor\\" + std::string(200, 'a') + "\\" + std::string(length - 208, 'b');
}

// A row's operation, given the temporary folder as seen through z:.
using Run = std::uintmax_t (*)(const std::string& tempOnZ, std::error_code& ec);

constexpr std::uintmax_t kFailed = static_cast<std::uintmax_t>(-1);
constexpr std::uintmax_t kReadOnly = 0555;

class ChangeTest : public OperationsTest {
  protected:
    void SetUp() override;

    // Each word of `afterwards`, below drive C: "+p" is there in that case, "-p" is not, "p:N"
    // holds N bytes, "p#M" has the host mode M (octal).
    void expectState(const std::string& afterwards) const;

    // Runs a row of a table of changes (its `run` on drive Z:'s view of the temporary folder) and
    // checks its code, its result and what it left on disk.
    template <class Row>
    void expectRow(const Row& row) {
        std::error_code ec;
        const std::uintmax_t result = row.run(throughZ(temp()), ec);
        if (row.error == kNoError) {
            EXPECT_FALSE(ec) << ec.message();
        } else {
            expectError(ec, row.error);
        }
        EXPECT_EQ(result, row.result);
        expectState(row.afterwards);
    }
};

// The record of DOS attributes that Wine and Samba keep on a folder, "user.DOSATTRIB", of a host
// path: set to `value` (a NUL may be among its bytes), and read back, "(none)" where there is none.
void setDosRecord(const std::string& host, const std::string& value);
std::string dosRecord(const std::string& host);

// Hexadecimal digits as the bytes they spell: "30780a" is "0x\n".
std::string bytesOf(std::string_view hex);

// Records as Samba 4.17's own code writes them for a folder, in hexadecimal: 0x10 is a folder,
// 0x11 a read-only one. Version 3: the text, a NUL, the binary part (the version twice; which
// fields are valid, 0x11: the attributes and the creation time; the attributes; sizes; two times).
// Version 5: an empty text, the same valid fields, the attributes and the creation time; read-only
// alone (0x1), or holding 0x31 but vouching for the creation time alone (0x10). Version 2 (its
// flags, the attributes, sizes, times, then a name), 3,005 bytes with a name of 2,940.
inline constexpr const char* kSamba3Folder =
    "307831300000030003000000"                  // "0x10", NUL, version 3 twice, padding
    "1100000010000000"                          // the valid fields, the attributes
    "0000000000000000000000000000000000000000"  // sizes
    "ab9078563412da01cd9078563412da01";         // times
inline constexpr const char* kSamba3ReadOnly =
    "307831310000030003000000"
    "1100000011000000"
    "0000000000000000000000000000000000000000"
    "ab9078563412da01cd9078563412da01";
inline constexpr const char* kSamba5Folder = "00000500050000001100000010000000ab9078563412da01";
inline constexpr const char* kSamba5ReadOnly = "00000500050000001100000011000000ab9078563412da01";
inline constexpr const char* kSamba5ReadOnlyAlone =
    "00000500050000001100000001000000ab9078563412da01";
inline constexpr const char* kSamba5Unvouched = "00000500050000001000000031000000ab9078563412da01";
inline std::string samba2(bool readOnly) {
    return bytesOf(readOnly ? "30783131000002000200000000000000110000000000000000000000000000000000"
                              "000000000000ab9078563412da01cd9078563412da010000000000000000"
                            : "30783130000002000200000000000000100000000000000000000000000000000000"
                              "000000000000ab9078563412da01cd9078563412da010000000000000000") +
           std::string(2940, 'x') + std::string(1, '\0');
}

// Where a row names a folder to deny, the folder loses every permission bit and the thread the
// capabilities that pass them by, so that a listing as root is refused as another user's is.
class PermissionsApply {
  public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool held_ = false;
};
