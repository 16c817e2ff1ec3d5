#pragma once

#include "update/companion_updater.h"
#include "update/sha256_hex.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>

namespace brivane::testing {

// What the fake transfer answers and what it was asked; shared between test and transfer,
// since the updater makes its transfer on first use.
struct TransferScript {
    std::mutex mutex;
    platform::DataTransferResult manifestAnswer;
    platform::DownloadTransferResult packageAnswer;
    std::string packageContent; // written to a temporary file for each download
    bool holdFetch = false;
    std::function<void(platform::DataTransferResult)> held;
    int fetches = 0;
    int downloads = 0;
    std::size_t lastBodyLimit = 0;
};

// Completions run on the delegate queue, like the real ones; a held fetch waits for release().
class FakeTransfer final : public platform::Transfer {
public:
    FakeTransfer(std::shared_ptr<platform::SerialQueue> queue,
                 std::shared_ptr<TransferScript> script)
        : queue_(std::move(queue)), script_(std::move(script)) {}

    void fetch(const std::string&, std::size_t bodyLimit,
               std::function<void(platform::DataTransferResult)> completion) override {
        std::lock_guard guard(script_->mutex);
        ++script_->fetches;
        script_->lastBodyLimit = bodyLimit;
        if (script_->holdFetch) {
            script_->held = std::move(completion);
            return;
        }
        queue_->async([completion = std::move(completion), answer = script_->manifestAnswer] {
            completion(answer);
        });
    }

    void release() {
        std::lock_guard guard(script_->mutex);
        queue_->async([completion = std::move(script_->held), answer = script_->manifestAnswer] {
            completion(answer);
        });
    }

    void download(const std::string&, platform::DownloadProgress,
                  std::function<void(platform::DownloadTransferResult)> completion) override {
        std::lock_guard guard(script_->mutex);
        ++script_->downloads;
        queue_->async([answer = script_->packageAnswer, content = script_->packageContent,
                       completion = std::move(completion)]() mutable {
            const auto file = std::filesystem::temp_directory_path() /
                              ("brivane-fake-download-" + std::to_string(std::random_device{}()));
            if (answer.file) {
                std::ofstream(file, std::ios::binary) << content;
                answer.file = file.string();
            }
            completion(answer);
            std::filesystem::remove(file); // valid only until the completion returns
        });
    }

private:
    std::shared_ptr<platform::SerialQueue> queue_;
    std::shared_ptr<TransferScript> script_;
};

class FakeToolRunner final : public platform::ToolRunner {
public:
    std::map<std::string, platform::ToolResult> results;
    std::vector<platform::ToolRun> requests;

    platform::ToolResult run(const platform::ToolRun& run) override {
        std::lock_guard guard(mutex_);
        requests.push_back(run);
        const auto found = results.find(run.path);
        return found == results.end() ? platform::ToolResult{"not found", -1, ""} : found->second;
    }

    // For polling while the updater may still be running tools.
    std::size_t requestCount() {
        std::lock_guard guard(mutex_);
        return requests.size();
    }

private:
    std::mutex mutex_;
};

class FakeWorkspace final : public platform::Workspace {
public:
    std::optional<std::string> caches;
    bool opens = true;
    std::vector<std::string> opened;

    std::optional<std::string> userCachesDirectory() const override { return caches; }
    void open(const std::string& file, std::function<void(bool)> done) override {
        opened.push_back(file);
        done(opens);
    }
};

class FixedOSVersion final : public platform::OperatingSystemVersionSource {
public:
    platform::OperatingSystemVersion version() const override { return {14, 5, 0}; }
};

// Collects replies from any thread.
class ReplyLog {
public:
    CompanionUpdater::Reply recorder() {
        return [this](SensorCompanionUpdate update) {
            std::lock_guard guard(mutex_);
            replies_.push_back(std::move(update));
            changed_.notify_all();
        };
    }

    // Waits for the n-th reply, draining the main queue meanwhile.
    std::optional<SensorCompanionUpdate>
    waitFor(std::size_t n, platform::MainQueue& main,
            std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            main.drain();
            std::unique_lock guard(mutex_);
            if (changed_.wait_for(guard, std::chrono::milliseconds(5),
                                  [&] { return replies_.size() >= n; })) {
                return replies_[n - 1];
            }
        }
        return std::nullopt;
    }

    std::size_t count() {
        std::lock_guard guard(mutex_);
        return replies_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SensorCompanionUpdate> replies_;
};

inline const std::string packagePayload = "signed installer package bytes";

inline nlohmann::json manifestFor(const std::string& version,
                                  const std::string& content = packagePayload) {
    return {{"schemaVersion", 1},
            {"version", version},
            {"protocolVersion", 2},
            {"minimumOSVersion", "14.0"},
            {"architecture", "arm64"},
            {"url", CompanionRelease::packageURL()},
            {"sha256",
             sha256Hex({reinterpret_cast<const unsigned char*>(content.data()), content.size()})},
            {"size", content.size()}};
}

inline platform::DataTransferResult manifestAnswer(const std::string& body) {
    return {std::nullopt, platform::TransferResponse{200, CompanionRelease::manifestURL()}, body};
}

inline platform::DownloadTransferResult packageAnswer() {
    return {std::nullopt, platform::TransferResponse{200, CompanionRelease::packageURL()},
            std::string("placeholder")};
}

inline platform::ToolResult toolOutput(std::string output, int status = 0) {
    platform::ToolResult result;
    result.terminationStatus = status;
    result.output = std::move(output);
    return result;
}

inline const std::string manifestRefusal =
    "The companion update information is invalid or incompatible.";
inline const std::string signatureRefusal =
    "The companion installer is not signed by Brivane\xE2\x80\x99s developer.";

using BundleStrings = std::map<std::string, std::string, std::less<>>;

// A script that offers version 2.0 of the given package and serves it.
inline std::shared_ptr<TransferScript> offering(const std::string& package = packagePayload) {
    auto script = std::make_shared<TransferScript>();
    script->manifestAnswer = manifestAnswer(manifestFor("2.0", package).dump());
    script->packageAnswer = packageAnswer();
    script->packageContent = package;
    return script;
}

// Dependencies with a fake transfer answering from script and a fixed system version.
inline CompanionUpdater::Dependencies fakeDependencies(
    std::shared_ptr<TransferScript> script, std::shared_ptr<platform::ToolRunner> tools,
    std::shared_ptr<platform::Workspace> workspace, BundleStrings info, platform::MainQueue& main) {
    CompanionUpdater::Dependencies dependencies;
    dependencies.makeTransfer = [script](std::shared_ptr<platform::SerialQueue> queue) {
        return std::make_unique<FakeTransfer>(std::move(queue), script);
    };
    dependencies.toolRunner = std::move(tools);
    dependencies.workspace = std::move(workspace);
    dependencies.osVersion = std::make_shared<FixedOSVersion>();
    dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(std::move(info));
    dependencies.fileMapper = platform::makeDefaultFileMapper();
    dependencies.mainQueue = &main;
    return dependencies;
}

inline std::string certificateLines(const std::string& team) {
    return "Package \"Brivane-Sensor-Companion.pkg\":\n"
           "   Status: signed by a trusted developer certificate\n"
           "   Certificate Chain:\n"
           "    1. Developer ID Installer: Brivane Sensors (" +
           team +
           ")\n"
           "    2. Brivane Development Root\n";
}

} // namespace brivane::testing
