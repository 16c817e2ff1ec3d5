#include "update/companion_updater.h"

#include "identity/sensor_companion_identity.h"
#include "update/installer_signature.h"
#include "update/random_uuid.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace brivane {
namespace {

using State = SensorCompanionUpdate::State;

constexpr std::string_view delegateQueueLabel = "dev.qorva.brivane.SensorCompanion.updater";

// A tool that could not be started; its description reaches the user unchanged.
class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

SensorCompanionUpdate failure(std::string message,
                              std::optional<std::string> version = std::nullopt) {
    return {State::failed, std::move(version), std::move(message)};
}

bool isExpectedResponse(const std::optional<platform::TransferResponse>& response,
                        const std::string& address) {
    return response && response->statusCode == 200 && response->finalURL == address;
}

} // namespace

CompanionUpdater::Dependencies CompanionUpdater::Dependencies::platformDefaults() {
    Dependencies defaults;
    defaults.toolRunner = platform::makeDefaultToolRunner();
    defaults.workspace = platform::makeDefaultWorkspace();
    // Packages in flight stay inside the companion's own cache folder too.
    platform::TransferConfiguration configuration;
    if (const auto caches = defaults.workspace->userCachesDirectory()) {
        configuration.downloadDirectory = (std::filesystem::path(*caches) /
                                           identity::SensorCompanionIdentity::helper / "Downloads")
                                              .string();
    }
    // These are the agent's, the folder's only user, made before it serves anyone: what a
    // killed agent left there goes now.
    platform::removeLeftoverDownloads(configuration);
    defaults.makeTransfer = [configuration](std::shared_ptr<base::SerialQueue> queue) {
        return platform::makeDefaultTransfer(std::move(queue), configuration);
    };
    defaults.osVersion = platform::makeDefaultOperatingSystemVersionSource();
    defaults.bundleInfo = platform::makeDefaultBundleInfo();
    defaults.fileMapper = platform::makeDefaultFileMapper();
    defaults.mainQueue = &base::mainQueue();
    return defaults;
}

CompanionUpdater::CompanionUpdater() : CompanionUpdater(Dependencies::platformDefaults()) {}

CompanionUpdater::CompanionUpdater(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

CompanionUpdater::~CompanionUpdater() {
    // Completions still queued refer to this object: let them run while it is whole.
    session.reset();
    delegateQueue_.reset();
}

void CompanionUpdater::cancel() {
    {
        std::lock_guard guard(lock);
        if (session) {
            session->cancel();
        }
    }
    dependencies_.toolRunner->stop();
}

void CompanionUpdater::perform(SensorCompanionCommand command, Reply reply) {
    if constexpr (!selfUpdateEnabled) {
        reply(failure(std::string(selfUpdateOffMessage)));
        return;
    }
    {
        std::unique_lock guard(lock);
        if (running) {
            guard.unlock();
            reply(SensorCompanionUpdate{State::busy, std::nullopt, std::nullopt});
            return;
        }
        running = true;
        if (!session) {
            delegateQueue_ = std::make_shared<base::SerialQueue>(std::string(delegateQueueLabel));
            session = dependencies_.makeTransfer(delegateQueue_);
        }
    }
    Reply finish = [this, reply = std::move(reply)](SensorCompanionUpdate update) {
        {
            std::lock_guard guard(lock);
            running = false;
        }
        reply(std::move(update));
    };
    session->fetch(CompanionRelease::manifestURL(), manifestSizeLimit,
                   [this, command, finish](const platform::DataTransferResult& result) {
                       std::optional<SensorCompanionUpdate> update;
                       try {
                           update = handleManifest(command, result, finish);
                       } catch (const std::exception& error) {
                           update = failure(error.what());
                       }
                       if (update) {
                           finish(std::move(*update));
                       }
                   });
}

std::optional<SensorCompanionUpdate>
CompanionUpdater::handleManifest(SensorCompanionCommand command,
                                 const platform::DataTransferResult& result, const Reply& finish) {
    if (result.error) {
        return failure(*result.error);
    }
    if (!isExpectedResponse(result.response, CompanionRelease::manifestURL()) || !result.body ||
        result.body->size() > manifestSizeLimit) {
        throw CompanionRelease::Invalid(CompanionRelease::Invalid::manifest);
    }
    const auto release = CompanionRelease::decode(*result.body);
    const std::string running =
        dependencies_.bundleInfo->stringValue("CFBundleShortVersionString").value_or("0.0");
    if (!release.isNewer(running, dependencies_.osVersion->version())) {
        return SensorCompanionUpdate{State::upToDate, running, std::nullopt};
    }
    if (command == SensorCompanionCommand::checkForUpdates) {
        return SensorCompanionUpdate{State::available, release.version, std::nullopt};
    }
    download(release, finish);
    return std::nullopt;
}

void CompanionUpdater::download(const CompanionRelease& release, const Reply& finish) {
    session->download(release.url, CompanionRelease::maximumSize,
                      [this, release, finish](const platform::DownloadTransferResult& result) {
                          try {
                              handlePackage(release, result, finish);
                          } catch (const std::exception& error) {
                              finish(failure(error.what()));
                          }
                      });
}

void CompanionUpdater::handlePackage(const CompanionRelease& release,
                                     const platform::DownloadTransferResult& result,
                                     const Reply& finish) {
    if (result.error) {
        throw std::runtime_error(*result.error);
    }
    if (!isExpectedResponse(result.response, CompanionRelease::packageURL()) || !result.file) {
        throw CompanionRelease::Invalid(CompanionRelease::Invalid::manifest);
    }
    const std::string& file = *result.file;
    release.verifyDownload(file, *dependencies_.fileMapper);

    const auto team = dependencies_.bundleInfo->stringValue("BrivaneTeamIdentifier");
    if (!team) {
        throw CompanionRelease::Invalid(CompanionRelease::Invalid::signature);
    }
    const auto certificates = run(std::string(signatureTool), {"--check-signature", file});
    if (!hasInstallerCertificateLine(certificates, *team)) {
        throw CompanionRelease::Invalid(CompanionRelease::Invalid::signature);
    }
    run(std::string(assessmentTool), {"--assess", "--type", "install", file});

    const std::filesystem::path directory = installationDirectory();
    std::filesystem::create_directories(directory);
    const auto package = directory / packageFileName;
    std::filesystem::copy_file(file, package);

    // Only the copy outlives this completion; the opening step starts on the main thread and
    // does not wait there for the opener.
    dependencies_.mainQueue->async([workspace = dependencies_.workspace, package = package.string(),
                                    version = release.version, finish]() {
        workspace->open(package, [version, finish](bool opened) {
            if (opened) {
                finish(SensorCompanionUpdate{State::installerOpened, version, std::nullopt});
            } else {
                finish(failure("Could not open Apple Installer.", version));
            }
        });
    });
}

std::string CompanionUpdater::installationDirectory() const {
    const auto caches = dependencies_.workspace->userCachesDirectory();
    if (!caches) {
        throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                                "The user\u2019s caches folder could not be found");
    }
    return (std::filesystem::path(*caches) / identity::SensorCompanionIdentity::helper / "Updates" /
            randomUUIDString())
        .string();
}

std::string CompanionUpdater::run(const std::string& path, std::vector<std::string> arguments) {
    platform::ToolRun request;
    request.path = path;
    request.arguments = std::move(arguments);
    request.environment =
        platform::ToolEnvironment::inheritedWith({{"LC_ALL", "C"}, {"LANG", "C"}});
    request.timeLimit = toolTimeLimit;
    request.qos = platform::WatchdogQoS::standard;
    auto result = dependencies_.toolRunner->run(request);
    if (result.launchError) {
        throw LaunchError(*result.launchError);
    }
    if (result.terminationStatus != 0 || !isValidUTF8(result.output)) {
        throw CompanionRelease::Invalid(CompanionRelease::Invalid::signature);
    }
    return std::move(result.output);
}

} // namespace brivane
