#pragma once

#include <array>
#include <string>
#include <string_view>

namespace brivane::identity {

// The identifiers that tie the companion to its clients: bundle identifiers, the service name,
// the install location and the requirement texts the listener admits peers with. Pure text:
// nothing is checked or escaped, the team identifier is inserted verbatim.
namespace SensorCompanionIdentity {

inline constexpr std::string_view client = "dev.qorva.brivane";
inline constexpr std::string_view helper = "dev.qorva.brivane.SensorCompanion";
inline constexpr std::string_view groupSuffix = ".dev.qorva.brivane.sensors";
inline constexpr std::array<std::string_view, 3> localClients = {
    "dev.qorva.brivane", "dev.qorva.brivane.beta", "dev.qorva.brivane.Verification"};
inline constexpr std::string_view installedURL =
    "/Library/Application Support/Brivane/Brivane Sensor Companion.app";

std::string service(std::string_view team);
std::string requirement(std::string_view identifier, std::string_view team);
std::string clientRequirement(std::string_view client, std::string_view team);

} // namespace SensorCompanionIdentity
} // namespace brivane::identity
