// Internal to winfs: the switches that winfs reads from its environment, each on or off.
//
// Threading: safe from any number of threads while the environment is not changed.
#pragma once

#include <optional>

namespace winfs {

// What the variable `name` says of its switch: on when it is unset, empty, 1, true, yes or on (in
// any case), off for 0, false, no or off; nothing for any other value.
std::optional<bool> switchSetting(const char* name);

// Says on standard error that the value of `name` is not understood, and what the values mean:
// "winfs: NAME=VALUE is not understood (`meaning`".
void reportNotUnderstood(const char* name, const char* meaning);

}  // namespace winfs
