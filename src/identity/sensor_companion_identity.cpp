#include "identity/sensor_companion_identity.h"

namespace brivane::identity::SensorCompanionIdentity {

std::string service(std::string_view team) {
    std::string name(team);
    name += groupSuffix;
    name += ".snapshot";
    return name;
}

std::string requirement(std::string_view identifier, std::string_view team) {
    std::string text = "anchor apple generic and identifier \"";
    text += identifier;
    text += "\" and certificate leaf[subject.OU] = \"";
    text += team;
    text += '"';
    return text;
}

std::string clientRequirement(std::string_view givenClient, std::string_view team) {
    std::string clauses;
    const auto addClause = [&clauses](std::string_view identifier) {
        if (!clauses.empty()) {
            clauses += " or ";
        }
        clauses += "identifier \"";
        clauses += identifier;
        clauses += '"';
    };
    if (givenClient == client) {
        for (const auto identifier : localClients) {
            addClause(identifier);
        }
    } else {
        addClause(givenClient);
    }

    std::string text = "anchor apple generic and\n((identifier \"";
    text += givenClient;
    text += "\" and certificate leaf[field.1.2.840.113635.100.6.1.9] exists) or\n((";
    text += clauses;
    text += ") and certificate leaf[subject.OU] = \"";
    text += team;
    text += "\"))";
    return text;
}

} // namespace brivane::identity::SensorCompanionIdentity
