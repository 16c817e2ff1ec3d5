#pragma once

// Property values as they come off the bus, reduced to the few kinds the stand-ins read, so that
// everything after the query is plain data that tests and fuzzers can build without a bus.

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace brivane::system_tools {

// Unsigned integers of any width, signed ones, doubles, booleans and strings (object paths and
// byte arrays read as strings too); anything else is monostate.
using BusValue =
    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string>;
using BusProperties = std::map<std::string, BusValue, std::less<>>;
// An object's interfaces with their properties, and an object manager's objects by path.
using ObjectInterfaces = std::map<std::string, BusProperties, std::less<>>;
using ManagedObjects = std::vector<std::pair<std::string, ObjectInterfaces>>;

inline const BusValue* findValue(const BusProperties& properties, std::string_view name) {
    const auto found = properties.find(name);
    return found == properties.end() ? nullptr : &found->second;
}

inline std::optional<bool> booleanField(const BusProperties& properties, std::string_view name) {
    const auto* value = findValue(properties, name);
    if (value == nullptr || !std::holds_alternative<bool>(*value)) {
        return std::nullopt;
    }
    return std::get<bool>(*value);
}

inline std::optional<std::string_view> textField(const BusProperties& properties,
                                                 std::string_view name) {
    const auto* value = findValue(properties, name);
    if (value == nullptr || !std::holds_alternative<std::string>(*value)) {
        return std::nullopt;
    }
    return std::string_view(std::get<std::string>(*value));
}

// Any finite number, whatever its wire type.
inline std::optional<double> numberField(const BusProperties& properties, std::string_view name) {
    const auto* value = findValue(properties, name);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* real = std::get_if<double>(value)) {
        return std::isfinite(*real) ? std::optional<double>(*real) : std::nullopt;
    }
    if (const auto* whole = std::get_if<std::uint64_t>(value)) {
        return static_cast<double>(*whole);
    }
    if (const auto* whole = std::get_if<std::int64_t>(value)) {
        return static_cast<double>(*whole);
    }
    return std::nullopt;
}

// Integers only, and only when not negative: counters never come as doubles.
inline std::optional<std::uint64_t> counterField(const BusProperties& properties,
                                                 std::string_view name) {
    const auto* value = findValue(properties, name);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* whole = std::get_if<std::uint64_t>(value)) {
        return *whole;
    }
    if (const auto* whole = std::get_if<std::int64_t>(value); whole != nullptr && *whole >= 0) {
        return static_cast<std::uint64_t>(*whole);
    }
    return std::nullopt;
}

} // namespace brivane::system_tools
