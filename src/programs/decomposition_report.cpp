#include "decomposition_report.h"

#include <iostream>

std::vector<std::pair<std::string, std::string>> decomposition(const fs::path& p) {
    return {
        {"root_name", p.root_name().string()},
        {"root_directory", p.root_directory().string()},
        {"root_path", p.root_path().string()},
        {"relative_path", p.relative_path().string()},
        {"is_absolute", p.is_absolute() ? "1" : "0"},
        {"parent_path", p.parent_path().string()},
        {"filename", p.filename().string()},
        {"stem", p.stem().string()},
        {"extension", p.extension().string()},
    };
}

void writeDecomposition(std::ostream& out, const std::string& entry) {
    // Parsed before anything is written, so that a path that cannot be taken apart writes nothing.
    const auto parts = decomposition(fs::path(entry));
    out << '\n' << entry << '\n';
    for (const auto& [label, value] : parts)
        out << label << '\t' << value << '\n';
}

void more() {
    for (const char* entry : {
             "C:\\",
             "C:\\temp\\test.txt",
             "C:\\\\temp\\\\test.txt",
             "\\\\?\\C:\\temp\\test.txt",
         }) {
        writeDecomposition(std::cout, entry);
    }
    std::cout.flush();
}
