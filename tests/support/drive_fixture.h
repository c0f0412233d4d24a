// A fresh Wine-style prefix in a temporary folder, made the process's drive map for one test, with
// real folders, files and symbolic links in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Without a dosdevices folder (the default), c: is <temp>/prefix/drive_c and z: is /, so the
// temporary folder itself is reached through z:. Everything is removed afterwards, and WINEPREFIX
// and the working directory are put back as they were.
class DriveFixture : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Host paths: the temporary folder, the prefix, drive C's folder, and paths below them.
    std::string temp(const std::string& below = {}) const;
    std::string prefix() const { return temp("prefix"); }
    std::string driveC(const std::string& below = {}) const;
    // The host path as seen through z: ("Z:\tmp\x" for "/tmp/x").
    static std::string throughZ(const std::string& host);
    // `text` with each '@' replaced by the temporary folder as seen through z:.
    std::string expand(const std::string& text) const;

    static void makeFolder(const std::string& host);  // with its parents
    static void makeFile(const std::string& host);
    static void hostLink(const std::string& target, const std::string& link);
    // "l7" for ("l", 7). Appended rather than "l" + std::to_string(7), whose inlined insert at the
    // front GCC 12 takes for an overlapping copy (-Wrestrict) in a Release build.
    static std::string numbered(std::string stem, int n) { return stem.append(std::to_string(n)); }
    static void changeDirectory(const std::string& host);
    // Makes <prefix>/dosdevices holding the links (name, target), then reads the map again.
    void useDosdevices(const std::vector<std::pair<std::string, std::string>>& links);

    // Under drive C: zor\{store\inner, Mixed, mIXED, sub, Été, file.txt, "\xff\xfe"} and links:
    //   rel -> store          sub\up -> ../store      abs -> <drive C>/zor/store (host path)
    //   loop1 <-> loop2       dangling -> nothere     hop -> store/inner
    //   lexi -> hop/../file.txt                       out -> <temp>/outside
    //   upper -> STORE (store in another case)
    //   badrel -> "\xff\xfe"  badabs -> <drive C>/zor/"\xff\xfe"
    // and chain\l0 -> l1 -> ... -> l63 -> end: 64 links from l0, 63 from l1;
    //   zor\absdots -> <drive C>/../outside, <prefix>/outside as the host takes it, and
    //   up -> ../outside, C:\outside, since ".." stops at the drive's root; zor\bsl -> "a\b", a
    //   host name with a backslash, beside zor\a\b; zor\tonul -> nul, a folder: a name in a link's
    //   target, never a device.
    void buildTree();

  private:
    std::string temp_;
    std::optional<std::string> savedPrefix_;
    std::string savedDirectory_;
};

// Collects what std::cout receives while it lives.
class CoutCapture {
  public:
    CoutCapture() : saved_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(saved_); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;
    std::string text() const { return buffer_.str(); }

  private:
    std::ostringstream buffer_;
    std::streambuf* saved_;
};

// The value of an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};
