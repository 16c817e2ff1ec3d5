#include "readers/property_list.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <plist/plist.h>

namespace brivane::plist {
namespace {

// Real tool output nests a handful of levels; this leaves ample room while keeping the
// parser's recursion far from the end of a worker thread's stack.
constexpr std::size_t maximumDepth = 256;
constexpr std::uint64_t maximumBinaryObjects = 1u << 16;
constexpr std::string_view binaryMagic = "bplist00";

bool startsWith(std::string_view text, std::size_t at, std::string_view prefix) {
    return text.compare(at, prefix.size(), prefix) == 0;
}

// Counts open container elements; comments and character data count too, which only errs
// on the side of refusing.
bool xmlNestingWithinLimit(std::string_view text) {
    std::size_t depth = 0;
    for (std::size_t at = text.find('<'); at != std::string_view::npos;
         at = text.find('<', at + 1)) {
        const bool opens = startsWith(text, at, "<array") || startsWith(text, at, "<dict");
        if (opens) {
            const auto end = text.find('>', at);
            if (end != std::string_view::npos && text[end - 1] == '/') {
                continue;
            }
            if (++depth > maximumDepth) {
                return false;
            }
        } else if ((startsWith(text, at, "</array") || startsWith(text, at, "</dict")) &&
                   depth > 0) {
            --depth;
        }
    }
    return true;
}

// The binary form bounds nesting by its object count, read from the trailer.
bool binaryObjectCountWithinLimit(std::string_view bytes) {
    constexpr std::size_t trailerSize = 32;
    constexpr std::size_t objectCountOffset = 8;
    if (bytes.size() < binaryMagic.size() + trailerSize) {
        return false;
    }
    const auto trailer = bytes.substr(bytes.size() - trailerSize);
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        count = (count << 8) | static_cast<unsigned char>(trailer[objectCountOffset + i]);
    }
    return count <= maximumBinaryObjects;
}

struct Integer {
    bool negative;
    std::uint64_t bits; // two's complement when negative
};

// The parser keeps every integer as 64 bits and remembers only internally whether it was
// signed; values with the top bit set are ambiguous, and its XML writer tells them apart.
bool storedAsNegative(Node node) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (xml == nullptr) {
        return false;
    }
    const bool negative =
        std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
    std::free(xml);
    return negative;
}

std::optional<Integer> integerValue(Node node) {
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto type = plist_get_node_type(node);
    if (type == PLIST_UINT) {
        std::uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        const bool ambiguous =
            bits > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        return Integer{ambiguous && storedAsNegative(node), bits};
    }
    if (type == PLIST_REAL) {
        double value = 0;
        plist_get_real_val(node, &value);
        if (!std::isfinite(value) || std::trunc(value) != value) {
            return std::nullopt;
        }
        constexpr double twoTo63 = 9223372036854775808.0;
        constexpr double twoTo64 = 18446744073709551616.0;
        if (value < 0) {
            if (value < -twoTo63) {
                return std::nullopt;
            }
            return Integer{true, static_cast<std::uint64_t>(static_cast<std::int64_t>(value))};
        }
        if (value >= twoTo64) {
            return std::nullopt;
        }
        return Integer{false, static_cast<std::uint64_t>(value)};
    }
    return std::nullopt;
}

} // namespace

void DocumentDeleter::operator()(Node root) const {
    plist_free(root);
}

Document parse(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return nullptr;
    }
    const bool binary = bytes.substr(0, binaryMagic.size()) == binaryMagic;
    if (binary ? !binaryObjectCountWithinLimit(bytes) : !xmlNestingWithinLimit(bytes)) {
        return nullptr;
    }
    plist_t root = nullptr;
    const auto length = static_cast<std::uint32_t>(bytes.size());
    if (binary) {
        plist_from_bin(bytes.data(), length, &root);
    } else {
        plist_from_xml(bytes.data(), length, &root);
    }
    return Document(root);
}

bool isDictionary(Node node) {
    return node != nullptr && plist_get_node_type(node) == PLIST_DICT;
}

Node item(Node dictionary, const char* key) {
    return isDictionary(dictionary) ? plist_dict_get_item(dictionary, key) : nullptr;
}

std::size_t entryCount(Node dictionary) {
    return isDictionary(dictionary) ? plist_dict_get_size(dictionary) : 0;
}

bool isArray(Node node) {
    return node != nullptr && plist_get_node_type(node) == PLIST_ARRAY;
}

std::size_t arraySize(Node array) {
    return isArray(array) ? plist_array_get_size(array) : 0;
}

Node arrayItem(Node array, std::size_t index) {
    if (index >= arraySize(array)) {
        return nullptr;
    }
    return plist_array_get_item(array, static_cast<std::uint32_t>(index));
}

std::optional<std::string_view> stringValue(Node node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) {
        return std::string_view();
    }
    return std::string_view(text, static_cast<std::size_t>(length));
}

std::optional<bool> booleanValue(Node node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) {
        return std::nullopt;
    }
    std::uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

std::optional<double> numberValue(Node node) {
    if (node == nullptr) {
        return std::nullopt;
    }
    if (plist_get_node_type(node) == PLIST_REAL) {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    const auto integer = integerValue(node);
    if (!integer) {
        return std::nullopt;
    }
    return integer->negative ? static_cast<double>(static_cast<std::int64_t>(integer->bits))
                             : static_cast<double>(integer->bits);
}

std::optional<std::int64_t> int64Value(Node node) {
    const auto integer = integerValue(node);
    if (!integer) {
        return std::nullopt;
    }
    if (!integer->negative &&
        integer->bits > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(integer->bits);
}

std::optional<std::uint64_t> uint64Value(Node node) {
    const auto integer = integerValue(node);
    if (!integer || integer->negative) {
        return std::nullopt;
    }
    return integer->bits;
}

} // namespace brivane::plist
