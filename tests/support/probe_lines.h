// What the probe writes first on a prefix holding c:\zor\store, working outside drive C.
#pragma once

#include <string>
#include <vector>

// Sections A to C as far as the first line that depends on c:\zor existing.
inline const std::vector<std::string> kLinesBeforeCanonical = {
    "0",
    "0",
    "1",
    "0",
    "\"c:\" -> not an absolute path",
    "\"C:\\\\\"",
    "\"c:\\\\\" -> \"C:\\\\\"",
    "\"c:\\\\zor\\\\..\\\\zor\" -> \"C:\\\\zor\"",
    " da test -> C:\\zor-hack\\foo",
};
