#include "support/mock_system_bus.h"

#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::testing {
namespace {

constexpr const char* daemonPath = "/usr/bin/dbus-daemon";
constexpr const char* sendPath = "/usr/bin/dbus-send";
// Debian's interpreter: another python3 earlier on PATH may lack the dbus module.
constexpr const char* pythonPath = "/usr/bin/python3";
constexpr const char* dbusmockModule = "/usr/lib/python3/dist-packages/dbusmock/__main__.py";

} // namespace

std::string MockSystemBus::unavailableReason() {
    for (const char* path : {daemonPath, sendPath, pythonPath, dbusmockModule}) {
        if (::access(path, X_OK) != 0 && ::access(path, R_OK) != 0) {
            return std::string(path) + " is missing (scripts/install-deps installs it)";
        }
    }
    return {};
}

MockSystemBus::MockSystemBus(Type type) : type_(type) {
    // Users other than root must reach the socket inside.
    ::chmod(directory_.path().c_str(), 0755);
    const std::string socket = directory_ / "system_bus_socket";
    // A system bus every user may use and own names on.
    const std::string typeName = type == Type::system ? "system" : "session";
    directory_.write("bus.conf", "<busconfig><type>" + typeName +
                                     "</type><listen>unix:path=" + socket +
                                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                     "<allow user=\"*\"/><allow own=\"*\"/>"
                                     "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                     "</policy></busconfig>\n");
    address_ = "unix:path=" + socket;
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{daemonPath, "--nofork",
                                 "--config-file=" + (directory_ / "bus.conf")},
        std::vector<std::string>{}, directory_ / "daemon.out");
    pollUntil(std::chrono::seconds(10), [&] {
        return !daemon_->running() ||
               (std::filesystem::exists(socket) && answers("org.freedesktop.DBus"));
    });
}

MockSystemBus::~MockSystemBus() {
    // A mock may be stuck in a method that never answers: no grace period for it.
    for (auto& service : services_) {
        service->kill(SIGKILL);
    }
    services_.clear();
}

// Whether busName has an owner that answers: the mock claims its name before it loads its
// template, and a ping waits for its main loop, which starts after that.
bool MockSystemBus::answers(const std::string& busName) {
    return runCommand({sendPath, busOption(), "--print-reply", "--reply-timeout=5000",
                       "--dest=" + busName, "/", "org.freedesktop.DBus.Peer.Ping"},
                      {environmentEntry()}, directory_ / "send.out", std::chrono::seconds(6))
               .status == 0;
}

bool MockSystemBus::startService(const std::string& dbusmockTemplate, const std::string& busName,
                                 const std::string& parameters, std::chrono::milliseconds limit) {
    if (!daemon_->started()) {
        return false;
    }
    const std::string output =
        directory_ / ("service-" + std::to_string(services_.size()) + ".out");
    auto& service = services_.emplace_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{pythonPath, "-m", "dbusmock", busOption(), "-t", dbusmockTemplate,
                                 "-p", parameters, "-l",
                                 directory_ / ("calls-" + std::to_string(services_.size()))},
        // No bytecode caches beside the mocks in the source tree.
        std::vector<std::string>{environmentEntry(), "PYTHONDONTWRITEBYTECODE=1"}, output));
    return pollUntil(limit, [&] { return !service->running() || answers(busName); }) &&
           service->running();
}

std::string MockSystemBus::callLog(std::size_t index) const {
    return readFile(directory_ / ("calls-" + std::to_string(index)));
}

} // namespace brivane::testing
