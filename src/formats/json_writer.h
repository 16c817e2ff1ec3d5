#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brivane {

// Compact JSON writer that appends to a caller-owned buffer, so the per-second snapshot path can
// reuse one allocation. The caller emits keys in the order it wants; commas are placed here.
// Strings: '"', '\\' and '/' are escaped, as are control characters (short forms where JSON has
// them, \u00xx otherwise); other UTF-8 passes through and invalid sequences become U+FFFD.
// Doubles use the shortest form that reads back exactly, integral ones without a fraction. A
// non-finite double writes nothing and marks the writer failed: check ok() before using output.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    // Starts a member of the current object; the next value call writes its value.
    void key(std::string_view name);

    void string(std::string_view text);
    void number(double value);
    void integer(std::int64_t value);
    void unsignedInteger(std::uint64_t value);
    void boolean(bool value);

    bool ok() const { return ok_; }

private:
    void separate() {
        if (needsComma_) {
            out_.push_back(',');
        }
    }
    void open(char bracket) {
        separate();
        out_.push_back(bracket);
        needsComma_ = false;
    }
    void close(char bracket) {
        out_.push_back(bracket);
        needsComma_ = true;
    }
    void appendEscaped(std::string_view text);

    std::string& out_;
    bool needsComma_ = false;
    bool ok_ = true;
};

} // namespace brivane
