#pragma once

// Typed reading of parsed JSON for the document decoders: strict type checks, range-checked
// integers, an object reader that stops at the first failure, and records through their field
// lists (formats/document_fields.h).

#include "formats/document_fields.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane {

using Json = nlohmann::json;

// The parsed text if it is a JSON object nested no deeper than maxDecodingDepth.
std::optional<Json> parseJsonObject(std::string_view text);

bool readJson(const Json& value, std::int64_t& out);
bool readJson(const Json& value, std::uint32_t& out);
bool readJson(const Json& value, double& out);
bool readJson(const Json& value, bool& out);
bool readJson(const Json& value, std::string& out);

template <typename Element> bool readJson(const Json& value, std::vector<Element>& out) {
    if (!value.is_array()) {
        return false;
    }
    out.clear();
    out.reserve(value.size());
    for (const Json& item : value) {
        Element element{};
        if (!readJson(item, element)) {
            return false;
        }
        out.push_back(std::move(element));
    }
    return true;
}

// A JSON object as a map from its keys to decoded values.
template <typename Value>
bool readJson(const Json& value, std::map<std::string, Value, std::less<>>& out) {
    if (!value.is_object()) {
        return false;
    }
    out.clear();
    for (const auto& [key, member] : value.items()) {
        Value decoded{};
        if (!readJson(member, decoded)) {
            return false;
        }
        out.emplace(key, std::move(decoded));
    }
    return true;
}

// Reads the members of one JSON object into fields.
class JsonObjectReader {
public:
    explicit JsonObjectReader(const Json& object) : object_(object), ok_(object.is_object()) {}

    template <typename Value> JsonObjectReader& required(std::string_view key, Value& out) {
        if (ok_) {
            const auto member = object_.find(key);
            ok_ = member != object_.end() && readJson(*member, out);
        }
        return *this;
    }

    template <typename Value>
    JsonObjectReader& optional(std::string_view key, std::optional<Value>& out) {
        out.reset();
        if (!ok_) {
            return *this;
        }
        const auto member = object_.find(key);
        if (member == object_.end() || member->is_null()) {
            return *this;
        }
        Value value{};
        ok_ = readJson(*member, value);
        if (ok_) {
            out = std::move(value);
        }
        return *this;
    }

    bool ok() const { return ok_; }

private:
    const Json& object_;
    bool ok_;
};

// A record through its field list: optional members may be missing or null, others must be
// present with the right type.
template <DocumentRecord Record> bool readJson(const Json& value, Record& record) {
    JsonObjectReader reader(value);
    forEachField(record, [&](std::string_view key, auto& member) {
        if constexpr (isOptional<std::remove_cvref_t<decltype(member)>>) {
            reader.optional(key, member);
        } else {
            reader.required(key, member);
        }
    });
    return reader.ok();
}

} // namespace brivane

namespace brivane {

// Parses and decodes a whole document; nullopt on any failure, never an exception.
template <typename Record> std::optional<Record> decodeDocument(std::string_view text) {
    try {
        const std::optional<Json> parsed = parseJsonObject(text);
        if (!parsed) {
            return std::nullopt;
        }
        Record record{};
        if (!readJson(*parsed, record)) {
            return std::nullopt;
        }
        return record;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace brivane
