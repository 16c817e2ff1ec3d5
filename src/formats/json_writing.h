#pragma once

// The document encoder: values by type, records through their field lists, and the
// all-or-nothing wrapper.

#include "formats/document_fields.h"
#include "formats/json_writer.h"

#include <cstdint>
#include <string>
#include <type_traits>

namespace brivane {

template <typename Value> void writeValue(JsonWriter& writer, const Value& value) {
    if constexpr (std::is_same_v<Value, std::string>) {
        writer.string(value);
    } else if constexpr (std::is_same_v<Value, double>) {
        writer.number(value);
    } else if constexpr (std::is_same_v<Value, bool>) {
        writer.boolean(value);
    } else if constexpr (std::is_same_v<Value, std::int64_t>) {
        writer.integer(value);
    } else if constexpr (std::is_same_v<Value, std::uint32_t>) {
        writer.unsignedInteger(value);
    } else if constexpr (std::is_enum_v<Value>) {
        writer.string(rawValue(value));
    } else if constexpr (isVector<Value>) {
        writer.beginArray();
        for (const auto& element : value) {
            writeValue(writer, element);
        }
        writer.endArray();
    } else if constexpr (isStringMap<Value>) {
        writer.beginObject();
        for (const auto& [key, member] : value) {
            writer.key(key);
            writeValue(writer, member);
        }
        writer.endObject();
    } else {
        static_assert(DocumentRecord<Value>, "a value type without a JSON form");
        writer.beginObject();
        forEachField(value, [&](std::string_view key, const auto& member) {
            if constexpr (isOptional<std::remove_cvref_t<decltype(member)>>) {
                if (member) {
                    writer.key(key);
                    writeValue(writer, *member);
                }
            } else {
                writer.key(key);
                writeValue(writer, member);
            }
        });
        writer.endObject();
    }
}

// Clears `out` and writes the document into it; on failure leaves it empty, never partial.
template <typename Record> bool encodeDocument(const Record& record, std::string& out) {
    out.clear();
    JsonWriter writer(out);
    writeValue(writer, record);
    if (!writer.ok()) {
        out.clear();
        return false;
    }
    return true;
}

template <typename Record> std::string encodeDocument(const Record& record) {
    std::string out;
    encodeDocument(record, out);
    return out;
}

} // namespace brivane
