#include "platform/linux/workspace_linux.h"

#include <filesystem>

namespace brivane::platform {
namespace {

// The simulated laptop keeps its caches where the host keeps them, and its installer
// "opens" any package that exists.
class SimulatedWorkspace final : public Workspace {
public:
    std::optional<std::string> userCachesDirectory() const override {
        return host_.userCachesDirectory();
    }
    void open(const std::string& file, std::function<void(bool)> done) override {
        std::error_code error;
        done(std::filesystem::is_regular_file(file, error));
    }

private:
    linux_backend::XdgWorkspace host_;
};

} // namespace

std::shared_ptr<Workspace> makeDefaultWorkspace() {
    return std::make_shared<SimulatedWorkspace>();
}

} // namespace brivane::platform
