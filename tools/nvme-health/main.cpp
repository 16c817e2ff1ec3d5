// brivane-nvme-health: reads each awake NVMe controller's SMART / health log, an admin command
// only CAP_SYS_ADMIN may send, and writes it into a small file per controller that the disk
// tool of every user's agent reads (health_log.h). Run as root, with no capability but
// CAP_SYS_ADMIN, by brivane-nvme-health.service; it reads nothing else and talks to no one.
//   brivane-nvme-health [OUTPUT FOLDER]     (default /run/brivane-nvme-health)
#include "backends/posix/system/file_descriptor.h"
#include "backends/posix/system/replaced_file.h"
#include "base/error_text.h"
#include "health_log.h"
#include "nvme_controllers.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using namespace brivane::system_tools;
using brivane::platform::posix::FileDescriptor;

constexpr std::uint8_t getLogPage = 0x02;
constexpr std::uint32_t healthLogId = 0x02;
constexpr std::uint32_t everyNamespace = 0xffffffff;
constexpr std::uint32_t commandTimeoutMs = 3000;

// The log page, or why not.
bool readHealthLog(int device, std::array<std::uint8_t, nvmeHealthLogBytes>& page) {
    nvme_passthru_cmd command{};
    command.opcode = getLogPage;
    command.nsid = everyNamespace;
    command.addr = reinterpret_cast<std::uintptr_t>(page.data());
    command.data_len = page.size();
    // Number of dwords, less one, in the upper half; the log's id in the lower.
    command.cdw10 = (page.size() / 4 - 1) << 16 | healthLogId;
    command.timeout_ms = commandTimeoutMs;
    return ::ioctl(device, NVME_IOCTL_ADMIN_CMD, &command) == 0;
}

void say(const std::string& line) {
    std::cerr << "brivane-nvme-health: " << line << "\n";
}

} // namespace

int main(int argc, char** argv) {
    const std::string output = argc > 1 ? argv[1] : "/run/brivane-nvme-health";
    if (argc > 2 || output.empty() || output.front() != '/') {
        say("usage: brivane-nvme-health [ABSOLUTE OUTPUT FOLDER]");
        return 2;
    }
    const brivane::platform::posix::RootedDirectory sys("/sys");
    const auto controllers = awakeNvmeControllers(sys);
    int failures = 0;
    for (const auto& name : controllers) {
        const FileDescriptor device(
            ::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        std::array<std::uint8_t, nvmeHealthLogBytes> page{};
        if (!device.valid() || !readHealthLog(device.get(), page)) {
            say(name + ": " + brivane::base::errorText(errno));
            ++failures;
            continue;
        }
        const auto log = decodeHealthLog(page, static_cast<std::uint64_t>(std::time(nullptr)));
        if (const auto problem = brivane::platform::posix::replaceFile(
                output + "/" + name, formatHealthFile(log), 0644,
                brivane::platform::posix::FolderLink::refused)) {
            say(*problem);
            ++failures;
        }
    }
    // A controller that went away leaves no figures behind for the next one of its name; a
    // sleeping one keeps its last, whose age the file says.
    const auto known = sys.subdirectory("class/nvme").list(".");
    for (const auto& file : brivane::platform::posix::RootedDirectory(output).list(".")) {
        if (file.starts_with("nvme") &&
            std::find(known.begin(), known.end(), file) == known.end()) {
            ::unlink((output + "/" + file).c_str());
        }
    }
    return failures == 0 ? 0 : 1;
}
