#include "formats/json_reading.h"

#include "formats/document_codec.h"

#include <cmath>
#include <exception>
#include <limits>

namespace brivane {
namespace {

// Bounds nesting before the parser sees the text, so hostile input cannot build a structure
// whose recursive destruction or traversal would exhaust the stack.
bool nestsWithin(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limit) {
                return false;
            }
            break;
        case ']':
        case '}':
            if (depth == 0) {
                return false;
            }
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

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

std::optional<Json> parseJsonObject(std::string_view text) {
    if (!nestsWithin(text, maxDecodingDepth)) {
        return std::nullopt;
    }
    try {
        Json parsed = Json::parse(text.data(), text.data() + text.size(), nullptr, false);
        if (!parsed.is_object()) {
            return std::nullopt;
        }
        return parsed;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool readJson(const Json& value, std::int64_t& out) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(max)) {
            return false;
        }
        out = static_cast<std::int64_t>(number);
        return true;
    }
    if (value.is_number_integer()) {
        out = value.get<std::int64_t>();
        return true;
    }
    if (value.is_number_float()) {
        return integralWithin(value.get<double>(), -0x1p63, 0x1p63, out);
    }
    return false;
}

bool readJson(const Json& value, std::uint32_t& out) {
    constexpr auto max = std::numeric_limits<std::uint32_t>::max();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > max) {
            return false;
        }
        out = static_cast<std::uint32_t>(number);
        return true;
    }
    if (value.is_number_integer()) {
        // Only negative numbers parse as signed; "-0" is the one that still fits.
        if (value.get<std::int64_t>() != 0) {
            return false;
        }
        out = 0;
        return true;
    }
    if (value.is_number_float()) {
        return integralWithin(value.get<double>(), 0.0, 0x1p32, out);
    }
    return false;
}

bool readJson(const Json& value, double& out) {
    if (!value.is_number()) {
        return false;
    }
    out = value.get<double>();
    return true;
}

bool readJson(const Json& value, bool& out) {
    if (!value.is_boolean()) {
        return false;
    }
    out = value.get<bool>();
    return true;
}

bool readJson(const Json& value, std::string& out) {
    if (!value.is_string()) {
        return false;
    }
    out = value.get_ref<const std::string&>();
    return true;
}

} // namespace brivane
