// winfs::path in the other encodings and forms it gives its text in, and in streams and errors.
#include "pathprobe/winfs/path.h"

#include <algorithm>
#include <iomanip>
#include <istream>
#include <ostream>

#include "text/utf8.h"

namespace winfs {

namespace {

template <class String>
String generic(String text) {
    std::replace(text.begin(), text.end(), typename String::value_type('\\'),
                 typename String::value_type('/'));
    return text;
}

}  // namespace

std::string path::generic_string() const {
    return generic(text_);
}

std::u8string path::generic_u8string() const {
    return generic(u8string());
}

std::wstring path::wstring() const {
    return wideOf(text_);
}

std::wstring path::generic_wstring() const {
    return generic(wstring());
}

std::u16string path::u16string() const {
    return utf16Of(text_);
}

std::u16string path::generic_u16string() const {
    return generic(u16string());
}

std::u32string path::u32string() const {
    return utf32Of(text_);
}

std::u32string path::generic_u32string() const {
    return generic(u32string());
}

std::ostream& operator<<(std::ostream& os, const path& p) {
    std::string quoted;
    quoted.reserve(p.text_.size() + 2);
    quoted.push_back('"');
    for (const char c : p.text_) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return os << quoted;
}

std::istream& operator>>(std::istream& is, path& p) {
    // As the standard has it: a failed read leaves an empty path, as it leaves 0 in an int.
    std::string text;
    is >> std::quoted(text);
    p = path(std::move(text));
    return is;
}

namespace {

// The text of `ec`, in Microsoft's library's words for the generic codes that winfs reports as
// that library does (temp_directory_path's not_a_directory), where the host's differ in case
// ("Not a directory").
std::string messageOf(const std::error_code& ec) {
    if (ec.category() == std::generic_category()) {
        if (ec == std::errc::not_a_directory) return "not a directory";
        if (ec == std::errc::is_a_directory) return "is a directory";
    }
    return ec.message();
}

std::string describe(const std::string& what_arg, const std::error_code& ec, const path* p1,
                     const path* p2) {
    // A name that is not UTF-8 reads as the path type says it: "canonical: Cannot convert character
    // sequence [c:\zor]", not in the host's words for EILSEQ.
    std::string text = what_arg;
    if (ec != std::errc::illegal_byte_sequence) {
        text += ": " + messageOf(ec);
    } else if (what_arg != kConversionText) {
        text += ": ";
        text += kConversionText;
    }
    for (const path* p : {p1, p2}) {
        if (p != nullptr && !p->empty()) text += " [" + p->string() + "]";
    }
    return text;
}

}  // namespace

filesystem_error::filesystem_error(const std::string& what_arg, std::error_code ec)
    : std::system_error(ec, what_arg), what_(describe(what_arg, ec, nullptr, nullptr)) {}

filesystem_error::filesystem_error(const std::string& what_arg, const path& p1, std::error_code ec)
    : std::system_error(ec, what_arg), path1_(p1), what_(describe(what_arg, ec, &p1, nullptr)) {}

filesystem_error::filesystem_error(const std::string& what_arg, const path& p1, const path& p2,
                                   std::error_code ec)
    : std::system_error(ec, what_arg),
      path1_(p1),
      path2_(p2),
      what_(describe(what_arg, ec, &p1, &p2)) {}

}  // namespace winfs
