#include "backends/sim/canned_outputs.h"

namespace brivane::platform::sim {
namespace {

constexpr const char* documentHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                     "<plist version=\"1.0\">\n";

std::string document(const std::string& entries) {
    return std::string(documentHead) + "<dict>\n" + entries + "</dict>\n</plist>\n";
}

std::string key(const char* name) {
    return std::string("\t<key>") + name + "</key>\n";
}
std::string text(const char* name, const char* value) {
    return key(name) + "\t<string>" + value + "</string>\n";
}
std::string integer(const char* name, int value) {
    return key(name) + "\t<integer>" + std::to_string(value) + "</integer>\n";
}
std::string flag(const char* name, bool value) {
    return key(name) + (value ? "\t<true/>\n" : "\t<false/>\n");
}

std::string headphonePart(const char* part, int capacity) {
    return "\t\t<dict>\n" + text("Part Identifier", part) + integer("Current Capacity", capacity) +
           integer("Max Capacity", 100) + flag("Is Charging", false) + "\t\t</dict>\n";
}

} // namespace

// The laptop's own battery first, then a mouse, a keyboard that is out of range, and a pair
// of earbuds whose combined entry carries its parts and is followed by one part of its own.
std::string cannedPmsetOutput() {
    std::string output = "Now drawing from 'AC Power'\n";
    output += document(text("Type", "InternalBattery") + text("Name", "InternalBattery-0") +
                       integer("Current Capacity", 87) + integer("Max Capacity", 100) +
                       flag("Is Present", true) + flag("Is Charging", true) +
                       text("Power Source State", "AC Power"));
    output += document(text("Type", "Accessory Source") + text("Name", "Magic Mouse") +
                       text("Accessory Identifier", "mouse-5c:e9:1e:00:11:22") +
                       integer("Current Capacity", 64) + integer("Max Capacity", 100) +
                       flag("Is Present", true) + flag("Is Charging", false) +
                       text("Power Source State", "Battery Power"));
    output += document(text("Type", "Accessory Source") + text("Name", "Magic Keyboard") +
                       integer("Current Capacity", 12) + flag("Is Present", false) +
                       text("Power Source State", "Battery Power"));
    output += document(text("Type", "Accessory Source") + text("Name", "Studio Buds") +
                       text("Group Identifier", "buds-4a:1f:9c:33:44:55") +
                       text("Part Identifier", "Combined") + integer("Current Capacity", 70) +
                       integer("Max Capacity", 100) + flag("Is Present", true) +
                       key("Combined Parts") + "\t<array>\n" + headphonePart("Left", 80) +
                       headphonePart("Right", 74) + "\t</array>\n");
    output += document(text("Type", "Accessory Source") + text("Name", "Studio Buds Case") +
                       text("Group Identifier", "buds-4a:1f:9c:33:44:55") +
                       text("Part Identifier", "Case") + integer("Current Capacity", 45) +
                       flag("Is Present", true));
    return output;
}

} // namespace brivane::platform::sim
