#include "decomposition_report.h"

#include <iostream>
#include <string>
#include <vector>

#include "platform.h"

void more() {
    const std::vector<std::string> entries{
        "C:\\",
        "C:\\temp\\test.txt",
        "C:\\\\temp\\\\test.txt",
        "\\\\?\\C:\\temp\\test.txt",
    };
    for (const std::string& entry : entries) {
        const fs::path p(entry);
        std::cout << std::endl;
        std::cout << entry << std::endl;
        std::cout << "root_name\t" << p.root_name().string() << std::endl;
        std::cout << "root_directory\t" << p.root_directory().string() << std::endl;
        std::cout << "root_path\t" << p.root_path().string() << std::endl;
        std::cout << "relative_path\t" << p.relative_path().string() << std::endl;
        std::cout << "is_absolute\t" << p.is_absolute() << std::endl;
        std::cout << "parent_path\t" << p.parent_path().string() << std::endl;
        std::cout << "filename\t" << p.filename().string() << std::endl;
        std::cout << "stem\t" << p.stem().string() << std::endl;
        std::cout << "extension\t" << p.extension().string() << std::endl;
    }
}
