#include "core/command_line.h"

#include "core/agent_startup.h"
#include "core/companion_main.h"

#include <algorithm>
#include <iostream>
#include <ostream>

namespace brivane {
namespace {

using Arguments = std::vector<std::string>;

int reportFailure(const RegistrationError& failure, std::ostream& err) {
    const std::string line = failure.description + "\n";
    err.write(line.data(), static_cast<std::streamsize>(line.size()));
    err.flush();
    return exitRegistrationFailed;
}

void printStatus(const CompanionRegistration& registration, std::ostream& out) {
    out << CompanionRegistration::rawValue(registration.status()) << '\n';
    out.flush();
}

} // namespace

int runCommandLine(const std::vector<std::string>& argumentVector,
                   const CommandLineEnvironment& environment) {
    const Arguments list = argumentVector.empty()
                               ? Arguments{}
                               : Arguments(argumentVector.begin() + 1, argumentVector.end());
    if (list == Arguments{"--agent"}) {
        return environment.runAgent();
    }
    if (list == Arguments{"--version"}) {
        environment.out << "brivane-sensor-companion " << BRIVANE_VERSION << '\n';
        environment.out.flush();
        return exitSuccess;
    }
    if (list == Arguments{"--status"}) {
        printStatus(environment.makeRegistration(), environment.out);
        return exitSuccess;
    }
    if (list.empty() || list == Arguments{"--enable"} || list == Arguments{"--install"}) {
        const auto registration = environment.makeRegistration();
        // Looked up in the whole vector, program path included.
        const bool install = std::find(argumentVector.begin(), argumentVector.end(), "--install") !=
                             argumentVector.end();
        if (const auto failure = registration.enableAtInstall(install)) {
            return reportFailure(*failure, environment.err);
        }
        printStatus(registration, environment.out);
        if (registration.status() == CompanionRegistration::Status::requiresApproval && !install) {
            registration.openApprovalSettings();
        }
        return exitSuccess;
    }
    if (list == Arguments{"--disable"}) {
        if (const auto failure = environment.makeRegistration().disable()) {
            return reportFailure(*failure, environment.err);
        }
        return exitSuccess;
    }
    return exitUsage;
}

int runCommandLine(const std::vector<std::string>& argumentVector) {
    return runCommandLine(argumentVector,
                          {[] { return CompanionRegistration(); },
                           [] { return companionMain({"--agent"}); }, std::cout, std::cerr});
}

} // namespace brivane
