#include "tree_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

void expectError(const std::error_code& ec, int expected) {
    if (expected == kNotUtf8) {
        EXPECT_EQ(ec, std::errc::illegal_byte_sequence) << ec.message();
    } else {
        EXPECT_EQ(ec, std::error_code(expected, winfs::system_category())) << ec.message();
    }
}

void PrintTo(const Mapping& m, std::ostream* os) {
    *os << '"' << m.input << '"';
}

void OperationsTest::SetUp() {
    DriveFixture::SetUp();
    buildTree();
    changeDirectory(driveC("zor"));
}

void ChangeTest::SetUp() {
    OperationsTest::SetUp();
    const std::string data = driveC("zor/data.txt");
    std::FILE* file = std::fopen(data.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("hello", file);
    std::fclose(file);
    makeFile(driveC("zor/old.txt"));
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, driveC("zor/old.txt").c_str(), times, 0), 0);
    ASSERT_EQ(::mkfifo(driveC("zor/pipe").c_str(), 0644), 0);
    ::chmod(driveC("zor/file.txt").c_str(), 0644);
    ::chmod(driveC("zor/store").c_str(), 0755);
}

void ChangeTest::expectState(const std::string& afterwards) const {
    std::istringstream words(afterwards);
    for (std::string word; words >> word;) {
        struct stat st {};
        const std::size_t mark = word.find_first_of(":#");
        const char kind = word[0] == '+' || word[0] == '-' ? word[0] : word[mark];
        const std::string below =
            kind == '+' || kind == '-' ? word.substr(1) : word.substr(0, mark);
        const bool there = ::lstat(driveC(below).c_str(), &st) == 0;
        EXPECT_EQ(there, kind != '-') << word;
        if (kind == ':') {
            EXPECT_EQ(std::to_string(st.st_size), word.substr(mark + 1)) << word;
        }
        if (kind == '#') {
            EXPECT_EQ(std::to_string(st.st_mode & 0777),
                      std::to_string(std::stoi(word.substr(mark + 1), nullptr, 8)))
                << word;
        }
    }
}

void setDosRecord(const std::string& host, const std::string& value) {
    ASSERT_EQ(::setxattr(host.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0), 0) << host;
}

std::string dosRecord(const std::string& host) {
    std::string value(65536, '\0');
    const ssize_t size = ::getxattr(host.c_str(), "user.DOSATTRIB", value.data(), value.size());
    if (size < 0) return "(none)";
    value.resize(static_cast<std::size_t>(size));
    return value;
}

std::string bytesOf(std::string_view hex) {
    std::string bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16));
    return bytes;
}

PermissionsApply::PermissionsApply() {
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
    held_ = ::syscall(SYS_capset, &header_, lowered) == 0;
}

PermissionsApply::~PermissionsApply() {
    if (held_) ::syscall(SYS_capset, &header_, saved_);
}
