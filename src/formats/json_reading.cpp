#include "formats/json_reading.h"

#include "formats/document_codec.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace brivane {
namespace {

// Numbers written with a fraction or exponent (and integers too long for 64 bits) arrive as
// doubles. Beyond 2^53 a double no longer tells which integer the text named, so only integral
// values below that magnitude are taken, and then only within the field's range.
template <typename Integer>
bool integralWithin(double value, double low, double end, Integer& out) {
    constexpr double exactLimit = 0x1p53;
    if (std::trunc(value) != value || value <= -exactLimit || value >= exactLimit || value < low ||
        value >= end) {
        return false;
    }
    out = static_cast<Integer>(value);
    return true;
}

} // namespace

// Receives the library's values in order and lays them out as tokens. Returning false stops the
// parse, which then reports failure.
struct JsonCursor::Builder {
    using Json = nlohmann::json;
    JsonCursor& cursor;
    std::vector<std::size_t> open; // the start brackets not yet closed

    bool add(Kind kind) {
        cursor.tokens_.emplace_back().kind = kind;
        return true;
    }
    bool text(Kind kind, const std::string& value) {
        if (cursor.text_.size() + value.size() > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        Token token;
        token.kind = kind;
        token.offset = static_cast<std::uint32_t>(cursor.text_.size());
        token.length = static_cast<std::uint32_t>(value.size());
        cursor.text_ += value;
        cursor.tokens_.push_back(token);
        return true;
    }
    bool start(Kind kind) {
        if (open.size() == maxDecodingDepth) {
            return false;
        }
        open.push_back(cursor.tokens_.size());
        return add(kind);
    }
    bool end(Kind kind) {
        add(kind);
        cursor.tokens_[open.back()].offset = static_cast<std::uint32_t>(cursor.tokens_.size());
        open.pop_back();
        return true;
    }

    bool null() { return add(Kind::null); }
    bool boolean(bool value) {
        add(Kind::boolean);
        cursor.tokens_.back().flag = value;
        return true;
    }
    bool number_integer(Json::number_integer_t value) {
        add(Kind::signedInteger);
        cursor.tokens_.back().signedValue = value;
        return true;
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        add(Kind::unsignedInteger);
        cursor.tokens_.back().unsignedValue = value;
        return true;
    }
    bool number_float(Json::number_float_t value, const std::string&) {
        if (!std::isfinite(value)) {
            return false;
        }
        add(Kind::floating);
        cursor.tokens_.back().floatingValue = value;
        return true;
    }
    bool string(std::string& value) { return text(Kind::string, value); }
    bool binary(Json::binary_t&) { return false; }
    bool key(std::string& value) { return text(Kind::key, value); }
    bool start_object(std::size_t) { return start(Kind::objectStart); }
    bool end_object() { return end(Kind::objectEnd); }
    bool start_array(std::size_t) { return start(Kind::arrayStart); }
    bool end_array() { return end(Kind::arrayEnd); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }
};

JsonCursor::JsonCursor(std::string_view text) {
    // A token's place is 32 bits wide; documents are far smaller. The library would take a NUL
    // for the end of the text and accept what comes before it.
    Builder builder{*this, {}};
    ok_ = text.size() < std::numeric_limits<std::uint32_t>::max() &&
          text.find('\0') == std::string_view::npos &&
          nlohmann::json::sax_parse(text.begin(), text.end(), &builder) && !tokens_.empty();
    if (!ok_) {
        tokens_.clear();
    }
}

const JsonCursor::Token* JsonCursor::next(Kind kind) {
    if (!ok_ || at_ >= tokens_.size() || tokens_[at_].kind != kind) {
        fail();
        return nullptr;
    }
    return &tokens_[at_++];
}

JsonCursor::Next JsonCursor::peek() {
    if (!ok_ || at_ >= tokens_.size()) {
        return Next::invalid;
    }
    switch (tokens_[at_].kind) {
    case Kind::objectStart:
        return Next::object;
    case Kind::arrayStart:
        return Next::array;
    case Kind::string:
        return Next::string;
    case Kind::unsignedInteger:
    case Kind::signedInteger:
    case Kind::floating:
        return Next::number;
    case Kind::boolean:
        return Next::boolean;
    case Kind::null:
        return Next::null;
    default:
        return Next::invalid;
    }
}

bool JsonCursor::enter(char bracket) {
    return next(bracket == '{' ? Kind::objectStart : Kind::arrayStart) != nullptr;
}

bool JsonCursor::member(std::string_view& key) {
    if (ok_ && at_ < tokens_.size() && tokens_[at_].kind == Kind::objectEnd) {
        ++at_;
        return false;
    }
    const Token* token = next(Kind::key);
    if (token == nullptr) {
        return false;
    }
    key = textOf(*token);
    return true;
}

bool JsonCursor::element() {
    if (!ok_ || at_ >= tokens_.size()) {
        return fail();
    }
    if (tokens_[at_].kind == Kind::arrayEnd) {
        ++at_;
        return false;
    }
    return true;
}

bool JsonCursor::string(std::string& out) {
    const Token* token = next(Kind::string);
    if (token == nullptr) {
        return false;
    }
    out.assign(textOf(*token));
    return true;
}

bool JsonCursor::number(JsonNumber& out) {
    if (peek() != Next::number) {
        return fail();
    }
    const Token& token = tokens_[at_++];
    switch (token.kind) {
    case Kind::unsignedInteger:
        out = {JsonNumber::Kind::unsignedInteger, token.unsignedValue, 0, 0};
        break;
    case Kind::signedInteger:
        out = {JsonNumber::Kind::signedInteger, 0, token.signedValue, 0};
        break;
    default:
        out = {JsonNumber::Kind::floating, 0, 0, token.floatingValue};
        break;
    }
    return true;
}

bool JsonCursor::boolean(bool& out) {
    const Token* token = next(Kind::boolean);
    out = token != nullptr && token->flag;
    return token != nullptr;
}

bool JsonCursor::null() {
    return next(Kind::null) != nullptr;
}

bool JsonCursor::skip() {
    switch (peek()) {
    case Next::object:
    case Next::array:
        at_ = tokens_[at_].offset;
        return true;
    case Next::invalid:
        return fail();
    default:
        ++at_;
        return true;
    }
}

bool JsonCursor::atEnd() {
    return ok_ && at_ == tokens_.size();
}

bool readJson(JsonCursor& in, std::int64_t& out) {
    JsonNumber number;
    if (in.peek() != JsonCursor::Next::number || !in.number(number)) {
        return false;
    }
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    switch (number.kind) {
    case JsonNumber::Kind::unsignedInteger:
        if (number.unsignedValue > static_cast<std::uint64_t>(max)) {
            return false;
        }
        out = static_cast<std::int64_t>(number.unsignedValue);
        return true;
    case JsonNumber::Kind::signedInteger:
        out = number.signedValue;
        return true;
    case JsonNumber::Kind::floating:
        break;
    }
    return integralWithin(number.floatingValue, -0x1p63, 0x1p63, out);
}

bool readJson(JsonCursor& in, std::uint32_t& out) {
    JsonNumber number;
    if (in.peek() != JsonCursor::Next::number || !in.number(number)) {
        return false;
    }
    switch (number.kind) {
    case JsonNumber::Kind::unsignedInteger:
        if (number.unsignedValue > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        out = static_cast<std::uint32_t>(number.unsignedValue);
        return true;
    case JsonNumber::Kind::signedInteger:
        // Only negative numbers read as signed; "-0" is the one that still fits.
        if (number.signedValue != 0) {
            return false;
        }
        out = 0;
        return true;
    case JsonNumber::Kind::floating:
        break;
    }
    return integralWithin(number.floatingValue, 0.0, 0x1p32, out);
}

bool readJson(JsonCursor& in, double& out) {
    JsonNumber number;
    if (in.peek() != JsonCursor::Next::number || !in.number(number)) {
        return false;
    }
    switch (number.kind) {
    case JsonNumber::Kind::unsignedInteger:
        out = static_cast<double>(number.unsignedValue);
        return true;
    case JsonNumber::Kind::signedInteger:
        out = static_cast<double>(number.signedValue);
        return true;
    case JsonNumber::Kind::floating:
        break;
    }
    out = number.floatingValue;
    return true;
}

bool readJson(JsonCursor& in, bool& out) {
    return in.peek() == JsonCursor::Next::boolean && in.boolean(out);
}

bool readJson(JsonCursor& in, std::string& out) {
    return in.peek() == JsonCursor::Next::string && in.string(out);
}

} // namespace brivane
