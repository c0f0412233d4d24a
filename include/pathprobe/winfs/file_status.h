// The file types, permissions and status of std::filesystem, for winfs.
//
// Threading: plain values; a file_status may be read from any number of threads.
#pragma once

namespace winfs {

enum class file_type : signed char {
    none = 0,
    not_found = -1,
    regular = 1,
    directory = 2,
    symlink = 3,
    block = 4,
    character = 5,
    fifo = 6,
    socket = 7,
    unknown = 8,
};

// As the standard has them. On Windows a file's only permission is its read-only attribute: status
// gives `all`, or `all` without the three write bits for a read-only file.
enum class perms : unsigned {
    none = 0,
    owner_read = 0400,
    owner_write = 0200,
    owner_exec = 0100,
    owner_all = 0700,
    group_read = 040,
    group_write = 020,
    group_exec = 010,
    group_all = 070,
    others_read = 04,
    others_write = 02,
    others_exec = 01,
    others_all = 07,
    all = 0777,
    set_uid = 04000,
    set_gid = 02000,
    sticky_bit = 01000,
    mask = 07777,
    unknown = 0xFFFF,
};

enum class perm_options : unsigned {
    replace = 1,
    add = 2,
    remove = 4,
    nofollow = 8,
};

// The standard's bitmask types get the bitmask operators by being named here; found by
// argument-dependent lookup, they touch no other type.
template <class T>
inline constexpr bool isBitmask = false;
template <>
inline constexpr bool isBitmask<perms> = true;
template <>
inline constexpr bool isBitmask<perm_options> = true;

template <class T>
requires isBitmask<T>
constexpr T operator&(T a, T b) noexcept {
    return static_cast<T>(static_cast<unsigned>(a) & static_cast<unsigned>(b));
}
template <class T>
requires isBitmask<T>
constexpr T operator|(T a, T b) noexcept {
    return static_cast<T>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
template <class T>
requires isBitmask<T>
constexpr T operator^(T a, T b) noexcept {
    return static_cast<T>(static_cast<unsigned>(a) ^ static_cast<unsigned>(b));
}
template <class T>
requires isBitmask<T>
constexpr T operator~(T a) noexcept {
    return static_cast<T>(~static_cast<unsigned>(a));
}
template <class T>
requires isBitmask<T>
constexpr T& operator&=(T& a, T b) noexcept {
    return a = a & b;
}
template <class T>
requires isBitmask<T>
constexpr T& operator|=(T& a, T b) noexcept {
    return a = a | b;
}
template <class T>
requires isBitmask<T>
constexpr T& operator^=(T& a, T b) noexcept {
    return a = a ^ b;
}

class file_status {
  public:
    file_status() noexcept : file_status(file_type::none) {}
    explicit file_status(file_type type, perms permissions = perms::unknown) noexcept
        : type_(type), perms_(permissions) {}
    file_type type() const noexcept { return type_; }
    void type(file_type type) noexcept { type_ = type; }
    perms permissions() const noexcept { return perms_; }
    void permissions(perms permissions) noexcept { perms_ = permissions; }
    friend bool operator==(const file_status&, const file_status&) noexcept = default;

  private:
    file_type type_;
    perms perms_;
};

inline bool status_known(file_status s) noexcept {
    return s.type() != file_type::none;
}
inline bool exists(file_status s) noexcept {
    return status_known(s) && s.type() != file_type::not_found;
}
inline bool is_directory(file_status s) noexcept {
    return s.type() == file_type::directory;
}
inline bool is_regular_file(file_status s) noexcept {
    return s.type() == file_type::regular;
}
inline bool is_symlink(file_status s) noexcept {
    return s.type() == file_type::symlink;
}
inline bool is_block_file(file_status s) noexcept {
    return s.type() == file_type::block;
}
inline bool is_character_file(file_status s) noexcept {
    return s.type() == file_type::character;
}
inline bool is_fifo(file_status s) noexcept {
    return s.type() == file_type::fifo;
}
inline bool is_socket(file_status s) noexcept {
    return s.type() == file_type::socket;
}
inline bool is_other(file_status s) noexcept {
    return exists(s) && !is_regular_file(s) && !is_directory(s) && !is_symlink(s);
}

}  // namespace winfs
