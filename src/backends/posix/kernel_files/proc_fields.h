#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "base/whole_number.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Small helpers for the per-process files of /proc and for blank-separated kernel records.
namespace brivane::platform::posix {

inline bool isFieldBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The next blank-separated field of rest, which then starts just after it; empty at the end.
inline std::string_view nextField(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && isFieldBlank(rest[start]))
        ++start;
    std::size_t end = start;
    while (end < rest.size() && !isFieldBlank(rest[end]))
        ++end;
    const std::string_view field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

// /proc/<pid>/stat from field `first` (counting from 1) on; nothing when the line ends before
// it. Fields count from the last ')', as the name may itself hold blanks and parentheses.
inline std::optional<std::string_view> statFieldsFrom(std::string_view stat, int first) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    // Field 3 (state) is the first after the name.
    for (int field = 3; field < first; ++field) {
        if (nextField(rest).empty())
            return std::nullopt;
    }
    return rest;
}

// The pid a /proc entry name stands for: digits only, above zero.
inline std::optional<std::int32_t> pidOfEntry(std::string_view name) {
    const auto pid = base::wholeNumber<std::int32_t>(name);
    if (!pid || *pid < 1)
        return std::nullopt;
    return pid;
}

// The pids listed under the /proc root, in directory order.
inline std::vector<std::int32_t> processIds(const RootedDirectory& proc) {
    std::vector<std::int32_t> pids;
    pids.reserve(1024);
    proc.forEachEntry(".", [&](std::string_view name) {
        if (const auto pid = pidOfEntry(name))
            pids.push_back(*pid);
    });
    return pids;
}

// "<pid>/<leaf>" relative to the /proc root, in a fixed buffer; a leaf too long is cut.
class PidPath {
public:
    PidPath(std::int32_t pid, std::string_view leaf) {
        // 11 characters hold any int32_t; the rest holds '/', the leaf and the terminator.
        char* end = std::to_chars(text_.data(), text_.data() + 11, pid).ptr;
        *end++ = '/';
        leaf = leaf.substr(0, static_cast<std::size_t>(text_.data() + text_.size() - 1 - end));
        for (char c : leaf)
            *end++ = c;
        *end = '\0';
    }
    const char* c_str() const { return text_.data(); }

private:
    std::array<char, 32> text_{};
};

// The name in /proc/<pid>/comm: its bytes up to a NUL or the newline; nothing when empty.
inline std::optional<std::string> commandName(std::string_view comm) {
    const std::string_view text = withoutNewline(comm.substr(0, comm.find('\0')));
    if (text.empty())
        return std::nullopt;
    return std::string(text);
}

// Parses the head of /proc/<pid>/<leaf>, read into an N-byte stack buffer; nothing when the file
// cannot be read or parsed.
template <std::size_t N, class Parse>
auto readParsed(const RootedDirectory& proc, std::int32_t pid, std::string_view leaf, Parse parse)
    -> decltype(parse(std::string_view())) {
    std::array<char, N> buffer;
    const auto text = proc.readHead(PidPath(pid, leaf).c_str(), buffer);
    if (!text)
        return std::nullopt;
    return parse(*text);
}

} // namespace brivane::platform::posix
