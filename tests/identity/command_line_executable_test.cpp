#include "support/child_process.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brivane {
namespace {

namespace fs = std::filesystem;

// The bundled executable with its units in a temporary XDG_CONFIG_HOME, so the machine's own
// units stay untouched. Rows run in order and build on each other's registration.
TEST(CommandLineExecutable, RegistrationFormsAsARealProcess) {
    const fs::path executable =
        fs::path(BRIVANE_IDENTITY_BUNDLE) / "Contents" / "MacOS" / "brivane-sensor-companion";
    if (!fs::exists(executable)) {
        GTEST_SKIP() << "the bundle is not built";
    }
    const testing::TempDir temp("brivane-cli");
    const fs::path config = temp.path();
    const std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + config.string(),
                                                  "HOME=" + config.string(),
                                                  "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    const auto unit = config / "systemd" / "user" / "dev.qorva.brivane.SensorCompanion.service";
    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        bool registeredAfter;
    };
    const Row rows[] = {
        {{"--status"}, 0, "disabled\n", false},
        {{"--version"},
         0,
         std::string("brivane-sensor-companion ") + BRIVANE_VERSION + "\n",
         false},
        {{"--disable"}, 1, "", false},
        {{}, 0, "enabled\n", true},
        {{"--enable"}, 0, "enabled\n", true},
        {{"--install"}, 0, "enabled\n", true},
        {{"--status", "--status"}, 2, "", true},
        {{"--disable"}, 0, "", false},
        {{"--status"}, 0, "disabled\n", false},
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv = {executable.string()};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        const auto result = testing::runCommand(argv, environment, (config / "out").string());
        const auto shown = row.arguments.empty() ? std::string("(none)") : row.arguments.front();
        EXPECT_EQ(result.status, row.status) << shown;
        EXPECT_EQ(result.output, row.out) << shown;
        EXPECT_EQ(fs::exists(unit), row.registeredAfter) << shown;
    }
}

} // namespace
} // namespace brivane
