// The programs' own, not installed.
// The decomposition report: how a path takes apart, one labelled line per part. Everything here is
// safe to call concurrently, except that more() writes to std::cout.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"

// The report's nine labelled values for `p`, in order: root name, root directory, root path,
// relative path, absoluteness ("1" or "0"), parent path, file name, stem and extension.
std::vector<std::pair<std::string, std::string>> decomposition(const fs::path& p);

// One entry of the report: an empty line, `entry` as given, then "label\tvalue" for each of the
// nine values of fs::path(entry).
void writeDecomposition(std::ostream& out, const std::string& entry);

// Writes the entries of four fixed paths to std::cout.
void more();
