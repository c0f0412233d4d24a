#include <iostream>

#include "platform.h"

int main() {
    const fs::path root("/");
    const fs::path dot(".");
    const fs::path driveRoot("c:\\");
    const fs::path drive("c:");

    std::cout << root.is_absolute() << std::endl;
    std::cout << dot.is_absolute() << std::endl;
    std::cout << driveRoot.is_absolute() << std::endl;
    std::cout << drive.is_absolute() << std::endl;
    return 0;
}
