#include "formats/json_reading.h"

#include "base/utf8.h"
#include "formats/document_codec.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

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

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void appendUtf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

} // namespace

JsonCursor::JsonCursor(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) {
        at_ = 3;
    }
}

void JsonCursor::blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
        ++at_;
    }
}

JsonCursor::Next JsonCursor::peek() {
    blanks();
    if (!ok_ || at_ >= text_.size()) {
        return Next::invalid;
    }
    switch (text_[at_]) {
    case '{':
        return Next::object;
    case '[':
        return Next::array;
    case '"':
        return Next::string;
    case 't':
    case 'f':
        return Next::boolean;
    case 'n':
        return Next::null;
    default:
        return text_[at_] == '-' || isDigit(text_[at_]) ? Next::number : Next::invalid;
    }
}

bool JsonCursor::enter(char bracket) {
    blanks();
    if (!ok_ || at_ >= text_.size() || text_[at_] != bracket || depth_ == maxDecodingDepth) {
        return fail();
    }
    ++at_;
    ++depth_;
    return true;
}

bool JsonCursor::member(bool first, std::string_view& key) {
    blanks();
    if (!ok_ || at_ >= text_.size()) {
        return fail();
    }
    if (text_[at_] == '}') {
        ++at_;
        --depth_;
        return false;
    }
    if (!first) {
        if (text_[at_] != ',') {
            return fail();
        }
        ++at_;
        blanks();
    }
    if (at_ >= text_.size() || text_[at_] != '"') {
        return fail();
    }
    // A key without escapes is viewed in place.
    const std::size_t start = at_ + 1;
    std::size_t end = start;
    while (end < text_.size() && text_[end] != '"' && text_[end] != '\\' &&
           static_cast<unsigned char>(text_[end]) >= 0x20 &&
           static_cast<unsigned char>(text_[end]) < 0x80) {
        ++end;
    }
    if (end < text_.size() && text_[end] == '"') {
        key = text_.substr(start, end - start);
        at_ = end + 1;
    } else {
        key_.clear();
        if (!stringInto(key_)) {
            return fail();
        }
        key = key_;
    }
    blanks();
    if (at_ >= text_.size() || text_[at_] != ':') {
        return fail();
    }
    ++at_;
    return true;
}

bool JsonCursor::element(bool first) {
    blanks();
    if (!ok_ || at_ >= text_.size()) {
        return fail();
    }
    if (text_[at_] == ']') {
        ++at_;
        --depth_;
        return false;
    }
    if (!first) {
        if (text_[at_] != ',') {
            return fail();
        }
        ++at_;
    }
    return true;
}

bool JsonCursor::string(std::string& out) {
    blanks();
    out.clear();
    return stringInto(out) || fail();
}

// The string starting at at_ (its opening quote), unescaped, appended to out.
bool JsonCursor::stringInto(std::string& out) {
    if (!ok_ || at_ >= text_.size() || text_[at_] != '"') {
        return false;
    }
    ++at_;
    std::size_t run = at_; // start of the bytes not yet copied
    while (at_ < text_.size()) {
        const auto c = static_cast<unsigned char>(text_[at_]);
        if (c == '"') {
            out.append(text_.substr(run, at_ - run));
            ++at_;
            return true;
        }
        if (c < 0x20) {
            return false;
        }
        if (c >= 0x80) {
            const auto sequence = utf8::decode(text_, at_);
            if (!sequence.valid) {
                return false;
            }
            at_ += sequence.length;
            continue;
        }
        if (c != '\\') {
            ++at_;
            continue;
        }
        out.append(text_.substr(run, at_ - run));
        if (++at_ >= text_.size()) {
            return false;
        }
        const char escape = text_[at_++];
        switch (escape) {
        case '"':
        case '\\':
        case '/':
            out += escape;
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            const auto unit = [this]() -> long {
                if (at_ + 4 > text_.size()) {
                    return -1;
                }
                long value = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexValue(text_[at_++]);
                    if (digit < 0) {
                        return -1;
                    }
                    value = value * 16 + digit;
                }
                return value;
            };
            long point = unit();
            if (point < 0 || (point >= 0xDC00 && point <= 0xDFFF)) {
                return false;
            }
            if (point >= 0xD800 && point <= 0xDBFF) {
                if (!text_.substr(at_).starts_with("\\u")) {
                    return false;
                }
                at_ += 2;
                const long low = unit();
                if (low < 0xDC00 || low > 0xDFFF) {
                    return false;
                }
                point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(out, static_cast<char32_t>(point));
            break;
        }
        default:
            return false;
        }
        run = at_;
    }
    return false;
}

bool JsonCursor::number(JsonNumber& out) {
    blanks();
    if (!ok_) {
        return false;
    }
    const std::size_t start = at_;
    const auto digits = [this] {
        const std::size_t from = at_;
        while (at_ < text_.size() && isDigit(text_[at_])) {
            ++at_;
        }
        return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '-') {
        ++at_;
    }
    if (at_ < text_.size() && text_[at_] == '0') {
        ++at_;
    } else if (digits() == 0) {
        return fail();
    }
    bool integral = true;
    if (at_ < text_.size() && text_[at_] == '.') {
        ++at_;
        integral = false;
        if (digits() == 0) {
            return fail();
        }
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
        ++at_;
        integral = false;
        if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
            ++at_;
        }
        if (digits() == 0) {
            return fail();
        }
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + at_;
    if (integral) {
        if (*first == '-') {
            if (std::from_chars(first, last, out.signedValue).ec == std::errc{}) {
                out.kind = JsonNumber::Kind::signedInteger;
                return true;
            }
        } else if (std::from_chars(first, last, out.unsignedValue).ec == std::errc{}) {
            out.kind = JsonNumber::Kind::unsignedInteger;
            return true;
        }
    }
    out.kind = JsonNumber::Kind::floating;
    const auto parsed = std::from_chars(first, last, out.floatingValue);
    if (parsed.ec == std::errc::result_out_of_range) {
        // Too small for a double reads as the nearest one; too large is refused below.
        out.floatingValue = std::strtod(std::string(first, last).c_str(), nullptr);
    } else if (parsed.ec != std::errc{}) {
        return fail();
    }
    return std::isfinite(out.floatingValue) || fail();
}

bool JsonCursor::literal(std::string_view word) {
    blanks();
    if (!ok_ || !text_.substr(at_).starts_with(word)) {
        return fail();
    }
    at_ += word.size();
    return true;
}

bool JsonCursor::boolean(bool& out) {
    blanks();
    if (at_ < text_.size() && text_[at_] == 't') {
        out = true;
        return literal("true");
    }
    out = false;
    return literal("false");
}

bool JsonCursor::null() {
    return literal("null");
}

bool JsonCursor::skip() {
    std::string_view key;
    switch (peek()) {
    case Next::object:
        enter('{');
        for (bool first = true; member(first, key); first = false) {
            if (!skip()) {
                return false;
            }
        }
        return ok_;
    case Next::array:
        enter('[');
        for (bool first = true; element(first); first = false) {
            if (!skip()) {
                return false;
            }
        }
        return ok_;
    case Next::string: {
        std::string ignored;
        return string(ignored);
    }
    case Next::number: {
        JsonNumber ignored;
        return number(ignored);
    }
    case Next::boolean: {
        bool ignored = false;
        return boolean(ignored);
    }
    case Next::null:
        return null();
    case Next::invalid:
        break;
    }
    return fail();
}

bool JsonCursor::atEnd() {
    blanks();
    return ok_ && at_ == text_.size();
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
