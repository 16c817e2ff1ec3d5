#include "identity/code_requirement.h"

#include <algorithm>

namespace brivane::identity {

class RequirementParser {
public:
    explicit RequirementParser(std::string_view text) : text_(text) {}

    std::optional<CodeRequirement> parse() {
        const auto root = parseOr(0);
        skipBlanks();
        if (!root || position_ != text_.size()) {
            return std::nullopt;
        }
        return CodeRequirement(std::move(nodes_));
    }

private:
    using Kind = CodeRequirement::Kind;

    static bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\t'; }
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipBlanks() {
        while (position_ < text_.size() && isBlank(text_[position_])) {
            ++position_;
        }
    }

    std::string_view peekWord() {
        skipBlanks();
        std::size_t end = position_;
        while (end < text_.size() && isLetter(text_[end])) {
            ++end;
        }
        return text_.substr(position_, end - position_);
    }

    // A whole run of letters must match: "andidentifier" is not "and" and then a word.
    bool takeKeyword(std::string_view word) {
        if (peekWord() != word) {
            return false;
        }
        position_ += word.size();
        return true;
    }

    bool takeChar(char c, bool blanksBefore = true) {
        if (blanksBefore) {
            skipBlanks();
        }
        if (position_ < text_.size() && text_[position_] == c) {
            ++position_;
            return true;
        }
        return false;
    }

    // Quoted text without escapes: the companion never writes any.
    std::optional<std::string> takeString() {
        if (!takeChar('"')) {
            return std::nullopt;
        }
        const auto end = text_.find('"', position_);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::string value(text_.substr(position_, end - position_));
        if (value.find('\\') != std::string::npos) {
            return std::nullopt;
        }
        position_ = end + 1;
        return value;
    }

    std::optional<std::uint32_t> add(CodeRequirement::Node node) {
        nodes_.push_back(std::move(node));
        return static_cast<std::uint32_t>(nodes_.size() - 1);
    }

    // Recursive descent, at most maximumNesting parentheses deep.
    // NOLINTBEGIN(misc-no-recursion)
    std::optional<std::uint32_t> parseOr(int depth) {
        auto left = parseAnd(depth);
        while (left && takeKeyword("or")) {
            const auto right = parseAnd(depth);
            if (!right) {
                return std::nullopt;
            }
            left = add({Kind::any, {}, *left, *right});
        }
        return left;
    }

    std::optional<std::uint32_t> parseAnd(int depth) {
        auto left = parsePrimary(depth);
        while (left && takeKeyword("and")) {
            const auto right = parsePrimary(depth);
            if (!right) {
                return std::nullopt;
            }
            left = add({Kind::all, {}, *left, *right});
        }
        return left;
    }

    std::optional<std::uint32_t> parsePrimary(int depth) {
        if (takeChar('(')) {
            if (depth >= CodeRequirement::maximumNesting) {
                return std::nullopt;
            }
            const auto inner = parseOr(depth + 1);
            if (!inner || !takeChar(')')) {
                return std::nullopt;
            }
            return inner;
        }
        if (takeKeyword("anchor")) {
            if (!takeKeyword("apple") || !takeKeyword("generic")) {
                return std::nullopt;
            }
            return add({Kind::anchor, {}});
        }
        if (takeKeyword("identifier")) {
            auto value = takeString();
            if (!value) {
                return std::nullopt;
            }
            return add({Kind::identifier, std::move(*value)});
        }
        if (takeKeyword("certificate")) {
            return parseLeafClause();
        }
        return std::nullopt;
    }
    // NOLINTEND(misc-no-recursion)

    std::optional<std::uint32_t> parseLeafClause() {
        if (!takeKeyword("leaf") || !takeChar('[', false)) {
            return std::nullopt;
        }
        const auto close = text_.find(']', position_);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const auto key = text_.substr(position_, close - position_);
        position_ = close + 1;
        if (key == "subject.OU") {
            if (!takeChar('=')) {
                return std::nullopt;
            }
            auto value = takeString();
            if (!value) {
                return std::nullopt;
            }
            return add({Kind::organizationalUnit, std::move(*value)});
        }
        constexpr std::string_view fieldPrefix = "field.";
        if (key.starts_with(fieldPrefix) && isDottedOid(key.substr(fieldPrefix.size())) &&
            takeKeyword("exists")) {
            return add({Kind::extension, std::string(key.substr(fieldPrefix.size()))});
        }
        return std::nullopt;
    }

    static bool isDottedOid(std::string_view oid) {
        if (oid.empty() || oid.front() == '.' || oid.back() == '.' ||
            oid.find("..") != std::string_view::npos) {
            return false;
        }
        return std::all_of(oid.begin(), oid.end(), [](char c) { return isDigit(c) || c == '.'; });
    }

    std::string_view text_;
    std::size_t position_ = 0;
    std::vector<CodeRequirement::Node> nodes_;
};

std::optional<CodeRequirement> CodeRequirement::parse(std::string_view text) {
    if (text.size() > maximumLength) {
        return std::nullopt;
    }
    return RequirementParser(text).parse();
}

bool CodeRequirement::isSatisfiedBy(const platform::PeerSignature& signature) const {
    return !nodes_.empty() && evaluate(static_cast<std::uint32_t>(nodes_.size() - 1), signature);
}

// One level per operator at most, and maximumLength keeps those to a few thousand.
// NOLINTNEXTLINE(misc-no-recursion)
bool CodeRequirement::evaluate(std::uint32_t index,
                               const platform::PeerSignature& signature) const {
    const auto& node = nodes_[index];
    switch (node.kind) {
    case Kind::anchor:
        return signature.anchored;
    case Kind::identifier:
        return signature.identifier == node.value;
    case Kind::organizationalUnit:
        return signature.leafOrganizationalUnit == node.value;
    case Kind::extension:
        return std::find(signature.leafExtensionOids.begin(), signature.leafExtensionOids.end(),
                         node.value) != signature.leafExtensionOids.end();
    case Kind::all:
        return evaluate(node.left, signature) && evaluate(node.right, signature);
    case Kind::any:
        return evaluate(node.left, signature) || evaluate(node.right, signature);
    }
    return false;
}

} // namespace brivane::identity
