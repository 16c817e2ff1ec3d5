#include "support/staged_agent.h"

#include "backends/posix/system/running_bundle.h"
#include "identity/sensor_companion_identity.h"
#include "ipc/sensor_client.h"

#include <fstream>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;

// Binds $1 over /sys and, when the fixture has them, its .proc-stat over /proc/stat and each
// .proc/<pid>/{fd,fdinfo} over a running process's own, then runs the rest of the arguments.
constexpr const char* bindScript =
    "mount --bind \"$1\" /sys && { [ ! -e \"$1/.proc-stat\" ] || "
    "mount --bind \"$1/.proc-stat\" /proc/stat; } && "
    "for d in \"$1\"/.proc/*/fd \"$1\"/.proc/*/fdinfo; do [ ! -d \"$d\" ] || "
    "mount --bind \"$d\" \"/proc/${d#\"$1\"/.proc/}\" || exit 1; done && shift && exec \"$@\"";

std::vector<std::string> withSysFrom(const fs::path& fixture, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                               bindScript, "sh", fixture.string()});
    return argv;
}

// 0755 folders and executables, 0644 other files: all of it is used as "nobody".
void openToEveryone(const fs::path& top) {
    fs::permissions(top, fs::perms(0755));
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        const auto mode = entry.symlink_status().permissions();
        if (!entry.is_symlink()) {
            const bool x = entry.is_directory() || (mode & fs::perms::owner_exec) != fs::perms{};
            fs::permissions(entry.path(), fs::perms(x ? 0755 : 0644));
        }
    }
}

} // namespace

StagedAgent::StagedAgent(const Options& options)
    : root_(folder_.path()), extraEnvironment_(options.environment), uid_(getuid()),
      gid_(getgid()) {
    if (root_.empty()) {
        throw std::runtime_error("cannot make a stage folder");
    }
    if (options.bundle.empty()) {
        fs::create_directories(fs::path(agentExecutable()).parent_path());
        fs::copy(options.agent, agentExecutable());
        if (fs::exists(options.agent + ".sig")) {
            fs::copy(options.agent + ".sig", agentExecutable() + ".sig");
        }
        std::ofstream(root_ / "app/Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>BrivaneTeamIdentifier</key><string>"
            << options.team
            << "</string><key>CFBundleShortVersionString</key><string>1.0.0</string>"
               "</dict></plist>\n";
    } else {
        fs::copy(options.bundle, root_ / "app", fs::copy_options::recursive);
    }
    for (const auto& executable : options.executables) {
        const auto source = fs::canonical(executable);
        fs::copy(source, root_ / source.filename());
        if (fs::exists(source.string() + ".sig")) {
            fs::copy(source.string() + ".sig", root_ / (source.filename().string() + ".sig"));
        }
    }
    openToEveryone(root_);
    if (isRoot()) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) {
            throw std::runtime_error("no user \"nobody\"");
        }
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
    }
    for (const auto* folder : {"home", "run"}) {
        fs::create_directory(root_ / folder);
        fs::permissions(root_ / folder, fs::perms(0700));
        if (chown((root_ / folder).c_str(), uid_, gid_) != 0) {
            throw std::runtime_error("cannot hand the home and runtime folders over");
        }
    }
    if (options.bindSys) {
        sysTree_.emplace("brivane-sys");
    }
    const auto info = platform::posix::infoDictionaryFromFile(root_ / "app/Contents/Info.plist");
    const auto team = info ? info->stringValue("BrivaneTeamIdentifier") : std::nullopt;
    if (!team) {
        throw std::runtime_error("the bundle names no team");
    }
    endpoint_ = (root_ / "run" / identity::SensorCompanionIdentity::service(*team)).string();
}

bool StagedAgent::isRoot() {
    return geteuid() == 0;
}

std::string StagedAgent::mountNamespaceProblem() {
    if (!isRoot()) {
        return "binding a fixture over /sys needs root";
    }
    const auto probe =
        runCommand(withSysFrom("/sys", {"true"}), {"PATH=/usr/bin:/bin"}, "/dev/null");
    return probe.status == 0 ? "" : "mount namespaces are not permitted here";
}

std::vector<std::string> StagedAgent::environment() const {
    std::vector<std::string> variables = {"HOME=" + path("home"), "XDG_RUNTIME_DIR=" + path("run"),
                                          "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    variables.insert(variables.end(), extraEnvironment_.begin(), extraEnvironment_.end());
    return variables;
}

std::vector<std::string> StagedAgent::asAgentUser(std::vector<std::string> argv) const {
    if (isRoot()) {
        argv.insert(argv.begin(), {"setpriv", "--reuid=" + std::to_string(uid_),
                                   "--regid=" + std::to_string(gid_), "--clear-groups"});
    }
    return argv;
}

std::string StagedAgent::scratch() {
    return path("out" + std::to_string(++outputs_));
}

ChildProcess& StagedAgent::launchAgent() {
    return launch({agentExecutable(), "--agent"});
}

ChildProcess& StagedAgent::launch(const std::vector<std::string>& command) {
    auto argv = asAgentUser(command);
    if (sysTree_) {
        openToEveryone(sysTree().path());
        argv = withSysFrom(sysTree().path(), std::move(argv));
    }
    return *agents_.emplace_back(std::make_unique<ChildProcess>(argv, environment(), scratch()));
}

ChildProcess* StagedAgent::startAgent(std::chrono::milliseconds limit) {
    auto& agent = launchAgent();
    return waitForEndpoint(endpoint_, limit, &agent) ? &agent : nullptr;
}

CommandResult StagedAgent::run(const std::vector<std::string>& argv,
                               std::chrono::milliseconds limit) {
    return runCommand(asAgentUser(argv), environment(), scratch(), limit);
}

CommandResult StagedAgent::runOnMachine(std::vector<std::string> argv) {
    argv = asAgentUser(std::move(argv));
    if (sysTree_) {
        argv = withSysFrom(sysTree().path(), std::move(argv));
    }
    return runCommand(argv, environment(), scratch());
}

CommandResult StagedAgent::cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {path("brivane-sensors"), "--endpoint", endpoint_});
    // The client looks at the machine the agent sees (its disks, for one).
    return runOnMachine(std::move(arguments));
}

bool waitForEndpoint(const std::string& path, std::chrono::milliseconds limit,
                     ChildProcess* server) {
    std::string problem;
    const auto ended = [&] { return server && !server->running(); };
    const auto listening = [&] { return ipc::SensorClient::connect(path, problem) != nullptr; };
    return pollUntil(limit, [&] { return ended() || listening(); }) && !ended();
}

} // namespace brivane::testing
