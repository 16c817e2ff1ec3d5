#pragma once

// Typed reading of JSON for the document decoders: strict type checks, range-checked integers,
// records through their field lists (formats/document_fields.h). The text is read once, front to
// back, straight into the records: no tree is built, and a member no record knows is checked
// and skipped.

#include "formats/document_fields.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane {

// A JSON number as the text wrote it: an integer without fraction or exponent that fits 64 bits
// (unsigned when not negative), else a finite double.
struct JsonNumber {
    enum class Kind { unsignedInteger, signedInteger, floating } kind = Kind::floating;
    std::uint64_t unsignedValue = 0;
    std::int64_t signedValue = 0;
    double floatingValue = 0;
};

// Reads RFC 8259 JSON (a UTF-8 byte order mark at the start is skipped) one value at a time.
// The JSON library checks the whole text first (syntax, UTF-8, escapes, number ranges) and hands
// its values to a flat list, which the cursor walks: no tree of objects is built. Malformed text
// or nesting deeper than maxDecodingDepth makes the cursor fail for good.
class JsonCursor {
public:
    explicit JsonCursor(std::string_view text);

    bool ok() const { return ok_; }
    bool fail() { return ok_ = false; }
    // Where the cursor is, to come back to after a value that did not decode.
    struct Position {
        std::size_t at;
    };
    Position position() const { return {at_}; }
    void rewind(Position position) {
        at_ = position.at;
        ok_ = !tokens_.empty();
    }

    // What the next value is, without reading it.
    enum class Next { object, array, string, number, boolean, null, invalid };
    Next peek();

    // The next member of an object, its key in `key` (valid while the cursor lives); false at
    // the object's end, which it takes, or on failure.
    bool member(std::string_view& key);
    // Whether another element of an array follows; takes the end.
    bool element();
    bool enter(char bracket); // '{' or '['

    bool string(std::string& out);
    bool number(JsonNumber& out);
    bool boolean(bool& out);
    bool null();
    bool skip(); // any one value
    // Nothing is left.
    bool atEnd();

private:
    struct Builder;
    enum class Kind : std::uint8_t {
        objectStart,
        objectEnd,
        arrayStart,
        arrayEnd,
        key,
        string,
        unsignedInteger,
        signedInteger,
        floating,
        boolean,
        null
    };
    // One value or bracket: strings are spans of `text_`; a start bracket's offset is the index
    // past its partner, so skipping an object or array costs one step.
    struct Token {
        Kind kind = Kind::null;
        std::uint32_t offset = 0; // a string's start in text_, or a start bracket's end
        std::uint32_t length = 0;
        union {
            std::uint64_t unsignedValue = 0;
            std::int64_t signedValue;
            double floatingValue;
            bool flag;
        };
    };

    const Token* next(Kind kind);
    std::string_view textOf(const Token& token) const {
        return {text_.data() + token.offset, token.length};
    }

    std::vector<Token> tokens_;
    std::string text_; // every string and key, unescaped, one after another
    std::size_t at_ = 0;
    bool ok_ = true;
};

bool readJson(JsonCursor& in, std::int64_t& out);
bool readJson(JsonCursor& in, std::uint32_t& out);
bool readJson(JsonCursor& in, double& out);
bool readJson(JsonCursor& in, bool& out);
bool readJson(JsonCursor& in, std::string& out);

template <DocumentRecord Record> bool readJson(JsonCursor& in, Record& record);

template <typename Element> bool readJson(JsonCursor& in, std::vector<Element>& out) {
    if (!in.enter('[')) {
        return false;
    }
    out.clear();
    while (in.element()) {
        if (!readJson(in, out.emplace_back())) {
            return false;
        }
    }
    return in.ok();
}

// Reads a value for a member that may be given again later: one that does not decode is
// skipped and fails the document only when no later one of the same key does.
template <typename Value> bool readOrSkip(JsonCursor& in, Value& out, bool& decoded) {
    const auto start = in.position();
    decoded = readJson(in, out);
    if (!decoded) {
        in.rewind(start);
        return in.skip();
    }
    return true;
}

// A JSON object as a map from its keys to decoded values; of a key given twice, the last holds.
template <typename Value>
bool readJson(JsonCursor& in, std::map<std::string, Value, std::less<>>& out) {
    if (!in.enter('{')) {
        return false;
    }
    out.clear();
    std::map<std::string, Value, std::less<>> failed;
    std::string_view key;
    while (in.member(key)) {
        std::string name(key);
        Value value{};
        bool decoded = false;
        if (!readOrSkip(in, value, decoded)) {
            return false;
        }
        if (decoded) {
            failed.erase(name);
            out.insert_or_assign(std::move(name), std::move(value));
        } else {
            out.erase(name);
            failed.try_emplace(std::move(name));
        }
    }
    return in.ok() && failed.empty();
}

namespace detail {

// Reads the value of the member named `key` into its field, or skips it for an unknown key.
// `seen` marks the fields given, `failed` those whose last value did not decode, by their
// position in the list.
template <typename Record>
bool readMember(JsonCursor& in, Record& record, std::string_view key, std::uint64_t& seen,
                std::uint64_t& failed) {
    bool known = false;
    bool read = true;
    std::size_t index = 0;
    forEachField(record, [&](std::string_view name, auto& member) {
        const std::uint64_t bit = std::uint64_t{1} << index++;
        if (known || name != key) {
            return;
        }
        known = true;
        seen |= bit;
        using Member = std::remove_cvref_t<decltype(member)>;
        bool decoded = true;
        if constexpr (isOptional<Member>) {
            if (in.peek() == JsonCursor::Next::null) {
                member.reset();
                read = in.null();
            } else {
                // Assigned rather than emplaced: clang takes a nested record with default
                // member initializers for one emplace() cannot make.
                member = typename Member::value_type{};
                read = readOrSkip(in, *member, decoded);
            }
        } else {
            member = Member{};
            read = readOrSkip(in, member, decoded);
        }
        failed = decoded ? failed & ~bit : failed | bit;
    });
    return known ? read : in.skip();
}

} // namespace detail

// A record through its field list: optional members may be missing or null, others must be
// present with the right type; of a key given twice, the last holds.
template <DocumentRecord Record> bool readJson(JsonCursor& in, Record& record) {
    constexpr std::size_t count = std::tuple_size_v<decltype(Fields<Record>::list)>;
    static_assert(count <= 64);
    if (!in.enter('{')) {
        return false;
    }
    std::uint64_t seen = 0;
    std::uint64_t failed = 0;
    std::string_view key;
    while (in.member(key)) {
        if (!detail::readMember(in, record, key, seen, failed)) {
            return in.fail();
        }
    }
    std::uint64_t required = 0;
    std::size_t index = 0;
    forEachField(record, [&](std::string_view, auto& member) {
        if constexpr (!isOptional<std::remove_cvref_t<decltype(member)>>) {
            required |= std::uint64_t{1} << index;
        }
        ++index;
    });
    return in.ok() && failed == 0 && (seen & required) == required;
}

// Parses and decodes a whole document; nullopt on any failure, never an exception.
template <typename Record> std::optional<Record> decodeDocument(std::string_view text);

template <typename Record> std::optional<Record> decodeDocument(std::string_view text) {
    try {
        JsonCursor in(text);
        Record record{};
        if (!readJson(in, record) || !in.atEnd()) {
            return std::nullopt;
        }
        return record;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace brivane
