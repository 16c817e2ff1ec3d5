// Any bytes as one kernel device event. A parsed event's action and subsystem must lie inside
// the message; only add, remove and move events of a listed subsystem count.
#include "backends/linux/polling/uevent.h"

#include <cstdlib>
#include <functional>

using namespace brivane::platform::linux_backend;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const char> message(reinterpret_cast<const char*>(data), size);
    const auto event = parseUevent(message);
    const std::string_view subsystems[] = {"hwmon", "drm", "power_supply"};
    // The raw check agrees with the parsed one wherever the message has one SUBSYSTEM field.
    const std::string_view text(message.data(), message.size());
    const bool raw = asksForDiscovery(text, subsystems);
    const bool oneField = text.find("SUBSYSTEM=") == text.rfind("SUBSYSTEM=");
    if (raw && (!event || (oneField && !addsOrRemoves(*event, subsystems))))
        std::abort();
    if (!event)
        return 0;
    const auto inside = [&](std::string_view part) {
        return part.empty() ||
               (std::less_equal<>()(message.data(), part.data()) &&
                std::less_equal<>()(part.data() + part.size(), message.data() + message.size()));
    };
    if (!inside(event->action) || !inside(event->subsystem) || event->action.empty())
        std::abort();
    if (addsOrRemoves(*event, subsystems) && event->action != "add" && event->action != "remove" &&
        event->action != "move")
        std::abort();
    return 0;
}
