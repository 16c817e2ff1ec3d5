#include "backends/linux/polling/counter_file.h"

#include <array>
#include <vector>

namespace brivane::platform::linux_backend {

CounterFile::CounterFile(const posix::RootedDirectory& root, std::string path,
                         posix::KeptValue::Pread pread, std::size_t& kept)
    : path_(std::move(path)) {
    if (kept < keptLimit) {
        kept_ = posix::KeptValue(root, path_.c_str(), pread);
        kept += kept_.isOpen() ? 1 : 0;
    }
}

posix::FileText CounterFile::read(const posix::RootedDirectory& root,
                                  std::span<char> buffer) const {
    if (kept_.isOpen()) {
        posix::FileText text = kept_.readInto(buffer);
        if (text.outcome != posix::Outcome::gone)
            return text;
    }
    // Not kept, or its node was replaced (a CPU back online): read it afresh.
    return root.readWhole(path_.c_str(), buffer);
}

std::optional<std::uint64_t> CounterFile::readCounter(const posix::RootedDirectory& root) const {
    std::array<char, 64> buffer;
    posix::FileText text = read(root, buffer);
    if (text.outcome != posix::Outcome::value)
        return std::nullopt;
    return posix::parseUnsigned(text.text);
}

std::optional<std::string> resolveLink(std::string_view directory, std::string_view target) {
    if (target.empty() || target.front() == '/')
        return std::nullopt;
    std::vector<std::string_view> parts;
    auto push = [&](std::string_view path) {
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view part = path.substr(0, slash);
            path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
            if (part.empty() || part == ".")
                continue;
            if (part != "..")
                parts.push_back(part);
            else if (parts.empty())
                return false;
            else
                parts.pop_back();
        }
        return true;
    };
    if (!push(directory) || !push(target) || parts.empty())
        return std::nullopt;
    std::string resolved;
    for (std::string_view part : parts) {
        if (!resolved.empty())
            resolved += '/';
        resolved += part;
    }
    return resolved;
}

} // namespace brivane::platform::linux_backend
