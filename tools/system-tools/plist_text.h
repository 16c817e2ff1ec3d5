#pragma once

// Writes XML property lists: one top-level dictionary, tab-indented, keys in the order they are
// added.

#include <cstdint>
#include <string>
#include <string_view>

namespace brivane::system_tools {

class PlistText {
public:
    PlistText();

    void text(std::string_view key, std::string_view value);
    void integer(std::string_view key, std::int64_t value);
    void unsignedInteger(std::string_view key, std::uint64_t value);
    void boolean(std::string_view key, bool value);
    void openDictionary(std::string_view key);
    void closeDictionary();

    // Closes whatever is open and returns the document.
    std::string finish() &&;

private:
    void key(std::string_view name);
    void indent();

    std::string text_;
    int depth_ = 1;
};

// Bytes as XML character data: invalid UTF-8 and characters XML cannot carry become U+FFFD,
// markup characters become entities, so any string from a device yields a parsable document.
std::string xmlCharacterData(std::string_view bytes);

} // namespace brivane::system_tools
