#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::platform {

// The information dictionary of the bundle that holds the running executable.
class BundleInfo {
public:
    virtual ~BundleInfo() = default;
    // The value of a key when it is a string; absent when missing or of any other type.
    virtual std::optional<std::string> stringValue(std::string_view key) const = 0;
};

// A dictionary fixed at construction: the string-valued keys of an information dictionary.
class StaticBundleInfo final : public BundleInfo {
public:
    StaticBundleInfo() = default;
    explicit StaticBundleInfo(std::map<std::string, std::string, std::less<>> strings)
        : strings_(std::move(strings)) {}

    std::optional<std::string> stringValue(std::string_view key) const override {
        const auto found = strings_.find(key);
        if (found == strings_.end()) {
            return std::nullopt;
        }
        return found->second;
    }

private:
    std::map<std::string, std::string, std::less<>> strings_;
};

// The running executable's bundle; empty outside a bundle. Defined by the back end.
std::shared_ptr<const BundleInfo> makeDefaultBundleInfo();

} // namespace brivane::platform
