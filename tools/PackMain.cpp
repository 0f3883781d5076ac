#include "tools/Pack.h"

#include <iostream>

int main(int argc, char** argv) {
    return pack::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
