#include "history_codec.h"

#include <bit>

namespace brivane::cli {
namespace {

void putFloat(std::string& out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((bits >> shift) & 0xFF);
    }
}

// Reads a float at `at`, moving past it; false past the end.
bool getFloat(std::string_view bytes, std::size_t& at, float& value) {
    if (at > bytes.size() || bytes.size() - at < 4) {
        return false;
    }
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    at += 4;
    value = std::bit_cast<float>(bits);
    return true;
}

void putVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

bool getVarint(std::string_view bytes, std::size_t& at, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < bytes.size(); shift += 7) {
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

unsigned tagOf(std::string_view bytes, std::size_t index) {
    return (static_cast<unsigned char>(bytes[index / 4]) >> (2 * (index % 4))) & 3;
}

} // namespace

std::string encodeLayout(std::span<const std::int64_t> ids) {
    std::string out;
    std::int64_t previous = 0;
    for (const std::int64_t id : ids) {
        putVarint(out, static_cast<std::uint64_t>(id - previous));
        previous = id;
    }
    return out;
}

std::optional<std::vector<std::int64_t>> decodeLayout(std::string_view bytes) {
    std::vector<std::int64_t> ids;
    std::size_t at = 0;
    std::int64_t previous = 0;
    while (at < bytes.size()) {
        std::uint64_t delta = 0;
        // Ids ascend: a delta of 0 after the first, or one that overflows, is not ours.
        if (!getVarint(bytes, at, delta) || (delta == 0 && !ids.empty()) ||
            delta > static_cast<std::uint64_t>(INT64_MAX - previous)) {
            return std::nullopt;
        }
        previous += static_cast<std::int64_t>(delta);
        ids.push_back(previous);
    }
    return ids;
}

std::string encodeSample(std::span<const std::optional<float>> values) {
    std::string out((values.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i]) {
            out[i / 8] = static_cast<char>(out[i / 8] | (1 << (i % 8)));
        }
    }
    for (const auto& value : values) {
        if (value) {
            putFloat(out, *value);
        }
    }
    return out;
}

std::optional<std::vector<std::optional<float>>> decodeSample(std::string_view bytes,
                                                              std::size_t count) {
    const std::size_t mask = (count + 7) / 8;
    if (bytes.size() < mask) {
        return std::nullopt;
    }
    std::vector<std::optional<float>> values(count);
    std::size_t at = mask;
    for (std::size_t i = 0; i < count; ++i) {
        if ((static_cast<unsigned char>(bytes[i / 8]) >> (i % 8) & 1) == 0) {
            continue;
        }
        float value = 0;
        if (!getFloat(bytes, at, value)) {
            return std::nullopt;
        }
        values[i] = value;
    }
    if (at != bytes.size()) {
        return std::nullopt;
    }
    return values;
}

std::string encodeAggregates(std::span<const std::optional<Aggregate>> values) {
    std::string out((values.size() + 3) / 4, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!values[i]) {
            continue;
        }
        const auto& value = *values[i];
        const bool still = value.minimum == value.maximum && value.average == value.minimum;
        out[i / 4] = static_cast<char>(out[i / 4] | ((still ? 1 : 2) << (2 * (i % 4))));
        if (still) {
            putFloat(out, value.average);
        } else {
            putFloat(out, value.minimum);
            putFloat(out, value.average);
            putFloat(out, value.maximum);
        }
    }
    return out;
}

std::optional<std::vector<std::optional<Aggregate>>> decodeAggregates(std::string_view bytes,
                                                                      std::size_t count) {
    const std::size_t tags = (count + 3) / 4;
    if (bytes.size() < tags) {
        return std::nullopt;
    }
    std::vector<std::optional<Aggregate>> values(count);
    std::size_t at = tags;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned tag = tagOf(bytes, i);
        Aggregate value;
        if (tag == 0) {
            continue;
        }
        if (tag == 1) {
            if (!getFloat(bytes, at, value.average)) {
                return std::nullopt;
            }
            value.minimum = value.maximum = value.average;
        } else if (tag != 2 || !getFloat(bytes, at, value.minimum) ||
                   !getFloat(bytes, at, value.average) || !getFloat(bytes, at, value.maximum)) {
            return std::nullopt;
        }
        values[i] = value;
    }
    if (at != bytes.size()) {
        return std::nullopt;
    }
    return values;
}

std::string encodeLimits(const SeriesMarks& marks) {
    std::string out(1, '\0');
    for (std::size_t i = 0; i < marks.limits.size(); ++i) {
        if (marks.limits[i]) {
            out[0] = static_cast<char>(out[0] | (1 << i));
            putFloat(out, *marks.limits[i]);
        }
    }
    return out;
}

std::int64_t encodeFlags(const SeriesMarks& marks) {
    std::int64_t flags = 0;
    const auto put = [&flags](std::size_t at, const std::optional<bool>& flag) {
        if (flag) {
            flags |= static_cast<std::int64_t>(*flag ? 2 : 1) << (2 * at);
        }
    };
    for (std::size_t i = 0; i < marks.alarms.size(); ++i) {
        put(i, marks.alarms[i]);
    }
    put(marks.alarms.size(), marks.fault);
    return flags;
}

bool decodeMarks(std::string_view limits, std::int64_t flags, SeriesMarks& marks) {
    marks.limits = {};
    if (!limits.empty()) {
        const auto mask = static_cast<unsigned char>(limits[0]);
        std::size_t at = 1;
        for (std::size_t i = 0; i < marks.limits.size(); ++i) {
            float value = 0;
            if ((mask >> i & 1) != 0) {
                if (!getFloat(limits, at, value)) {
                    return false;
                }
                marks.limits[i] = value;
            }
        }
        if ((mask & 0x80) != 0 || at != limits.size()) {
            return false;
        }
    }
    const auto get = [flags](std::size_t at) -> std::optional<bool> {
        const auto bits = (flags >> (2 * at)) & 3;
        return bits == 0 ? std::nullopt : std::optional(bits == 2);
    };
    for (std::size_t i = 0; i < marks.alarms.size(); ++i) {
        marks.alarms[i] = get(i);
    }
    marks.fault = get(marks.alarms.size());
    return flags >= 0 && flags < (std::int64_t{1} << (2 * (marks.alarms.size() + 1)));
}

} // namespace brivane::cli
