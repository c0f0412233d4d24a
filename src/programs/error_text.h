// The programs' own, not installed.
// The text that a failure line gives for an error: the system's text for its own codes (Windows's
// texts, from winfs off Windows), and the path type's "Cannot convert character sequence" for a
// name that is not valid UTF-8, where the code alone would give the host's text. Safe to call
// concurrently.
#pragma once

#include <string>
#include <system_error>

inline std::string errorText(const std::error_code& ec) {
    if (ec == std::errc::illegal_byte_sequence) return "Cannot convert character sequence";
    return ec.message();
}
