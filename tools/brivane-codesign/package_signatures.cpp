#include "backends/posix/trust/cms_signature.h"
#include "commands.h"

#include <iostream>

namespace brivane::codesign {
namespace {

using namespace brivane::platform::posix;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int signPackage(const std::vector<std::string>& words) {
    const auto arguments = Arguments::parse(words, {"--certificate", "--key", "--chain"});
    if (!arguments || arguments->operands.size() != 2 || !arguments->option("--certificate") ||
        !arguments->option("--key")) {
        std::cerr << "package: --certificate, --key, a payload and a package path are required\n";
        return 2;
    }
    const auto payload = readFile(arguments->operands[0]);
    const auto certificate = readFile(*arguments->option("--certificate"));
    const auto key = readFile(*arguments->option("--key"));
    const auto chain = arguments->option("--chain") ? readFile(*arguments->option("--chain"))
                                                    : std::optional<std::string>("");
    if (!payload || !certificate || !key || !chain) {
        std::cerr << "package: cannot read an input file\n";
        return 1;
    }
    std::string error;
    const auto package = cmsSign(*payload, {*certificate, *key, *chain}, error);
    if (!package || !writeFile(arguments->operands[1], *package)) {
        std::cerr << "package: " << (error.empty() ? "cannot write the package" : error) << "\n";
        return 1;
    }
    return 0;
}

// Prints the status and the numbered chain, leaf first, the leaf as
// "1. <common name> (<organisational unit>)"; fails unless the package verifies.
int checkPackageSignature(const std::vector<std::string>& words) {
    if (words.size() != 2 || words[0] != "--check-signature") {
        std::cerr << "pkgutil: --check-signature PACKAGE\n";
        return 2;
    }
    const auto package = readFile(words[1]);
    std::cout << "Package \"" << baseName(words[1]) << "\":\n";
    if (!package) {
        std::cout << "   Status: package unreadable\n";
        return 1;
    }
    const auto result = CmsVerifier().verify(bytesOf(*package));
    if (!result.verified) {
        std::cout << "   Status: no valid signature (" << result.error << ")\n";
        return 1;
    }
    std::cout << "   Status: signed by a certificate trusted by this build\n"
              << "   Certificate Chain:\n";
    for (std::size_t i = 0; i < result.chain.size(); ++i) {
        const auto& certificate = result.chain[i];
        std::cout << "    " << (i + 1) << ". " << certificate.commonName;
        if (i == 0 && certificate.organizationalUnit) {
            std::cout << " (" << *certificate.organizationalUnit << ")";
        }
        std::cout << "\n       SHA256 Fingerprint:\n           " << certificate.sha256Fingerprint
                  << "\n";
    }
    return 0;
}

// Accepts for installation only a package that verifies and whose leaf is an installer
// certificate.
int assessPackage(const std::vector<std::string>& words) {
    if (words.size() != 4 || words[0] != "--assess" || words[1] != "--type" ||
        words[2] != "install") {
        std::cerr << "spctl: --assess --type install PACKAGE\n";
        return 2;
    }
    const auto package = readFile(words[3]);
    if (!package) {
        std::cerr << words[3] << ": unreadable\n";
        return 1;
    }
    const auto result = CmsVerifier().verify(bytesOf(*package));
    if (!result.verified || result.chain.empty() || !isInstallerCertificate(result.chain.front())) {
        std::cerr << words[3] << ": rejected\n";
        return 3;
    }
    std::cerr << words[3] << ": accepted\n";
    return 0;
}

} // namespace brivane::codesign
