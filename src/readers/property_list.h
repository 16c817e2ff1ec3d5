#pragma once

// A narrow view of parsed property lists for the tool-output readers: documents are owned,
// nodes are borrowed from their document and valid as long as it lives.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace brivane::plist {

using Node = void*;

struct DocumentDeleter {
    void operator()(Node root) const;
};
using Document = std::unique_ptr<void, DocumentDeleter>;

// XML or binary; null when the bytes are not a property list or nest deeper than any tool
// output would (the parser recurses, so depth is bounded before it runs).
Document parse(std::string_view bytes);

bool isDictionary(Node node);
// The entry of a dictionary, or null when the node is not a dictionary or lacks the key.
Node item(Node dictionary, const char* key);
// Dictionary entry count, 0 for anything else.
std::size_t entryCount(Node dictionary);

bool isArray(Node node);
std::size_t arraySize(Node array);
Node arrayItem(Node array, std::size_t index);

std::optional<std::string_view> stringValue(Node node);
std::optional<bool> booleanValue(Node node);
// Integers and reals, integers with their sign.
std::optional<double> numberValue(Node node);
// Integers, and reals with an integral value, that fit the type.
std::optional<std::int64_t> int64Value(Node node);
std::optional<std::uint64_t> uint64Value(Node node);

} // namespace brivane::plist
