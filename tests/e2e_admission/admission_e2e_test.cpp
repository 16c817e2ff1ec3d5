#include "e2e/child_process.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace brivane::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* team = "ADMTEST001";

// One agent of the test variant (trusting only the test anchor) in a staged bundle whose team
// is ADMTEST001, and one client copy per case, signed or tampered with as the case says. As
// root, agent and clients run as "nobody".
class Admission : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brivane-admission.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        stage_ = pattern;
        fs::permissions(stage_, fs::perms(0755));
        const auto macos = stage_ / "app" / "Contents" / "MacOS";
        fs::create_directories(macos);
        fs::copy(BRIVANE_ADMISSION_AGENT, macos / "brivane-sensor-companion");
        std::ofstream(stage_ / "app" / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>BrivaneTeamIdentifier</key><string>"
            << team
            << "</string><key>CFBundleShortVersionString</key><string>1.0.0</string>"
               "</dict></plist>\n";
        for (const auto* folder : {"home", "run"}) {
            fs::create_directory(stage_ / folder);
            fs::permissions(stage_ / folder, fs::perms(0700));
        }
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            ASSERT_NE(nobody, nullptr);
            wrapper_ = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                        "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"};
            for (const auto* folder : {"home", "run"}) {
                ASSERT_EQ(chown((stage_ / folder).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
            }
        }
        endpoint_ =
            (stage_ / "run" / (std::string(team) + ".dev.qorva.brivane.sensors.snapshot")).string();
    }

    void TearDown() override {
        agent_.reset();
        std::error_code ignored;
        fs::remove_all(stage_, ignored);
    }

    std::vector<std::string> asUser(std::vector<std::string> argv) const {
        auto wrapped = wrapper_;
        wrapped.insert(wrapped.end(), argv.begin(), argv.end());
        return wrapped;
    }

    std::vector<std::string> environment() const {
        return {"HOME=" + (stage_ / "home").string(),
                "XDG_RUNTIME_DIR=" + (stage_ / "run").string(),
                "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    }

    void startAgent() {
        agent_ = std::make_unique<ChildProcess>(
            asUser({(stage_ / "app/Contents/MacOS/brivane-sensor-companion").string(), "--agent"}),
            environment(), (stage_ / "agent.out").string());
        ASSERT_TRUE(agent_->started());
        for (auto waited = 0ms; waited < 10s && !fs::exists(endpoint_); waited += 50ms) {
            ASSERT_TRUE(agent_->running()) << "the agent ended early";
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_TRUE(fs::exists(endpoint_));
    }

    // A copy of the CLI at <stage>/clients/<name>/brivane-sensors, signed as asked.
    std::string client(const std::string& name, const std::optional<std::string>& identifier,
                       const std::string& certificate = "team", const std::string& chain = "") {
        const auto folder = stage_ / "clients" / name;
        fs::create_directories(folder);
        fs::permissions(stage_ / "clients", fs::perms(0755));
        fs::permissions(folder, fs::perms(0755));
        const auto path = (folder / "brivane-sensors").string();
        fs::copy(BRIVANE_ADMISSION_CLI, path);
        if (identifier) {
            const std::string certificates = BRIVANE_ADMISSION_CERTIFICATES;
            std::vector<std::string> sign = {BRIVANE_ADMISSION_CODESIGN,
                                             "sign",
                                             "--identifier",
                                             *identifier,
                                             "--certificate",
                                             certificates + "/" + certificate + ".pem",
                                             "--key",
                                             certificates + "/" + certificate + "-key.pem"};
            if (!chain.empty()) {
                sign.insert(sign.end(), {"--chain", certificates + "/" + chain + ".pem"});
            }
            sign.push_back(path);
            EXPECT_EQ(runCommand(sign, {}, (stage_ / "sign.out").string()).status, 0) << name;
            fs::permissions(path + ".sig", fs::perms(0644));
        }
        return path;
    }

    CommandResult ask(const std::string& clientPath) {
        return runCommand(asUser({clientPath, "--endpoint", endpoint_, "snapshot"}), environment(),
                          (stage_ / "client.out").string());
    }

    fs::path stage_;
    std::string endpoint_;
    std::vector<std::string> wrapper_;
    std::unique_ptr<ChildProcess> agent_;
};

TEST_F(Admission, OnlyClientsSatisfyingTheRequirementAreAnswered) {
    struct Case {
        const char* name;
        std::optional<std::string> identifier;
        const char* certificate;
        bool admitted;
    };
    const Case cases[] = {
        {"client", "dev.qorva.brivane", "team", true},
        {"beta", "dev.qorva.brivane.beta", "team", true},
        {"verification", "dev.qorva.brivane.Verification", "team", true},
        {"unlisted", "dev.qorva.brivane.alpha", "team", false},
        {"other team", "dev.qorva.brivane", "other", false},
        {"extension", "dev.qorva.brivane", "extension", true},
        {"extension, beta", "dev.qorva.brivane.beta", "extension", false},
        {"foreign anchor", "dev.qorva.brivane", "foreign", false},
        {"expired", "dev.qorva.brivane", "expired", false},
        {"unsigned", std::nullopt, "team", false},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) {
        paths.push_back(client(c.name, c.identifier, c.certificate));
    }
    // Changed after signing: one byte appended to a correctly signed copy.
    const auto tampered = client("tampered", "dev.qorva.brivane");
    std::ofstream(tampered, std::ios::app | std::ios::binary) << '\0';
    ASSERT_NO_FATAL_FAILURE(startAgent());

    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto result = ask(paths[index]);
        EXPECT_EQ(result.status == 0, cases[index].admitted) << cases[index].name;
        EXPECT_EQ(result.output.find("Temperatures") != std::string::npos, cases[index].admitted)
            << cases[index].name << ": " << result.output;
    }
    const auto result = ask(tampered);
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.output.find("Temperatures"), std::string::npos);
    EXPECT_TRUE(agent_->running()) << "refusals must not harm the agent";
}

} // namespace
} // namespace brivane::e2e
