// opencases: a fixed table of file opens, each on a fresh folder c:\zor\opens that holds data.txt
// ("hello"), file.txt ("hi") and an empty folder store. One line per case: what it does, the
// Windows code it ends with, then the folder's names afterwards, each file with its size, a
// folder with a separator after it: "CREATE_ALWAYS in another case cuts the file there: 183 |
// data.txt:0 file.txt:2 store\".
//
// The code is GetLastError() after the call, 0 on success, and 183 (ERROR_ALREADY_EXISTS) where
// CREATE_ALWAYS or OPEN_ALWAYS found the file there. The Windows build calls CreateFileW and the
// standard library's ofstream; elsewhere winfs stands in for both. The Wine test runs the two on
// one prefix and compares them line by line.
#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform.h"

namespace {

const std::wstring kFolder = L"c:\\zor\\opens";
// The folder as listed and cleared: after "\\?\" a name that a path drops ("trail.") is kept.
const std::wstring kFolderAsIs = L"\\\\?\\C:\\zor\\opens";

// A name in the folder; a path after "\\?\" as it is.
std::wstring in(const std::wstring& name) {
    return name.starts_with(L"\\\\?\\") ? name : kFolder + L"\\" + name;
}

// A handle from CreateFileW, closed when it goes.
class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (is_open()) CloseHandle(handle_);
    }
    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

constexpr DWORD R = GENERIC_READ;
constexpr DWORD W = GENERIC_WRITE;
constexpr DWORD RW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD A = FILE_APPEND_DATA;
constexpr DWORD kShareRead = FILE_SHARE_READ;
constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Handle openIn(const std::wstring& name, DWORD access, DWORD disposition, DWORD share = kShareBoth) {
    return Handle(CreateFileW(in(name).c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The code of an open as the line gives it; 183 only where the disposition tells it.
DWORD codeAfterOpen(const Handle& handle, DWORD disposition) {
    const DWORD error = GetLastError();
    if (!handle.is_open()) return error;
    const bool told = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    return told && error == ERROR_ALREADY_EXISTS ? error : 0;
}

// Opens `name` in the folder, writes `text` when given, and closes it.
DWORD opened(const std::wstring& name, DWORD access, DWORD disposition,
             const char* text = nullptr) {
    const Handle file = openIn(name, access, disposition);
    const DWORD code = codeAfterOpen(file, disposition);
    if (file.is_open() && text != nullptr) {
        const std::string bytes(text);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr)) {
            return GetLastError();
        }
    }
    return code;
}

// What `then` gives once data.txt has the read-only attribute; or why it could not be set.
std::function<DWORD()> readOnly(std::function<DWORD()> then) {
    return [then = std::move(then)] {
        const bool set = SetFileAttributesW(in(L"data.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        return set ? then() : GetLastError();
    };
}

DWORD deleted(const std::wstring& name) {
    return DeleteFileW(in(name).c_str()) ? 0 : GetLastError();
}

DWORD moved(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(in(from).c_str(), in(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : GetLastError();
}

// A stream opened on `name` in `mode`, "ab" written to it, closed; or why it did not open.
DWORD streamed(const std::wstring& name, std::ios_base::openmode mode) {
    ofstream stream(fs::path(in(name)), mode);
    if (!stream.is_open()) return streamOpenError(stream);
    stream << "ab";
    return 0;
}

// What `second` gives while data.txt is open with `access` and `share`.
std::function<DWORD()> whileOpen(DWORD access, DWORD share, std::function<DWORD()> second) {
    return [access, share, second = std::move(second)] {
        const Handle first = openIn(L"data.txt", access, OPEN_EXISTING, share);
        if (!first.is_open()) return GetLastError();
        return second();
    };
}

// The same while a stream holds data.txt open for writing.
std::function<DWORD()> whileStreamOpen(std::function<DWORD()> second) {
    return [second = std::move(second)] {
        ofstream first(fs::path(in(L"data.txt")), std::ios_base::app);
        if (!first.is_open()) return streamOpenError(first);
        return second();
    };
}

std::function<DWORD()> openedAs(DWORD access, DWORD share) {
    return [=] {
        return codeAfterOpen(openIn(L"data.txt", access, OPEN_EXISTING, share), OPEN_EXISTING);
    };
}

struct Case {
    const char* what;
    std::function<DWORD()> run;
};

// clang-format off
const Case kCases[] = {
    {"a file in another case", [] { return opened(L"DATA.TXT", R, OPEN_EXISTING); }},
    {"a new file keeps the case written", [] { return opened(L"New.Txt", W, CREATE_NEW, "abc"); }},
    {"CREATE_ALWAYS in another case cuts the file there", [] { return opened(L"Data.TXT", W, CREATE_ALWAYS); }},
    {"CREATE_ALWAYS with read access alone cuts", [] { return opened(L"data.txt", R, CREATE_ALWAYS); }},
    {"CREATE_ALWAYS of a missing file", [] { return opened(L"made.txt", W, CREATE_ALWAYS); }},
    {"OPEN_ALWAYS of a file there keeps it", [] { return opened(L"data.txt", RW, OPEN_ALWAYS); }},
    {"OPEN_ALWAYS of a missing file makes it", [] { return opened(L"made.txt", RW, OPEN_ALWAYS); }},
    {"FILE_APPEND_DATA writes at the end", [] { return opened(L"data.txt", A, OPEN_EXISTING, "!!"); }},
    {"GENERIC_WRITE writes at the start", [] { return opened(L"data.txt", W, OPEN_EXISTING, "J"); }},
    {"TRUNCATE_EXISTING cuts", [] { return opened(L"DATA.txt", W, TRUNCATE_EXISTING); }},
    {"TRUNCATE_EXISTING without write access", [] { return opened(L"data.txt", R, TRUNCATE_EXISTING); }},
    {"TRUNCATE_EXISTING of a missing file", [] { return opened(L"none.txt", W, TRUNCATE_EXISTING); }},
    {"CREATE_NEW on a file there, in another case", [] { return opened(L"DATA.TXT", W, CREATE_NEW); }},
    {"OPEN_EXISTING of a missing file", [] { return opened(L"none.txt", R, OPEN_EXISTING); }},
    {"a missing folder on the way", [] { return opened(L"none\\x.txt", W, CREATE_ALWAYS); }},
    {"a file on the way", [] { return opened(L"data.txt\\x.txt", W, CREATE_ALWAYS); }},
    {"a folder opened as a file", [] { return opened(L"STORE", R, OPEN_EXISTING); }},
    {"a folder made over", [] { return opened(L"store", W, CREATE_ALWAYS); }},
    {"a read-only file for writing", readOnly([] { return opened(L"data.txt", W, OPEN_EXISTING); })},
    {"a read-only file for reading", readOnly([] { return opened(L"data.txt", R, OPEN_EXISTING); })},
    {"a read-only file made over", readOnly([] { return opened(L"data.txt", W, CREATE_ALWAYS); })},
    {"a read-only file appended to", readOnly([] { return opened(L"data.txt", A, OPEN_ALWAYS); })},
    {"a name Windows forbids", [] { return opened(L"a<b", W, CREATE_ALWAYS); }},
    {"a stream of a file", [] { return opened(L"data.txt:s", R, OPEN_EXISTING); }},
    {"the file's own data stream", [] { return opened(L"data.txt::$DATA", R, OPEN_EXISTING); }},
    {"a name of 256 characters", [] { return opened(std::wstring(256, L'x'), W, CREATE_ALWAYS); }},
    {"a name of 255 characters", [] { return opened(std::wstring(255, L'x'), W, CREATE_NEW); }},
    {"a separator after a file's name", [] { return opened(L"data.txt\\", R, OPEN_EXISTING); }},
    {"trailing dots and spaces: data.txt. . is data.txt", [] { return opened(L"data.txt. .", W, OPEN_ALWAYS, "J"); }},
    {"after \\\\?\\ a trailing dot is kept", [] { return opened(L"\\\\?\\C:\\zor\\opens\\data.txt.", R, OPEN_EXISTING); }},
    {"after \\\\?\\ a name with a trailing dot is made", [] { return opened(L"\\\\?\\C:\\zor\\opens\\trail.", W, CREATE_NEW, "abc"); }},
    {"NUL takes writes and makes nothing", [] { return opened(L"nul", W, OPEN_EXISTING, "gone"); }},
    {"NUL for reading", [] { return opened(L"NUL", R, OPEN_EXISTING); }},
    {"a reader sharing reading, then a writer", whileOpen(R, kShareRead, openedAs(W, kShareBoth))},
    {"a reader sharing reading and writing, then a writer", whileOpen(R, kShareBoth, openedAs(W, kShareBoth))},
    {"a writer, then a reader sharing reading only", whileOpen(W, kShareBoth, openedAs(R, kShareRead))},
    {"a reader-writer sharing reading, then a reader sharing reading", whileOpen(RW, kShareRead, openedAs(R, kShareRead))},
    {"a reader-writer sharing reading, then a reader sharing both", whileOpen(RW, kShareRead, openedAs(R, kShareBoth))},
    {"an appender, then a reader sharing reading", whileOpen(A, kShareBoth, openedAs(R, kShareRead))},
    {"DeleteFileW of a file open without FILE_SHARE_DELETE", whileOpen(R, kShareBoth, [] { return deleted(L"data.txt"); })},
    {"DeleteFileW of a file open with FILE_SHARE_DELETE", whileOpen(R, kShareAll, [] { return deleted(L"DATA.TXT"); })},
    {"MoveFileExW of a file open without FILE_SHARE_DELETE", whileOpen(R, kShareBoth, [] { return moved(L"data.txt", L"moved.txt"); })},
    {"MoveFileExW of a file open with FILE_SHARE_DELETE", whileOpen(R, kShareAll, [] { return moved(L"data.txt", L"moved.txt"); })},
    {"MoveFileExW onto a file open without FILE_SHARE_DELETE", whileOpen(R, kShareBoth, [] { return moved(L"file.txt", L"data.txt"); })},
    {"DeleteFileW of a read-only file", readOnly([] { return deleted(L"data.txt"); })},
    {"DeleteFileW of a folder", [] { return deleted(L"store"); }},
    {"ofstream makes a file in the case written", [] { return streamed(L"Stream.Txt", std::ios_base::out); }},
    {"ofstream over a file in another case cuts it", [] { return streamed(L"DATA.TXT", std::ios_base::out); }},
    {"ofstream with app appends", [] { return streamed(L"data.txt", std::ios_base::app); }},
    {"ofstream of a read-only file", readOnly([] { return streamed(L"data.txt", std::ios_base::out); })},
    {"ofstream of a folder", [] { return streamed(L"store", std::ios_base::out); }},
    {"ofstream below a missing folder", [] { return streamed(L"none\\x.txt", std::ios_base::out); }},
    {"ofstream of a file open sharing reading only", whileOpen(R, kShareRead, [] { return streamed(L"data.txt", std::ios_base::app); })},
    {"DeleteFileW of a file an ofstream holds", whileStreamOpen([] { return deleted(L"data.txt"); })},
    {"MoveFileExW onto a file an ofstream holds", whileStreamOpen([] { return moved(L"file.txt", L"data.txt"); })},
};
// clang-format on

// Clears every read-only attribute below the folder, which would keep its files, and removes it.
void clearFolder(std::error_code& ec) {
    ec.clear();
    if (!fs::exists(fs::path(kFolderAsIs), ec) || ec) return;
    for (fs::recursive_directory_iterator it(fs::path(kFolderAsIs), ec), end; !ec && it != end;
         it.increment(ec)) {
        SetFileAttributesW(it->path().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (!ec) fs::remove_all(fs::path(kFolderAsIs), ec);
}

bool writeFile(const std::wstring& name, const std::string& text) {
    const Handle file = openIn(name, W, CREATE_NEW);
    DWORD written = 0;
    return file.is_open() &&
           WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The folder fresh: data.txt, file.txt and store; false with the reason on standard error.
bool prepare() {
    std::error_code ec;
    clearFolder(ec);
    if (!ec) fs::create_directory(fs::path(kFolder), ec);
    if (!ec) fs::create_directory(fs::path(in(L"store")), ec);
    if (ec) {
        std::cerr << "opencases: cannot make c:\\zor\\opens afresh: " << ec.message() << "\n";
        return false;
    }
    if (!writeFile(L"data.txt", "hello") || !writeFile(L"file.txt", "hi")) {
        std::cerr << "opencases: cannot write the files of c:\\zor\\opens: "
                  << system_category().message(static_cast<int>(GetLastError())) << "\n";
        return false;
    }
    return true;
}

// "data.txt:5 file.txt:2 store\": each name below the folder, in byte order, each file's size.
std::string listing() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(fs::path(kFolderAsIs), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name;
        if (it.depth() > 0) name = it->path().parent_path().filename().string() + "\\";
        name += it->path().filename().string();
        std::error_code entryEc;
        if (it->is_directory(entryEc)) {
            name += "\\";
        } else {
            const std::uintmax_t size = it->file_size(entryEc);
            name += ':';
            name += entryEc ? std::string("?") : std::to_string(size);
        }
        names.push_back(std::move(name));
    }
    if (ec) return "cannot list: " + ec.message();
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

}  // namespace

int main() {
    for (const Case& c : kCases) {
        if (!prepare()) return 1;
        const DWORD code = c.run();
        std::cout << c.what << ": " << code << " | " << listing() << std::endl;
    }
    std::error_code ec;
    clearFolder(ec);
    if (ec) {
        std::cerr << "opencases: cannot remove c:\\zor\\opens: " << ec.message() << "\n";
        return 1;
    }
    return 0;
}
