#pragma once

// The management request's argument and its reply document.
//
// Enumerations with string raw values convert the same way throughout src/formats:
// `std::optional<Enum> enumName(std::string_view raw)` matches raw values exactly
// (case-sensitive, no trimming) and `std::string_view rawValue(Enum)` gives the raw value back.

#include <optional>
#include <string>
#include <string_view>

namespace brivane {

// Sent as the bare raw string, never wrapped in JSON.
enum class SensorCompanionCommand { checkForUpdates, installUpdate };

std::optional<SensorCompanionCommand> sensorCompanionCommand(std::string_view raw);
std::string_view rawValue(SensorCompanionCommand command);

struct SensorCompanionUpdate {
    enum class State { upToDate, available, installerOpened, failed, busy };

    State state = State::busy;
    // The running or the released version, depending on the state.
    std::optional<std::string> version{};
    // Present only for failures.
    std::optional<std::string> message{};

    bool operator==(const SensorCompanionUpdate&) const = default;

    // The failure message of an agent built without its self-updater: clients show it as the
    // expected answer of a packaged companion, not as a failure.
    static constexpr std::string_view selfUpdateOffMessage =
        "This companion was installed by a distribution package and does not update itself: "
        "updates come from the system's package manager.";
};

std::optional<SensorCompanionUpdate::State> sensorCompanionUpdateState(std::string_view raw);
std::string_view rawValue(SensorCompanionUpdate::State state);

} // namespace brivane
