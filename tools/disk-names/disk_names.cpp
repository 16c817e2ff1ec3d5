#include "disk_names.h"

#include "base/whole_number.h"

#include <algorithm>
#include <tuple>

namespace brivane::system_tools {
namespace {

constexpr std::string_view diskPrefix = "disk";

bool allOf(std::string_view text, bool (*test)(char)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), test);
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}

std::optional<std::size_t> number(std::string_view digits) {
    if (!allOf(digits, isDigit) || (digits.size() > 1 && digits[0] == '0')) {
        return std::nullopt;
    }
    return base::wholeNumber<std::size_t>(digits);
}

// Where a block device sorts, or nothing when it is not a whole disk: group, then the numbers
// or letters of its kernel name compared as the kernel counts them (sdz before sdaa).
struct Rank {
    int group;
    std::size_t first;
    std::size_t second;
    std::string_view letters;

    bool operator<(const Rank& other) const {
        return std::tie(group, first, second, letters) <
               std::tie(other.group, other.first, other.second, other.letters);
    }
};

std::optional<Rank> rank(std::string_view name) {
    if (name.starts_with("nvme")) {
        // nvme<controller>n<namespace>; nvme0c0n1 (a multipath path) is not a disk of its own.
        const auto rest = name.substr(4);
        const auto separator = rest.find('n');
        if (separator == std::string_view::npos) {
            return std::nullopt;
        }
        const auto controller = number(rest.substr(0, separator));
        const auto space = number(rest.substr(separator + 1));
        if (!controller || !space) {
            return std::nullopt;
        }
        return Rank{0, *controller, *space, {}};
    }
    struct Family {
        std::string_view prefix;
        int group;
        std::size_t order;
    };
    for (const Family family :
         {Family{"sd", 1, 0}, Family{"vd", 2, 0}, Family{"xvd", 2, 1}, Family{"hd", 2, 2}}) {
        if (name.starts_with(family.prefix)) {
            const auto letters = name.substr(family.prefix.size());
            if (!allOf(letters, isLower)) {
                return std::nullopt;
            }
            return Rank{family.group, family.order, letters.size(), letters};
        }
    }
    if (name.starts_with("mmcblk")) {
        if (const auto index = number(name.substr(6))) {
            return Rank{3, *index, 0, {}};
        }
    }
    return std::nullopt;
}

} // namespace

std::vector<std::string> wholeDisks(std::vector<std::string> blockNames) {
    std::erase_if(blockNames, [](const std::string& name) { return !rank(name); });
    std::sort(blockNames.begin(), blockNames.end(),
              [](const std::string& a, const std::string& b) { return *rank(a) < *rank(b); });
    blockNames.erase(std::unique(blockNames.begin(), blockNames.end()), blockNames.end());
    return blockNames;
}

std::optional<std::size_t> diskNumber(std::string_view name) {
    if (!name.starts_with(diskPrefix)) {
        return std::nullopt;
    }
    return number(name.substr(diskPrefix.size()));
}

std::string diskName(std::size_t number) {
    return std::string(diskPrefix) + std::to_string(number);
}

} // namespace brivane::system_tools
