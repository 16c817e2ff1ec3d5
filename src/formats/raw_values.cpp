#include "formats/companion_update.h"
#include "formats/process_details_snapshot.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace brivane {
namespace {

template <typename Enum, std::size_t N>
std::optional<Enum> lookup(const std::array<std::pair<Enum, std::string_view>, N>& table,
                           std::string_view raw) {
    for (const auto& [value, name] : table) {
        if (name == raw) {
            return value;
        }
    }
    return std::nullopt;
}

template <typename Enum, std::size_t N>
std::string_view nameOf(const std::array<std::pair<Enum, std::string_view>, N>& table, Enum value) {
    for (const auto& [candidate, name] : table) {
        if (candidate == value) {
            return name;
        }
    }
    return {};
}

constexpr std::array<std::pair<ProcessDetailsKind, std::string_view>, 4> kindNames{{
    {ProcessDetailsKind::memory, "memory"},
    {ProcessDetailsKind::storage, "storage"},
    {ProcessDetailsKind::energy, "energy"},
    {ProcessDetailsKind::gpu, "gpu"},
}};

constexpr std::array<std::pair<SensorCompanionCommand, std::string_view>, 2> commandNames{{
    {SensorCompanionCommand::checkForUpdates, "checkForUpdates"},
    {SensorCompanionCommand::installUpdate, "installUpdate"},
}};

using State = SensorCompanionUpdate::State;
constexpr std::array<std::pair<State, std::string_view>, 5> stateNames{{
    {State::upToDate, "upToDate"},
    {State::available, "available"},
    {State::installerOpened, "installerOpened"},
    {State::failed, "failed"},
    {State::busy, "busy"},
}};

} // namespace

std::optional<ProcessDetailsKind> processDetailsKind(std::string_view raw) {
    return lookup(kindNames, raw);
}
std::string_view rawValue(ProcessDetailsKind kind) {
    return nameOf(kindNames, kind);
}

std::optional<SensorCompanionCommand> sensorCompanionCommand(std::string_view raw) {
    return lookup(commandNames, raw);
}
std::string_view rawValue(SensorCompanionCommand command) {
    return nameOf(commandNames, command);
}

std::optional<State> sensorCompanionUpdateState(std::string_view raw) {
    return lookup(stateNames, raw);
}
std::string_view rawValue(State state) {
    return nameOf(stateNames, state);
}

} // namespace brivane
