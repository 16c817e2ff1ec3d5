#include "backends/posix/trust/cms_signature.h"
#include "base/sha256_hex.h"
#include "commands.h"

#include <iostream>

namespace brivane::codesign {
namespace {

using namespace brivane::platform::posix;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

} // namespace

int signExecutable(const std::vector<std::string>& words) {
    const auto arguments =
        Arguments::parse(words, {"--identifier", "--certificate", "--key", "--chain"});
    if (!arguments || arguments->operands.size() != 1 || !arguments->option("--identifier") ||
        !arguments->option("--certificate") || !arguments->option("--key")) {
        std::cerr << "sign: --identifier, --certificate, --key and one executable are required\n";
        return 2;
    }
    const auto& executable = arguments->operands.front();
    const auto program = readFile(executable);
    const auto certificate = readFile(*arguments->option("--certificate"));
    const auto key = readFile(*arguments->option("--key"));
    const auto chain = arguments->option("--chain") ? readFile(*arguments->option("--chain"))
                                                    : std::optional<std::string>("");
    if (!program || !certificate || !key || !chain) {
        std::cerr << "sign: cannot read an input file\n";
        return 1;
    }
    std::string error;
    const auto signature =
        cmsSign(executableSignatureContent(*arguments->option("--identifier"),
                                           brivane::base::sha256Hex(bytesOf(*program))),
                {*certificate, *key, *chain}, error);
    if (!signature || !writeFile(executable + ".sig", *signature)) {
        std::cerr << "sign: " << (error.empty() ? "cannot write the signature" : error) << "\n";
        return 1;
    }
    return 0;
}

int verifyExecutable(const std::vector<std::string>& words) {
    const auto arguments = Arguments::parse(words, {});
    if (!arguments || arguments->operands.size() != 1) {
        std::cerr << "verify: one executable is required\n";
        return 2;
    }
    const auto& executable = arguments->operands.front();
    const auto program = readFile(executable);
    const auto signature = readFile(executable + ".sig");
    if (!program || !signature) {
        std::cout << "verified: no (executable or signature unreadable)\n";
        return 1;
    }
    const auto result = CmsVerifier().verify(bytesOf(*signature));
    const auto content = parseExecutableSignatureContent(result.content);
    if (content) {
        std::cout << "identifier: " << content->identifier << "\n";
    }
    if (!result.chain.empty()) {
        std::cout << "team: " << result.chain.front().organizationalUnit.value_or("") << "\n";
        for (std::size_t i = 0; i < result.chain.size(); ++i) {
            std::cout << (i + 1) << ". " << result.chain[i].commonName << "\n";
        }
    }
    const bool matches =
        content && content->executableSha256 == brivane::base::sha256Hex(bytesOf(*program));
    if (result.verified && matches) {
        std::cout << "verified: yes\n";
        return 0;
    }
    std::cout << "verified: no ("
              << (result.verified ? (content ? "executable changed after signing"
                                             : "not an executable signature")
                                  : result.error)
              << ")\n";
    return 1;
}

} // namespace brivane::codesign
