#include "backends/posix/system/running_bundle.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <plist/plist.h>
#include <system_error>

namespace brivane::platform::posix {
namespace {

// An information dictionary is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t maximumInfoPlistSize = 1 << 20;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

} // namespace

std::optional<std::filesystem::path> bundleContentsOf(const std::filesystem::path& executable) {
    const auto macOS = executable.parent_path();
    if (macOS.filename() != "MacOS") {
        return std::nullopt;
    }
    const auto contents = macOS.parent_path();
    if (contents.filename() != "Contents") {
        return std::nullopt;
    }
    return contents;
}

std::shared_ptr<const BundleInfo> infoDictionaryFromBytes(std::string_view bytes) {
    std::map<std::string, std::string, std::less<>> strings;
    // The binary reader of the installed libplist aborts on dictionaries with non-string keys,
    // so only the XML form, which every bundle we build carries, is read.
    if (bytes.empty() || bytes.starts_with("bplist") ||
        bytes.size() > std::numeric_limits<uint32_t>::max()) {
        return std::make_shared<StaticBundleInfo>();
    }
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    const PlistHandle root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::make_shared<StaticBundleInfo>();
    }
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(root.get(), &rawIter);
    const std::unique_ptr<void, MallocDeleter> iter(rawIter);
    while (iter) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), rawIter, &rawKey, &value);
        const std::unique_ptr<char, MallocDeleter> key(rawKey);
        if (!key || !value) {
            break;
        }
        if (plist_get_node_type(value) == PLIST_STRING) {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(value, &length);
            if (text) {
                strings.insert_or_assign(key.get(), std::string(text, length));
            }
        }
    }
    return std::make_shared<StaticBundleInfo>(std::move(strings));
}

std::shared_ptr<const BundleInfo> infoDictionaryFromFile(const std::filesystem::path& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > maximumInfoPlistSize) {
        return std::make_shared<StaticBundleInfo>();
    }
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return infoDictionaryFromBytes(bytes);
}

std::optional<std::filesystem::path> runningBundleContents() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::nullopt : bundleContentsOf(executable);
}

std::shared_ptr<const BundleInfo> runningBundleInfo() {
    const auto contents = runningBundleContents();
    if (!contents) {
        return std::make_shared<StaticBundleInfo>();
    }
    return infoDictionaryFromFile(*contents / "Info.plist");
}

} // namespace brivane::platform::posix
