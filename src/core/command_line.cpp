#include "core/command_line.h"

#include "core/agent_startup.h"
#include "formats/nearest_word.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <ostream>

namespace brivane {
namespace {

using Arguments = std::vector<std::string>;
using Status = CompanionRegistration::Status;

constexpr std::string_view program = "brivane-sensor-companion: ";

constexpr std::array<std::string_view, 7> forms = {
    "--status", "--enable", "--install", "--disable", "--agent", "--version", "--help"};

constexpr std::string_view usageText =
    "usage: brivane-sensor-companion [--status | --enable | --install | --disable | --agent |\n"
    "                                 --version | --help]\n"
    "\n"
    "  (none), --enable  register the agent with the user's service manager unless it is\n"
    "                    registered, then print its state\n"
    "  --install         register the agent afresh (after installing a new version), then\n"
    "                    print its state\n"
    "  --disable         stop the agent and remove its registration\n"
    "  --status          print the state: enabled, disabled, requiresApproval (also when the\n"
    "                    service manager gave up starting it) or unavailable\n"
    "  --agent           serve; what the service unit runs\n"
    "  --version         print the version\n"
    "  --help            print this text\n"
    "\n"
    "exit status: 0 success, 1 the service manager refused or cannot be reached (the reason\n"
    "is on standard error), 2 a usage error or an agent that cannot start\n";

// One line on standard error: what was wrong, the nearest form, and every valid one.
int reportUsage(const Arguments& list, std::ostream& err) {
    std::string line(program);
    if (list.size() == 1) {
        line += "unknown argument \"" + list[0] + "\"";
        if (const auto nearest = nearestWord(list[0], forms)) {
            line += " (did you mean " + std::string(*nearest) + "?)";
        }
    } else {
        line += "give one argument at most, not " + std::to_string(list.size());
    }
    line += "; valid:";
    for (const auto form : forms) {
        line += " " + std::string(form);
    }
    err << line << " or none\n";
    err.flush();
    return exitUsage;
}

bool isRegistered(Status status) {
    return status == Status::enabled || status == Status::requiresApproval;
}

// A registration the user turned off waits for approval: say how to give it. One the service
// manager gave up on needs registering afresh.
void explainApproval(const CompanionRegistration& registration, Status status, std::ostream& err) {
    if (status != Status::requiresApproval) {
        return;
    }
    if (registration.failed()) {
        err << program
            << "the agent is registered, but the service manager gave up starting it, so every "
               "request fails; recover it with: brivane-sensor-companion --install\n";
        err.flush();
        return;
    }
    const auto command = registration.approvalCommand();
    err << program << "the agent is registered but turned off; approve it "
        << (command.empty() ? "in the login-items settings" : "with: " + command) << "\n";
    err.flush();
}

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
    if (list == Arguments{"--help"}) {
        environment.out << usageText;
        environment.out.flush();
        return exitSuccess;
    }
    if (list == Arguments{"--status"}) {
        const auto registration = environment.makeRegistration();
        printStatus(registration, environment.out);
        explainApproval(registration, registration.status(), environment.err);
        return exitSuccess;
    }
    if (list.empty() || list == Arguments{"--enable"} || list == Arguments{"--install"}) {
        const auto registration = environment.makeRegistration();
        // Looked up in the whole vector, program path included.
        const bool install = std::find(argumentVector.begin(), argumentVector.end(), "--install") !=
                             argumentVector.end();
        const bool wasRegistered = isRegistered(registration.status());
        const bool wasFailed = install && registration.failed();
        if (const auto failure = registration.enableAtInstall(install)) {
            return reportFailure(*failure, environment.err);
        }
        printStatus(registration, environment.out);
        environment.err << program
                        << (!wasRegistered ? "registered the agent with the user's service manager"
                            : wasFailed
                                ? "registered the agent afresh; the service manager had given up "
                                  "starting it and starts it again"
                            : install ? "registered the agent afresh"
                                      : "the agent was registered already; nothing changed")
                        << "\n";
        const auto now = registration.status();
        explainApproval(registration, now, environment.err);
        if (const auto history = registration.historyCommand(); install && !history.empty()) {
            environment.err << program
                            << "to keep a history of every reading (brivane-sensors history), "
                               "turn on its recorder with: "
                            << history << "\n";
        }
        if (now == Status::requiresApproval && !install && !registration.failed()) {
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
    return reportUsage(list, environment.err);
}

int runCommandLine(const std::vector<std::string>& argumentVector) {
    return runCommandLine(
        argumentVector,
        {[] { return CompanionRegistration(); },
         [] { return runAgent(AgentStartupDependencies::platformDefaults(), std::cerr); },
         std::cout, std::cerr});
}

} // namespace brivane
