// winfs::path: the Windows flavour of std::filesystem::path, usable on any host.
//
// It follows the path grammar of Windows's own standard library: drive letters, device prefixes
// (\\?\, \\.\, \??\), servers (\\server), '\' as the preferred separator and '/' accepted too.
// The text is kept as given, in UTF-8; nothing here touches the disk. Text in the other encodings
// is converted on the way in and out: char8_t is UTF-8, char16_t UTF-16, char32_t UTF-32, and
// wchar_t, 32 bits wide on Linux, is UTF-32 here (on Windows, where it has 16 bits, UTF-16).
//
// Threads: a path is a plain value. Its const members may be called from any number of threads at
// once; a path that one thread changes must not be used by another meanwhile.
#pragma once

#include <compare>
#include <concepts>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

namespace winfs {

namespace detail {

// The character types whose text a path converts, besides its own char.
template <class C>
concept ConvertedChar = std::same_as<C, char8_t> || std::same_as<C, char16_t> ||
    std::same_as<C, char32_t> || std::same_as<C, wchar_t>;

// What the standard calls a Source: a string, a string view, or an iterator to text that ends in
// a null character (an array or a pointer among them).
template <class S>
struct SourceTraits {};
template <class C, class T, class A>
struct SourceTraits<std::basic_string<C, T, A>> {
    using char_type = C;
    static std::basic_string_view<C> view(const std::basic_string<C, T, A>& s) noexcept {
        return {s.data(), s.size()};
    }
};
template <class C, class T>
struct SourceTraits<std::basic_string_view<C, T>> {
    using char_type = C;
    static std::basic_string_view<C> view(std::basic_string_view<C, T> s) noexcept {
        return {s.data(), s.size()};
    }
};
template <class It>
requires requires {
    typename std::iterator_traits<It>::value_type;
}
struct SourceTraits<It> {
    using char_type = std::remove_cv_t<typename std::iterator_traits<It>::value_type>;
    static std::basic_string<char_type> view(It it) {
        std::basic_string<char_type> text;
        for (; *it != char_type(); ++it)
            text.push_back(*it);
        return text;
    }
};
template <class C>
struct SourceTraits<const C*> {
    using char_type = C;
    static std::basic_string_view<C> view(const C* s) noexcept { return s; }
};
template <class C>
struct SourceTraits<C*> : SourceTraits<const C*> {};

// A Source in one of the converted encodings; char text has overloads of its own.
template <class S>
concept ConvertedSource = requires {
    typename SourceTraits<std::decay_t<S>>::char_type;
}
&&ConvertedChar<typename SourceTraits<std::decay_t<S>>::char_type>;

// A Source of char text that is an iterator, not a pointer (the const char* forms take those):
// a single-pass input iterator over text that ends in a null character, as the standard allows.
template <class S>
concept CharIterator = !std::is_pointer_v<std::decay_t<S>> && requires {
    typename std::iterator_traits<std::decay_t<S>>::value_type;
}
&&std::same_as<typename SourceTraits<std::decay_t<S>>::char_type, char>;

// What u8path takes: text of char or char8_t, both UTF-8.
template <class C>
concept Utf8Char = std::same_as<C, char> || std::same_as<C, char8_t>;
template <class S>
concept Utf8Source = requires {
    typename SourceTraits<std::decay_t<S>>::char_type;
}
&&Utf8Char<typename SourceTraits<std::decay_t<S>>::char_type>;

}  // namespace detail

class path {
  public:
    using value_type = char;
    using string_type = std::string;
    static constexpr value_type preferred_separator = '\\';

    enum format { native_format, generic_format, auto_format };

    class iterator;
    using const_iterator = iterator;

    path() noexcept = default;
    path(const path&) = default;
    path(path&&) noexcept = default;
    path& operator=(const path&) = default;
    path& operator=(path&&) noexcept = default;
    ~path() = default;

    // Text that is not valid UTF-8 throws filesystem_error (std::errc::illegal_byte_sequence).
    path(std::string text, format = auto_format);
    path(std::string_view text, format = auto_format);
    path(const char* text, format = auto_format);
    // From another encoding, as path(u"c:\\caf\u00e9"); text that is not valid in its encoding
    // (an unpaired surrogate, a code point above U+10FFFF) throws the same filesystem_error.
    template <detail::ConvertedSource Source>
    path(const Source& source, format = auto_format)
        : text_(converted(detail::SourceTraits<std::decay_t<Source>>::view(source))) {}
    // Read up to its null character; text that is not UTF-8 throws as above.
    template <detail::CharIterator Source>
    path(const Source& source, format f = auto_format)
        : path(detail::SourceTraits<Source>::view(source), f) {}
    template <class InputIt>
    path(InputIt first, InputIt last, format f = auto_format)
        : path(std::basic_string<typename std::iterator_traits<InputIt>::value_type>(first, last),
               f) {}

    // Each leaves the path as it was when the new text is not UTF-8.
    path& assign(std::string&& text) { return *this = path(std::move(text)); }
    path& assign(std::string_view text) { return *this = path(text); }
    path& assign(const char* text) { return *this = path(text); }
    template <detail::ConvertedSource Source>
    path& assign(const Source& source) {
        return *this = path(source);
    }
    template <detail::CharIterator Source>
    path& assign(const Source& source) {
        return *this = path(source);
    }
    template <class InputIt>
    path& assign(InputIt first, InputIt last) {
        return *this = path(first, last);
    }

    // Joining: path("c:cat") / "d:dog" yields "d:dog"; path("c:cat") / "/dog" yields "c:/dog";
    // path("C:\\work") / "c:" yields "c:" (root names compare exactly).
    path& operator/=(const path& other);
    friend path operator/(const path& lhs, const path& rhs) {
        path joined(lhs);
        joined /= rhs;
        return joined;
    }
    path& append(const path& other) { return *this /= other; }
    template <class InputIt>
    path& append(InputIt first, InputIt last) {
        return *this /= path(first, last);
    }
    path& operator+=(const path& other);
    path& operator+=(std::string_view text);
    path& operator+=(const std::string& text) { return *this += std::string_view(text); }
    path& operator+=(const char* text) { return *this += std::string_view(text); }
    path& operator+=(char c) { return *this += std::string_view(&c, 1); }
    // Other encodings are converted first: a failed conversion leaves the path as it was.
    template <detail::ConvertedSource Source>
    path& operator+=(const Source& source) {
        return *this += path(source);
    }
    template <detail::ConvertedChar C>
    path& operator+=(C c) {
        return *this += path(std::basic_string_view<C>(&c, 1));
    }
    path& concat(std::string_view text) { return *this += text; }
    template <detail::ConvertedSource Source>
    path& concat(const Source& source) {
        return *this += path(source);
    }
    template <detail::CharIterator Source>
    path& concat(const Source& source) {
        return *this += path(source);
    }
    template <class InputIt>
    path& concat(InputIt first, InputIt last) {
        return *this +=
               std::basic_string<typename std::iterator_traits<InputIt>::value_type>(first, last);
    }

    void clear() noexcept { text_.clear(); }
    path& make_preferred();
    path& remove_filename();
    path& replace_filename(const path& replacement);
    path& replace_extension(const path& replacement = path());
    void swap(path& other) noexcept { text_.swap(other.text_); }

    const string_type& native() const noexcept { return text_; }
    const value_type* c_str() const noexcept { return text_.c_str(); }
    // No implicit std::string: std::ofstream(p), std::ifstream(p) and the like would open a host
    // file named like the Windows path. Open Windows paths with winfs::ofstream, winfs::ifstream,
    // winfs::fstream, winfs::fopen or winfs::open_file; take p.string() for the text.
    operator string_type() const = delete;  // open with winfs::ofstream/ifstream; text: .string()
    std::string string() const { return text_; }
    std::string generic_string() const;
    std::u8string u8string() const { return std::u8string(text_.begin(), text_.end()); }
    std::u8string generic_u8string() const;
    std::wstring wstring() const;
    std::wstring generic_wstring() const;
    std::u16string u16string() const;
    std::u16string generic_u16string() const;
    std::u32string u32string() const;
    std::u32string generic_u32string() const;
    // The text in the encoding of EcharT, in a string of the traits and allocator given:
    // p.string<wchar_t>() is p.wstring(); p.generic_string<char16_t>(alloc) allocates with alloc.
    template <class EcharT, class Traits = std::char_traits<EcharT>,
              class Allocator = std::allocator<EcharT>>
    std::basic_string<EcharT, Traits, Allocator> string(const Allocator& a = Allocator()) const {
        return encodedAs<EcharT, Traits>(encoded<EcharT>(false), a);
    }
    template <class EcharT, class Traits = std::char_traits<EcharT>,
              class Allocator = std::allocator<EcharT>>
    std::basic_string<EcharT, Traits, Allocator> generic_string(
        const Allocator& a = Allocator()) const {
        return encodedAs<EcharT, Traits>(encoded<EcharT>(true), a);
    }

    int compare(const path& other) const noexcept;
    int compare(std::string_view text) const { return compare(path(text)); }
    int compare(const std::string& text) const { return compare(path(text)); }
    int compare(const char* text) const { return compare(path(text)); }

    path root_name() const;
    path root_directory() const;
    path root_path() const;
    path relative_path() const;
    path parent_path() const;
    // A const path, which keeps the host's streams from taking winfs::path for their own path
    // type (they open a path whose filename() is of its own type by its text, a host name).
    const path filename() const;
    path stem() const;
    path extension() const;

    [[nodiscard]] bool empty() const noexcept { return text_.empty(); }
    bool has_root_name() const noexcept;
    bool has_root_directory() const noexcept;
    bool has_root_path() const noexcept;
    bool has_relative_path() const noexcept;
    bool has_parent_path() const noexcept;
    bool has_filename() const noexcept;
    bool has_stem() const noexcept;
    bool has_extension() const noexcept;

    // Absolute means a root name and a root directory: "c:\" is; "/", ".", "c:" and "\\server" are
    // not.
    bool is_absolute() const noexcept;
    bool is_relative() const noexcept { return !is_absolute(); }

    path lexically_normal() const;
    // Lexical only, as the standard defines it: path("c:\\a\\d").lexically_relative("c:\\a\\b\\c")
    // is "..\\..\\d"; different root names ("c:" and "C:" too), or a name like "c:x" inside either
    // path, give an empty path. The drive right after "\\\\?\\" counts as part of the root, as in
    // Microsoft's library: path("\\\\?\\a:\\b").lexically_relative("\\\\?\\a:") is "b".
    path lexically_relative(const path& base) const;
    // lexically_relative(base), or *this when that is empty.
    path lexically_proximate(const path& base) const;

    iterator begin() const;
    iterator end() const;

    friend bool operator==(const path& lhs, const path& rhs) noexcept {
        return lhs.compare(rhs) == 0;
    }
    friend std::strong_ordering operator<=>(const path& lhs, const path& rhs) noexcept {
        return lhs.compare(rhs) <=> 0;
    }
    friend void swap(path& lhs, path& rhs) noexcept { lhs.swap(rhs); }
    // Equal paths hash alike: the root name as written, then every run of separators as one '\'.
    friend std::size_t hash_value(const path& p) noexcept;

    // Quoted: c:\ is written as "c:\\", in one piece.
    friend std::ostream& operator<<(std::ostream& os, const path& p);
    // Reads what operator<< writes, as std::quoted does ("c:\\" gives c:\), or else one word.
    // Text that is not UTF-8 throws filesystem_error and leaves the path as it was.
    friend std::istream& operator>>(std::istream& is, path& p);

  private:
    struct trusted {};
    // For text cut from a path that is already known to be valid UTF-8.
    path(std::string_view text, trusted) : text_(text) {}
    path(std::string&& text, trusted) noexcept : text_(std::move(text)) {}
    // Each throws filesystem_error when the text is not valid in its encoding.
    static std::string converted(std::u8string_view text);
    static std::string converted(std::u16string_view text);
    static std::string converted(std::u32string_view text);
    static std::string converted(std::wstring_view text);
    // The text in the encoding of C, with '/' for separators when `generic`.
    template <class C>
    std::basic_string<C> encoded(bool generic) const {
        if constexpr (std::is_same_v<C, char>) {
            return generic ? generic_string() : text_;
        } else if constexpr (std::is_same_v<C, char8_t>) {
            return generic ? generic_u8string() : u8string();
        } else if constexpr (std::is_same_v<C, char16_t>) {
            return generic ? generic_u16string() : u16string();
        } else if constexpr (std::is_same_v<C, char32_t>) {
            return generic ? generic_u32string() : u32string();
        } else {
            static_assert(std::is_same_v<C, wchar_t>, "no encoding for this character type");
            return generic ? generic_wstring() : wstring();
        }
    }
    template <class C, class Traits, class Allocator>
    static std::basic_string<C, Traits, Allocator> encodedAs(const std::basic_string<C>& text,
                                                             const Allocator& a) {
        return std::basic_string<C, Traits, Allocator>(text.data(), text.size(), a);
    }

    std::string text_;
};

// Iterates over root name, root directory, each file name, and an empty element after a trailing
// separator: "c:\a\b\" gives "c:", "\", "a", "b", "".
class path::iterator {
  public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = path;
    using difference_type = std::ptrdiff_t;
    using pointer = const path*;
    using reference = const path&;

    iterator() = default;

    reference operator*() const noexcept { return element_; }
    pointer operator->() const noexcept { return &element_; }
    iterator& operator++();
    iterator operator++(int) {
        iterator before = *this;
        ++*this;
        return before;
    }
    iterator& operator--();
    iterator operator--(int) {
        iterator before = *this;
        --*this;
        return before;
    }
    friend bool operator==(const iterator& lhs, const iterator& rhs) noexcept {
        return lhs.owner_ == rhs.owner_ && lhs.first_ == rhs.first_ && lhs.last_ == rhs.last_;
    }

  private:
    friend class path;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    iterator(const path* owner, std::size_t first, std::size_t last, std::size_t rootName,
             std::size_t relative);
    void load();

    const path* owner_ = nullptr;
    std::size_t first_ = npos;  // the current element is text[first_, last_); npos is the end
    std::size_t last_ = npos;
    // Where the root name ends and the relative part starts, so that a step never parses the text
    // from its start; npos until known (end() leaves them for operator-- to find).
    std::size_t rootName_ = npos;
    std::size_t relative_ = npos;
    path element_;
};

class filesystem_error : public std::system_error {
  public:
    filesystem_error(const std::string& what_arg, std::error_code ec);
    filesystem_error(const std::string& what_arg, const path& p1, std::error_code ec);
    filesystem_error(const std::string& what_arg, const path& p1, const path& p2,
                     std::error_code ec);

    const path& path1() const noexcept { return path1_; }
    const path& path2() const noexcept { return path2_; }
    // "<operation>: <system's text> [path1] [path2]"
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    path path1_;
    path path2_;
    std::string what_;
};

std::size_t hash_value(const path& p) noexcept;  // found by name too, not only through a path
void swap(path& lhs, path& rhs) noexcept;        // fs::swap(p1, p2), as the standard declares it

// The path of UTF-8 text, char or char8_t: u8path("caf\xc3\xa9") is path(u8"caf\u00e9"). C++20
// deprecates it and keeps it, as Microsoft's library does; a char text is UTF-8 here already.
template <detail::Utf8Source Source>
[[deprecated("u8path is deprecated in C++20: take path(u8\"...\")")]] path u8path(
    const Source& source) {
    return path(source);
}
template <class InputIt>
requires detail::Utf8Char<std::remove_cv_t<typename std::iterator_traits<InputIt>::value_type>>
[[deprecated("u8path is deprecated in C++20: take path(u8\"...\")")]] path u8path(InputIt first,
                                                                                  InputIt last) {
    return path(first, last);
}

}  // namespace winfs

template <>
struct std::hash<winfs::path> {
    std::size_t operator()(const winfs::path& p) const noexcept { return hash_value(p); }
};
