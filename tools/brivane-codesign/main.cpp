// brivane-codesign: signatures of executables and installer packages for this build's
// trust anchors. The "pkgutil" and "spctl" forms stand in for the package and policy tools
// of the updater; the agent finds this executable next to its own.
#include "commands.h"

#include <iostream>

namespace {

constexpr const char* usage =
    "usage: brivane-codesign sign --identifier ID --certificate PEM --key PEM [--chain PEM] "
    "EXECUTABLE\n"
    "       brivane-codesign verify EXECUTABLE\n"
    "       brivane-codesign package --certificate PEM --key PEM [--chain PEM] PAYLOAD PACKAGE\n"
    "       brivane-codesign pkgutil --check-signature PACKAGE\n"
    "       brivane-codesign spctl --assess --type install PACKAGE\n";

} // namespace

int main(int argc, char** argv) {
    using namespace brivane::codesign;
    if (argc < 2) {
        std::cerr << usage;
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> words(argv + 2, argv + argc);
    if (command == "sign") {
        return signExecutable(words);
    }
    if (command == "verify") {
        return verifyExecutable(words);
    }
    if (command == "package") {
        return signPackage(words);
    }
    if (command == "pkgutil") {
        return checkPackageSignature(words);
    }
    if (command == "spctl") {
        return assessPackage(words);
    }
    std::cerr << usage;
    return 2;
}
