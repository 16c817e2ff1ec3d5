#pragma once

#include "formats/companion_update.h"
#include "ipc/frame_codec.h"
#include "view_model.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

// How a view is shown on the output at hand.
struct ViewOptions {
    std::optional<std::size_t> rows; // rows of a ranking; every row when absent
    bool utf8 = true;                // "°C" and "…"; else " C" and "..."
    // Wrapped around the rows of hot sensors and of raised alarms and faults, which are also
    // marked "HOT", "ALARM", "FAULT"; empty without colour.
    std::string hotOn, hotOff;
    // The names of each cluster kind's active performance states ("ECPU" -> "972 MHz", …), as
    // this machine names them; states without a name are numbered P1, P2, …
    std::map<std::string, std::vector<std::string>> stateNames;
};

// What a reply document shows: tables of temperatures, fans, power and processes. nullopt when
// the document does not decode as the request's document type, so the caller can fall back to
// the bytes.
std::optional<DocumentView> viewDocument(ipc::Selector selector,
                                         const std::optional<std::string>& argument,
                                         std::string_view json, const ViewOptions& view = {});

// The same as text for a person.
std::optional<std::string> renderDocument(ipc::Selector selector,
                                          const std::optional<std::string>& argument,
                                          std::string_view json, const ViewOptions& view = {});

// At or above this a temperature is shown as hot.
constexpr double hotCelsius = 80;

// A package's agent does not update itself: its failure to is the expected answer.
bool updatesComeFromThePackageManager(const SensorCompanionUpdate& update);

} // namespace brivane::cli
