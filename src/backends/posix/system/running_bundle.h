#pragma once

#include "platform/bundle_info.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace brivane::platform::posix {

// The bundle's Contents folder when the executable lies at ".../Contents/MacOS/<name>".
std::optional<std::filesystem::path> bundleContentsOf(const std::filesystem::path& executable);

// The string-valued keys of an XML property list whose top level is a dictionary. Anything
// else, the binary form included, gives an empty dictionary.
std::shared_ptr<const BundleInfo> infoDictionaryFromBytes(std::string_view bytes);
std::shared_ptr<const BundleInfo> infoDictionaryFromFile(const std::filesystem::path& path);

// The Contents folder of the bundle around /proc/self/exe; absent outside a bundle.
std::optional<std::filesystem::path> runningBundleContents();

// The information dictionary of the bundle around /proc/self/exe; empty outside a bundle.
std::shared_ptr<const BundleInfo> runningBundleInfo();

} // namespace brivane::platform::posix
