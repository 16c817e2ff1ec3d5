#pragma once

#include "platform/peer_signature.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::identity {

// A parsed code-signing requirement: the subset the companion itself writes, namely
// `anchor apple generic`, `identifier "…"`, `certificate leaf[subject.OU] = "…"`,
// `certificate leaf[field.<OID>] exists`, `and`, `or` and parentheses; blanks, tabs and line
// feeds separate words. `and` binds tighter than `or`. Anything else does not parse.
class CodeRequirement {
public:
    // Deeper nesting than this is refused rather than risking the stack.
    static constexpr int maximumNesting = 64;
    static constexpr std::size_t maximumLength = 64 * 1024;

    static std::optional<CodeRequirement> parse(std::string_view text);

    bool isSatisfiedBy(const platform::PeerSignature& signature) const;

    enum class Kind : std::uint8_t { anchor, identifier, organizationalUnit, extension, all, any };
    struct Node {
        Kind kind;
        std::string value; // identifier, unit or OID
        std::uint32_t left = 0;
        std::uint32_t right = 0;
    };

private:
    explicit CodeRequirement(std::vector<Node> nodes) : nodes_(std::move(nodes)) {}
    bool evaluate(std::uint32_t index, const platform::PeerSignature& signature) const;

    std::vector<Node> nodes_; // the root is the last node
    friend class RequirementParser;
};

} // namespace brivane::identity
