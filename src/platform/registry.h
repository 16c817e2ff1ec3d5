#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace brivane::platform {

// One value inside a registry dictionary. Types the companion never interprets (arrays, data,
// nested dictionaries, booleans) arrive as std::monostate.
using RegistryValue = std::variant<std::monostate, double, std::string>;
using RegistryDictionary = std::map<std::string, RegistryValue, std::less<>>;

// One registry entry, held for the length of a lookup and released when destroyed. Views and
// pointers it returns stay valid as long as the entry lives; the entry itself must not outlive
// the registry that made it.
class RegistryEntry {
public:
    virtual ~RegistryEntry() = default;
    // Absent when the property is missing or not a number.
    virtual std::optional<double> numberProperty(std::string_view name) const = 0;
    // Absent when the property is missing or not a string.
    virtual std::optional<std::string_view> stringProperty(std::string_view name) const = 0;
    // Null when the property is missing or not a dictionary with string keys.
    virtual const RegistryDictionary* dictionaryProperty(std::string_view name) const = 0;
};

// Walks the entries of one class in registry order; the iterator is released when destroyed.
class RegistryIterator {
public:
    virtual ~RegistryIterator() = default;
    // The next entry, or null at the end.
    virtual std::unique_ptr<RegistryEntry> next() = 0;
};

// Lookups of the machine's device registry by class name.
class Registry {
public:
    virtual ~Registry() = default;
    // The first entry of the class, or null when there is none.
    virtual std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) = 0;
    // Every entry of the class, or null when the lookup itself failed.
    virtual std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) = 0;
    // Whether an accelerator entry of this "IOClass" reports the machine's graphics. On the
    // Apple platform only the "agx" family (any letter case) does.
    virtual bool isGraphicsAcceleratorClass(std::string_view ioClass) const {
        constexpr std::string_view family = "agx";
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return std::search(ioClass.begin(), ioClass.end(), family.begin(), family.end(),
                           [&](char a, char b) { return lower(a) == b; }) != ioClass.end();
    }
};

// The platform's registry; defined by the back end the executable links.
std::shared_ptr<Registry> makeDefaultRegistry();

} // namespace brivane::platform
