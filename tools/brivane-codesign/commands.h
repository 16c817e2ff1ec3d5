#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brivane::codesign {

// "--name value" options and the remaining operands of a command line.
struct Arguments {
    std::map<std::string, std::string> options;
    std::vector<std::string> operands;

    static std::optional<Arguments> parse(const std::vector<std::string>& words,
                                          const std::vector<std::string>& valueOptions);
    std::optional<std::string> option(const std::string& name) const;
};

std::optional<std::string> readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

int signExecutable(const std::vector<std::string>& words);
int verifyExecutable(const std::vector<std::string>& words);
int signPackage(const std::vector<std::string>& words);
int checkPackageSignature(const std::vector<std::string>& words);
int assessPackage(const std::vector<std::string>& words);

} // namespace brivane::codesign
