#include "platform/linux/systemd_service_manager.h"

#include "platform/linux/systemd_unit_text.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace brivane::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

// Written beside the target and renamed over it, so a unit is never seen half-written.
bool writeFileAtomically(const fs::path& path, const std::string& text) {
    const auto temporary = fs::path(path.string() + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) ||
            !out.flush()) {
            return false;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

ServiceManagerError failure(std::string text) {
    return {std::move(text)};
}

} // namespace

SystemdServiceManager::SystemdServiceManager(std::optional<fs::path> bundle, fs::path unitFolder,
                                             std::shared_ptr<ToolRunner> runner)
    : bundle_(std::move(bundle)), unitFolder_(std::move(unitFolder)), runner_(std::move(runner)) {}

std::optional<fs::path> SystemdServiceManager::userUnitFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
        return fs::path(config) / "systemd" / "user";
    }
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return fs::path(home) / ".config" / "systemd" / "user";
    }
    return std::nullopt;
}

std::optional<LaunchAgentDescription>
SystemdServiceManager::agent(const std::string& plistName) const {
    if (!bundle_ || plistName.find('/') != std::string::npos) {
        return std::nullopt;
    }
    auto agent =
        readLaunchAgent(*bundle_ / "Contents" / "Library" / "LaunchAgents" / plistName, *bundle_);
    if (!agent || !isUsableUnitName(agent->label)) {
        return std::nullopt;
    }
    return agent;
}

namespace {

// The link that enables the agent: its socket when it has endpoints, else the service itself.
fs::path enablingLink(const fs::path& folder, const LaunchAgentDescription& agent) {
    return agent.machServices.empty() ? folder / "default.target.wants" / (agent.label + ".service")
                                      : folder / "sockets.target.wants" / (agent.label + ".socket");
}

std::string enablingUnit(const LaunchAgentDescription& agent) {
    return agent.label + (agent.machServices.empty() ? ".service" : ".socket");
}

} // namespace

int SystemdServiceManager::state(const std::string& plistName) {
    const auto described = agent(plistName);
    if (!described) {
        return notFound;
    }
    std::error_code error;
    if (unitFolder_.empty() || !fs::exists(unitFolder_ / (described->label + ".service"), error)) {
        return notRegistered;
    }
    // A unit the user disabled stays registered but waits for approval.
    return fs::is_symlink(enablingLink(unitFolder_, *described), error) ? enabled
                                                                        : requiresApproval;
}

std::optional<ServiceManagerError>
SystemdServiceManager::registerAgent(const std::string& plistName) {
    const auto described = agent(plistName);
    if (!described) {
        return failure("The launch agent " + plistName +
                       " is missing from the application bundle or cannot be read.");
    }
    if (unitFolder_.empty()) {
        return failure("No user configuration folder: neither XDG_CONFIG_HOME nor HOME is set.");
    }
    const auto service = serviceUnitText(*described);
    const auto socket = described->machServices.empty() ? std::optional<std::string>("")
                                                        : socketUnitText(*described);
    if (!service || !socket) {
        return failure("The launch agent " + plistName +
                       " names a program or service that a systemd unit cannot hold.");
    }
    std::error_code error;
    const auto link = enablingLink(unitFolder_, *described);
    fs::create_directories(link.parent_path(), error);
    if (error) {
        return failure("Cannot create the user unit folder " + unitFolder_.string() + ": " +
                       error.message());
    }
    if ((!described->machServices.empty() &&
         !writeFileAtomically(unitFolder_ / (described->label + ".socket"), *socket)) ||
        !writeFileAtomically(unitFolder_ / (described->label + ".service"), *service)) {
        return failure("Cannot write the unit files of " + described->label + " in " +
                       unitFolder_.string() + ".");
    }
    fs::remove(link, error);
    fs::create_symlink(fs::path("..") / enablingUnit(*described), link, error);
    if (error) {
        return failure("Cannot enable " + enablingUnit(*described) + ": " + error.message());
    }
    systemctl({"daemon-reload"});
    systemctl({"start", enablingUnit(*described)});
    return std::nullopt;
}

std::optional<ServiceManagerError>
SystemdServiceManager::unregisterAgent(const std::string& plistName) {
    const auto described = agent(plistName);
    if (!described) {
        return failure("The launch agent " + plistName +
                       " is missing from the application bundle or cannot be read.");
    }
    std::error_code error;
    const auto service = unitFolder_ / (described->label + ".service");
    if (unitFolder_.empty() || !fs::exists(service, error)) {
        return failure("The launch agent " + described->label + " is not registered.");
    }
    systemctl({"stop", described->label + ".socket", described->label + ".service"});
    for (const auto& path : {enablingLink(unitFolder_, *described),
                             unitFolder_ / (described->label + ".socket"), service}) {
        fs::remove(path, error);
        if (error) {
            return failure("Cannot remove " + path.string() + ": " + error.message());
        }
    }
    systemctl({"daemon-reload"});
    return std::nullopt;
}

std::optional<std::string> SystemdServiceManager::bundleLocation() const {
    return bundle_ ? std::optional<std::string>(bundle_->string()) : std::nullopt;
}

bool SystemdServiceManager::fileExists(const std::string& path) const {
    std::error_code error;
    return fs::exists(path, error);
}

void SystemdServiceManager::systemctl(std::vector<std::string> arguments) {
    if (!runner_) {
        return;
    }
    arguments.insert(arguments.begin(), "--user");
    ToolRun run{"/usr/bin/systemctl", std::move(arguments), ToolEnvironment::inherited(),
                systemctlTimeLimit, WatchdogQoS::standard};
    runner_->run(run); // best effort: the files above are the registration
}

} // namespace brivane::platform::linux_backend
