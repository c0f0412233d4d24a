// The file types and status of std::filesystem, for winfs.
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

class file_status {
  public:
    file_status() noexcept = default;
    explicit file_status(file_type type) noexcept : type_(type) {}
    file_type type() const noexcept { return type_; }
    void type(file_type type) noexcept { type_ = type; }

  private:
    file_type type_ = file_type::none;
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

}  // namespace winfs
