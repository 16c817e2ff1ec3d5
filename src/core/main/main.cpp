#include "core/command_line.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> argumentVector(argv, argv + argc);
    return brivane::runCommandLine(argumentVector);
}
