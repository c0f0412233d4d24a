#include <cerrno>
#include <cstring>
#include <exception>
#include <ios>
#include <iostream>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

#include "pathprobe/path_resolution.h"
#include "platform.h"

namespace {

// Passes standard output through and remembers whether the last line was ended, so that a failure
// can end a begun line before it is reported, and why a write failed, if one did.
class LineTracker : public std::streambuf {
  public:
    explicit LineTracker(std::streambuf* target) : target_(target) {}
    bool midLine() const noexcept { return midLine_; }
    int writeError() const noexcept { return writeError_; }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        midLine_ = traits_type::to_char_type(c) != '\n';
        errno = 0;
        const int_type written = target_->sputc(traits_type::to_char_type(c));
        if (traits_type::eq_int_type(written, traits_type::eof())) noteFailure();
        return written;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n > 0) midLine_ = s[n - 1] != '\n';
        errno = 0;
        const std::streamsize written = target_->sputn(s, n);
        if (written != n) noteFailure();
        return written;
    }
    int sync() override {
        errno = 0;
        const int result = target_->pubsync();
        if (result != 0) noteFailure();
        return result;
    }

  private:
    void noteFailure() {
        if (writeError_ == 0) writeError_ = errno != 0 ? errno : EIO;
    }

    std::streambuf* target_;
    bool midLine_ = false;
    int writeError_ = 0;
};

// A refused link: the message line and an empty line, then the system's text for the reason, read
// only once those two lines are out.
void reportLinkFailure(const char* message) {
    std::cout << message << std::endl;
    const DWORD error = GetLastError();
    std::cout << system_category().message(static_cast<int>(error)) << std::endl;
}

void runProbes() {
    // Which of these are absolute: only "c:\" has both a root name and a root directory.
    const fs::path slash("/");
    const fs::path dot(".");
    const fs::path driveRoot("c:\\");
    const fs::path drive("c:");
    std::cout << slash.is_absolute() << std::endl;
    std::cout << dot.is_absolute() << std::endl;
    std::cout << driveRoot.is_absolute() << std::endl;
    std::cout << drive.is_absolute() << std::endl;

    // Each input is written before absPath runs, so its diagnostics land after the arrow.
    std::cout << drive << " -> ";
    std::cout << absPath(drive, std::nullopt, false) << std::endl;

    const fs::path root("c:\\");
    std::cout << root << " -> ";
    std::cout << absPath(root, std::nullopt, false) << std::endl;

    const fs::path upAndBack("c:\\zor\\..\\zor");
    std::cout << upAndBack << " -> ";
    std::cout << absPath(upAndBack, std::nullopt, false) << std::endl;

    std::cout << " da test -> ";
    std::cout << absPath(fs::path("foo"), fs::path("c:\\zor-hack"), false).string() << std::endl;

    // The standard library's own answers, to set beside those above.
    const fs::path doubled("c:\\zor\\\\");
    fs::path canonical = fs::canonical(doubled);
    canonical.make_preferred();
    std::cout << canonical.lexically_normal().string() << std::endl;

    const fs::path missingTail("c:\\zor\\..\\zor\\asdf\\");
    std::cout << fs::weakly_canonical(missingTail).string() << std::endl;

    const fs::path here(".");
    std::cout << fs::absolute(here).string() << std::endl;

    // Long folder names in the scratch directory: 131, 165 and 184 characters.
    const fs::path scratch = fs::temp_directory_path();
    fs::current_path(scratch);
    std::cout << "creating tmp path: " << scratch.string() << std::endl;
    const fs::path long131 =
        scratch /
        fs::path(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz12345678901234567890123456"
            "78901234567890123456789012345678901234567890123456789");
    fs::create_directories(long131);
    const fs::path long165 =
        scratch /
        fs::path(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz12345678901234567890123456"
            "78901234567890abcdefgklmnopqrstuvwxyz12345678901234567890123456789012345678901"
            "234567890");
    fs::create_directories(long165);
    const fs::path long184 =
        scratch /
        fs::path(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz12345678abcdefgklmnopqrstu"
            "vwxyz12345678pqrstuvwxyz123456789012345678901234567890123456789012345678901234"
            "56789abcdefgklmnopqrstuvwxyz");
    fs::create_directories(long184);
    const fs::path linkTest = scratch / fs::path("zor-symlink-test");
    fs::create_directories(linkTest);
    fs::current_path(linkTest);

    // Symbolic links under c:\zor; the last two point at each other.
    if (!CreateSymbolicLinkA("c:\\zor\\main.exe", "c:\\zor\\zor.exe", 0)) {
        reportLinkFailure("Error creating file symlink\n");
    }
    if (!CreateSymbolicLinkA("c:\\zor\\lnk", "c:\\zor\\store", SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        reportLinkFailure("Error creating directory symlink\n");
    }
    if (!CreateSymbolicLinkA("c:\\zor\\lnks", "c:\\zor\\lnkd", SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        reportLinkFailure("Error creating directory symlink\n");
    }
    if (!CreateSymbolicLinkA("c:\\zor\\lnkd", "c:\\zor\\lnks", SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        reportLinkFailure("Error creating directory symlink\n");
    }

    // One link of the cycle, resolved with links left alone.
    const std::string cycleLink = "c:\\zor\\lnks";
    std::cout << cycleLink << " -> ";
    std::cout << absPath(fs::path(cycleLink), std::nullopt, false) << std::endl;
}

}  // namespace

// "--max-path" runs the probes as a Windows without long paths answers them; other arguments are
// ignored, as they always were.
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--max-path") limitToMaxPath();
    }
    ignoreBrokenPipe();
    std::streambuf* const console = std::cout.rdbuf();
    LineTracker tracker(console);
    std::cout.rdbuf(&tracker);
    // A report that cannot be written ends the run: nothing after it would be seen.
    std::cout.exceptions(std::ios::badbit);
    std::optional<std::string> failure;
    try {
        runProbes();
        std::cout.flush();
    } catch (const std::ios_base::failure&) {
        // Reported below, with the reason the write failed.
    } catch (const std::exception& e) {
        failure = e.what();
    }
    std::cout.exceptions(std::ios::goodbit);

    int status = 0;
    if (failure) {
        // A failure ends the run: the begun line is ended, so nothing written is lost.
        if (tracker.midLine()) std::cout << std::endl;
        std::cerr << "pathprobe: " << *failure << std::endl;
        status = 1;
    }
    if (tracker.writeError() != 0) {
        std::cerr << "pathprobe: cannot write to standard output: "
                  << std::strerror(tracker.writeError()) << std::endl;
        status = 1;
    }
    std::cout.rdbuf(console);
    return status;
}
