#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brivane::platform::linux_backend {

// One counter file of a subscription: kept open while the subscription's budget of kept
// descriptors lasts, else opened for each read.
class CounterFile {
public:
    // Beyond this many files per subscription, files are opened per read.
    static constexpr std::size_t keptLimit = 256;

    CounterFile(const posix::RootedDirectory& root, std::string path, posix::KeptValue::Pread pread,
                std::size_t& kept);

    const std::string& path() const { return path_; }
    posix::FileText read(const posix::RootedDirectory& root, std::span<char> buffer) const;
    std::optional<std::uint64_t> readCounter(const posix::RootedDirectory& root) const;

private:
    std::string path_;
    posix::KeptValue kept_;
};

// directory joined with a relative link target, ".." resolved: the root-relative path of a
// sysfs link such as cpu3/cpufreq -> ../cpufreq/policy2.
std::optional<std::string> resolveLink(std::string_view directory, std::string_view target);

} // namespace brivane::platform::linux_backend
