#include "backends/linux/service/systemd_service_manager.h"

#include "backends/linux/service/systemd_unit_text.h"
#include "backends/posix/system/replaced_file.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace brivane::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

ServiceManagerError failure(std::string text) {
    return {std::move(text)};
}

// The link that enables the agent: its socket when it has endpoints, else the service itself.
fs::path enablingLink(const fs::path& folder, const LaunchAgentDescription& agent) {
    return agent.machServices.empty() ? folder / "default.target.wants" / (agent.label + ".service")
                                      : folder / "sockets.target.wants" / (agent.label + ".socket");
}

std::string enablingUnit(const LaunchAgentDescription& agent) {
    return agent.label + (agent.machServices.empty() ? ".service" : ".socket");
}

// systemd refuses an executable path with quotes or a backslash ("contains special
// characters") and takes a dollar sign literally, doubled escape included.
bool systemdCanRun(const std::string& executable) {
    return executable.find_first_of("\"'\\$") == std::string::npos;
}

bool isSymlink(const fs::path& path) {
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
}

// A unit file's text; nullopt when there is none to read.
std::optional<std::string> unitText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool existsOrDangles(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

} // namespace

SystemdServiceManager::SystemdServiceManager(std::optional<fs::path> bundle, fs::path unitFolder,
                                             std::shared_ptr<ToolRunner> runner,
                                             std::optional<fs::path> packagedFolder,
                                             std::string systemctl)
    : bundle_(std::move(bundle)), unitFolder_(std::move(unitFolder)), runner_(std::move(runner)),
      packagedFolder_(std::move(packagedFolder)), systemctl_(std::move(systemctl)) {}

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

std::string SystemdServiceManager::systemctlOnPath() {
    const char* path = std::getenv("PATH");
    for (std::string_view rest = path ? path : ""; !rest.empty();) {
        const auto end = rest.find(':');
        const std::string folder(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        auto candidate = folder + "/systemctl";
        if (!folder.empty() && folder.front() == '/' && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "/usr/bin/systemctl";
}

std::optional<fs::path> SystemdServiceManager::packagedUnitFolder(const fs::path& bundle) {
    const auto folder =
        (bundle.parent_path().parent_path() / "systemd" / "user").lexically_normal();
    for (const char* searched : {"/usr/lib/systemd/user", "/usr/local/lib/systemd/user"}) {
        if (folder == fs::path(searched)) {
            return folder;
        }
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

bool SystemdServiceManager::shipsUnits(const LaunchAgentDescription& agent) const {
    std::error_code error;
    return packagedFolder_ &&
           fs::is_regular_file(*packagedFolder_ / (agent.label + ".service"), error) &&
           (agent.machServices.empty() ||
            fs::is_regular_file(*packagedFolder_ / (agent.label + ".socket"), error));
}

int SystemdServiceManager::state(const std::string& plistName) {
    const auto described = agent(plistName);
    if (!described) {
        return notFound;
    }
    if (unitFolder_.empty()) {
        return notRegistered;
    }
    const bool linked = isSymlink(enablingLink(unitFolder_, *described));
    std::error_code error;
    const bool written = fs::exists(unitFolder_ / (described->label + ".service"), error);
    // The package's units serve every user; enabling them is this user's registration.
    if (!written && !(linked && shipsUnits(*described))) {
        return notRegistered;
    }
    // A unit the user disabled stays registered but waits for approval.
    if (!linked) {
        return requiresApproval;
    }
    // After too many starts in a row systemd leaves the socket failed and no request starts it.
    return systemctl({"is-failed", "--quiet", enablingUnit(*described)}) == true ? failed : enabled;
}

std::optional<ServiceManagerError>
SystemdServiceManager::unreachable(const std::string& unchanged) {
    const auto reached = systemctl({"show-environment"});
    if (!reached) {
        return failure("systemctl is not installed: the agent runs under systemd's user service "
                       "manager. " +
                       unchanged);
    }
    if (!*reached) {
        return failure(
            "The user's service manager is not reachable (systemctl --user failed): " + unchanged +
            " Log in to a session that runs systemd --user, or enable lingering with "
            "loginctl enable-linger, then try again.");
    }
    return std::nullopt;
}

std::optional<ServiceManagerError>
SystemdServiceManager::registerAgent(const std::string& plistName) {
    auto refused = registerFresh(plistName);
    if (refused && !taken_.empty()) {
        putBackTaken();
        refused->description += " The registration it was to replace is back in place.";
    }
    taken_.clear();
    return refused;
}

void SystemdServiceManager::putBackTaken() {
    for (const auto& taken : taken_) {
        std::error_code ignored;
        if (taken.target) {
            fs::create_symlink(*taken.target, taken.path, ignored);
        } else {
            posix::replaceFile(taken.path.string(), taken.text, 0644);
        }
    }
}

std::optional<ServiceManagerError>
SystemdServiceManager::registerFresh(const std::string& plistName) {
    const auto described = agent(plistName);
    if (!described) {
        return failure("The launch agent " + plistName +
                       " is missing from the application bundle or cannot be read.");
    }
    if (unitFolder_.empty()) {
        return failure("No user configuration folder: neither XDG_CONFIG_HOME nor HOME is set.");
    }
    if (!described->programArguments.empty() &&
        !systemdCanRun(described->programArguments.front())) {
        return failure("systemd cannot run the agent at " + described->programArguments.front() +
                       ": move the application bundle to a path without quotes, backslashes "
                       "or dollar signs, then register again.");
    }
    const auto link = enablingLink(unitFolder_, *described);
    if (existsOrDangles(link) && !isSymlink(link)) {
        return failure(link.string() + " is in the way of enabling the agent and is not a link: "
                                       "move it away, then register again.");
    }
    // Nothing is written for a manager that would never read it.
    if (auto refused = unreachable("nothing was registered.")) {
        return refused;
    }
    return writeAndEnable(*described);
}

std::optional<ServiceManagerError>
SystemdServiceManager::writeAndEnable(const LaunchAgentDescription& agent) {
    const bool packaged = shipsUnits(agent);
    std::vector<std::pair<fs::path, std::string>> units;
    if (!packaged) {
        const auto service = serviceUnitText(agent);
        const auto socket =
            agent.machServices.empty() ? std::optional<std::string>("") : socketUnitText(agent);
        if (!service || !socket) {
            return failure("The launch agent " + agent.label +
                           " names a program or service that a systemd unit cannot hold.");
        }
        if (!agent.machServices.empty()) {
            units.emplace_back(unitFolder_ / (agent.label + ".socket"), *socket);
        }
        units.emplace_back(unitFolder_ / (agent.label + ".service"), *service);
    }
    const auto link = enablingLink(unitFolder_, agent);
    std::vector<fs::path> written;
    const auto undo = [&](std::string why) {
        std::error_code ignored;
        for (const auto& path : written) {
            fs::remove(path, ignored);
        }
        systemctl({"daemon-reload"});
        return failure(std::move(why));
    };
    std::error_code error;
    fs::create_directories(link.parent_path(), error);
    if (error) {
        return failure("Cannot create the user unit folder " + link.parent_path().string() + ": " +
                       error.message());
    }
    for (const auto& [path, text] : units) {
        if (const auto problem = posix::replaceFile(path.string(), text, 0644)) {
            return undo("Cannot write " + path.string() + ": " + *problem);
        }
        written.push_back(path);
    }
    fs::remove(link, error);
    const auto target =
        packaged ? *packagedFolder_ / enablingUnit(agent) : fs::path("..") / enablingUnit(agent);
    fs::create_symlink(target, link, error);
    if (error) {
        return undo("Cannot enable " + enablingUnit(agent) + ": " + error.message());
    }
    written.push_back(link);
    if (systemctl({"daemon-reload"}) != true) {
        return undo("The user's service manager did not reload its units: see systemctl --user "
                    "status, then register again.");
    }
    // A unit that hit its start limit refuses to start until its failure is forgotten.
    systemctl({"reset-failed", enablingUnit(agent), agent.label + ".service"});
    if (systemctl({"start", enablingUnit(agent)}) != true) {
        return undo("The user's service manager could not start " + enablingUnit(agent) +
                    " (is another agent serving already?): see systemctl --user status " +
                    enablingUnit(agent) + ".");
    }
    return std::nullopt;
}

std::optional<ServiceManagerError>
SystemdServiceManager::unregisterAgent(const std::string& plistName) {
    const auto described = agent(plistName);
    if (!described) {
        return failure("The launch agent " + plistName +
                       " is missing from the application bundle or cannot be read.");
    }
    const auto service = unitFolder_ / (described->label + ".service");
    const auto link = enablingLink(unitFolder_, *described);
    std::error_code error;
    if (unitFolder_.empty() || (!fs::exists(service, error) && !isSymlink(link))) {
        return failure("The launch agent " + described->label + " is not registered.");
    }
    // Removed behind the manager's back, the units would be found missing only at the next
    // login, with the agent gone for good.
    if (auto refused = unreachable("the agent stays registered; nothing was changed.")) {
        return refused;
    }
    systemctl({"stop", described->label + ".socket", described->label + ".service"});
    // Only a link is ours to remove at the enabling place.
    std::vector<fs::path> paths = {unitFolder_ / (described->label + ".socket"), service};
    if (isSymlink(link)) {
        paths.insert(paths.begin(), link);
    }
    taken_.clear();
    for (const auto& path : paths) {
        Taken taken{path, {}, std::nullopt};
        if (isSymlink(path)) {
            taken.target = fs::read_symlink(path, error);
        } else if (auto text = unitText(path)) {
            taken.text = std::move(*text);
        } else {
            continue; // absent
        }
        fs::remove(path, error);
        if (error) {
            return failure("Cannot remove " + path.string() + ": " + error.message());
        }
        taken_.push_back(std::move(taken));
    }
    systemctl({"daemon-reload"});
    return std::nullopt;
}

std::string SystemdServiceManager::approvalCommand(const std::string& plistName) {
    const auto described = agent(plistName);
    return described ? "systemctl --user enable --now " + enablingUnit(*described) : std::string();
}

// The package ships the recorder's unit turned off, as it does the metrics timer.
std::string SystemdServiceManager::historyCommand() {
    return "systemctl --user enable --now brivane-sensors-record.service";
}

std::optional<std::string> SystemdServiceManager::bundleLocation() const {
    return bundle_ ? std::optional<std::string>(bundle_->string()) : std::nullopt;
}

bool SystemdServiceManager::fileExists(const std::string& path) const {
    std::error_code error;
    return fs::exists(path, error);
}

std::optional<bool> SystemdServiceManager::systemctl(std::vector<std::string> arguments) {
    if (!runner_) {
        return std::nullopt;
    }
    arguments.insert(arguments.begin(), "--user");
    ToolRun run{systemctl_, std::move(arguments), ToolEnvironment::inherited(), systemctlTimeLimit,
                WatchdogQoS::standard};
    const auto result = runner_->run(run);
    if (result.launchError) {
        return std::nullopt;
    }
    return result.terminationStatus == 0;
}

} // namespace brivane::platform::linux_backend
