// Internal to winfs, not installed.
// How winfs's operations report a failure: one implementation per operation, run for both of its
// public forms. With an error_code (the error_code form) the code goes there; without one (the
// throwing form) a failure goes out as a filesystem_error naming the operation and its paths.
// Internal to winfs.
//
// Threading: stateless; safe to call from any number of threads.
#pragma once

#include <new>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <utility>

#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/path.h"

namespace winfs {

// Runs `work`, taking what it throws (memory running out, a name that is not UTF-8, a path too
// long for a string) as its failure.
template <class Work>
void caught(std::error_code& code, Work work) {
    try {
        work();
    } catch (const std::bad_alloc&) {
        code = make_error_code(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::length_error&) {
        code = make_error_code(ERROR_FILENAME_EXCED_RANGE);
    } catch (const filesystem_error& e) {
        code = e.code();
    }
}

// Hands an operation's outcome to the form that was called: with `ec` (the error_code form) the
// code goes there; without it (the throwing form) a failure goes out as a filesystem_error naming
// the operation and its paths.
inline void settle(const char* operation, std::error_code* ec, const path& p1, const path& p2,
                   const std::error_code& code) {
    if (!code) {
        if (ec != nullptr) ec->clear();
        return;
    }
    if (ec == nullptr) throw filesystem_error(operation, p1, p2, code);
    *ec = code;
}

// The one implementation of an operation, `body(code)`, run for either public form. After a
// failure the result is what the body gave, or the empty value of its type when it threw.
template <class Body>
auto reported(const char* operation, std::error_code* ec, const path& p1, const path& p2,
              Body body) {
    using Result = decltype(body(std::declval<std::error_code&>()));
    std::error_code code;
    if constexpr (std::is_void_v<Result>) {
        caught(code, [&] { body(code); });
        settle(operation, ec, p1, p2, code);
    } else {
        Result result{};
        caught(code, [&] { result = body(code); });
        settle(operation, ec, p1, p2, code);
        return result;
    }
}

template <class Body>
auto reported(const char* operation, std::error_code* ec, const path& p, Body body) {
    return reported(operation, ec, p, path(), std::move(body));
}

}  // namespace winfs
