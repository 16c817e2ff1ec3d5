#include "backends/linux/service/launch_agent.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <plist/plist.h>

namespace brivane::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<std::string> stringNode(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? std::optional<std::string>(std::string(text, length)) : std::nullopt;
}

std::string resolved(const std::string& path, const fs::path& bundle) {
    return path.starts_with('/') ? path : (bundle / path).string();
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

std::optional<LaunchAgentDescription> readLaunchAgent(const fs::path& plist,
                                                      const fs::path& bundle) {
    const auto bytes = readFile(plist);
    if (!bytes || bytes->size() > (1u << 20)) {
        return std::nullopt;
    }
    plist_t raw = nullptr;
    plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &raw);
    const PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::nullopt;
    }
    LaunchAgentDescription agent;
    const auto label = stringNode(plist_dict_get_item(root.get(), "Label"));
    if (!label) {
        return std::nullopt;
    }
    agent.label = *label;
    if (const auto arguments = plist_dict_get_item(root.get(), "ProgramArguments");
        arguments && plist_get_node_type(arguments) == PLIST_ARRAY) {
        for (uint32_t index = 0; index < plist_array_get_size(arguments); ++index) {
            const auto argument = stringNode(plist_array_get_item(arguments, index));
            if (!argument) {
                return std::nullopt;
            }
            agent.programArguments.push_back(*argument);
        }
    }
    const auto program = stringNode(plist_dict_get_item(root.get(), "BundleProgram"));
    if (program) {
        if (agent.programArguments.empty()) {
            agent.programArguments.push_back(*program);
        } else {
            agent.programArguments.front() = *program;
        }
    }
    if (agent.programArguments.empty()) {
        return std::nullopt;
    }
    agent.programArguments.front() = resolved(agent.programArguments.front(), bundle);
    if (const auto services = plist_dict_get_item(root.get(), "MachServices");
        services && plist_get_node_type(services) == PLIST_DICT) {
        plist_dict_iter rawIterator = nullptr;
        plist_dict_new_iter(services, &rawIterator);
        const std::unique_ptr<void, decltype(&std::free)> iterator(rawIterator, &std::free);
        while (rawIterator) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(services, rawIterator, &key, &value);
            if (!key) {
                break;
            }
            agent.machServices.emplace_back(key);
            std::free(key);
        }
    }
    return agent;
}

} // namespace brivane::platform::linux_backend
