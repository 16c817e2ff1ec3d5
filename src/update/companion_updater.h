#pragma once

#include "base/main_queue.h"
#include "base/serial_queue.h"
#include "formats/companion_update.h"
#include "platform/bundle_info.h"
#include "platform/file_mapper.h"
#include "platform/os_version.h"
#include "platform/tool_runner.h"
#include "platform/transfer.h"
#include "platform/workspace.h"
#include "update/companion_release.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brivane {

// Checks for, downloads, verifies and opens companion releases. One command at a time;
// a command arriving meanwhile is answered busy. Lives as long as the service; replies come
// from the transfer's delegate queue or, for the opening step, from the main queue.
class CompanionUpdater {
public:
    using Reply = std::function<void(SensorCompanionUpdate)>;
    using TransferFactory = std::function<std::unique_ptr<platform::Transfer>(
        std::shared_ptr<base::SerialQueue> delegateQueue)>;

    struct Dependencies {
        TransferFactory makeTransfer;
        std::shared_ptr<platform::ToolRunner> toolRunner;
        std::shared_ptr<platform::Workspace> workspace;
        std::shared_ptr<const platform::OperatingSystemVersionSource> osVersion;
        std::shared_ptr<const platform::BundleInfo> bundleInfo;
        std::shared_ptr<const platform::FileMapper> fileMapper;
        base::MainQueue* mainQueue = nullptr;

        // The platform's own services.
        static Dependencies platformDefaults();
    };

    // Whether this build updates itself; a distribution package's build does not, and answers
    // every command with selfUpdateOffMessage.
    static constexpr bool selfUpdateEnabled = BRIVANE_SELF_UPDATE;
    static constexpr std::string_view selfUpdateOffMessage =
        SensorCompanionUpdate::selfUpdateOffMessage;

    static constexpr std::size_t manifestSizeLimit = 16384;
    static constexpr double toolTimeLimit = 15.0;
    static constexpr std::string_view packageFileName = "Brivane-Sensor-Companion.pkg";
    static constexpr std::string_view signatureTool = "/usr/sbin/pkgutil";
    static constexpr std::string_view assessmentTool = "/usr/sbin/spctl";

    CompanionUpdater();
    explicit CompanionUpdater(Dependencies dependencies);
    ~CompanionUpdater();

    CompanionUpdater(const CompanionUpdater&) = delete;
    CompanionUpdater& operator=(const CompanionUpdater&) = delete;

    // Returns at once; reply is called exactly once (at once when busy).
    void perform(SensorCompanionCommand command, Reply reply);

    // The process is stopping: the transfer and tool runs of a command in progress end at
    // once, so it is answered as failed within moments, and later ones fail at once.
    void cancel();

private:
    std::optional<SensorCompanionUpdate> handleManifest(SensorCompanionCommand command,
                                                        const platform::DataTransferResult& result,
                                                        const Reply& finish);
    void download(const CompanionRelease& release, const Reply& finish);
    void handlePackage(const CompanionRelease& release,
                       const platform::DownloadTransferResult& result, const Reply& finish);
    std::string run(const std::string& path, std::vector<std::string> arguments);
    std::string installationDirectory() const;

    Dependencies dependencies_;
    std::mutex lock;
    bool running = false;
    std::shared_ptr<base::SerialQueue> delegateQueue_;
    std::unique_ptr<platform::Transfer> session;
};

} // namespace brivane
