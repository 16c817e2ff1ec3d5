#pragma once

// Shared pieces of the document encoders: arrays of records and the all-or-nothing wrapper.

#include "formats/json_writer.h"

#include <string>
#include <vector>

namespace brivane {

inline void writeJson(JsonWriter& writer, double value) {
    writer.number(value);
}

template <typename Element>
void writeJson(JsonWriter& writer, const std::vector<Element>& elements) {
    writer.beginArray();
    for (const Element& element : elements) {
        writeJson(writer, element);
    }
    writer.endArray();
}

// Clears `out` and writes the document into it; on failure leaves it empty, never partial.
template <typename Record> bool encodeDocument(const Record& record, std::string& out) {
    out.clear();
    JsonWriter writer(out);
    writeJson(writer, record);
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
