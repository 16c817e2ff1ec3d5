#include "commands.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace brivane::codesign {

std::optional<Arguments> Arguments::parse(const std::vector<std::string>& words,
                                          const std::vector<std::string>& valueOptions) {
    Arguments parsed;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto& word = words[i];
        if (std::find(valueOptions.begin(), valueOptions.end(), word) != valueOptions.end()) {
            if (i + 1 >= words.size()) {
                return std::nullopt;
            }
            parsed.options[word] = words[++i];
        } else if (word.starts_with("--")) {
            return std::nullopt;
        } else {
            parsed.operands.push_back(word);
        }
    }
    return parsed;
}

std::optional<std::string> Arguments::option(const std::string& name) const {
    const auto found = options.find(name);
    if (found == options.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

} // namespace brivane::codesign
