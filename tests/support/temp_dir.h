#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace brivane::testing {

// Files of one folder as "name=contents;name=contents"; each gets a line feed unless empty.
using Files = std::string;

// A private temporary directory, removed with its contents, to build small file trees in (a /sys
// or /proc in miniature); helpers make missing parents and fail the test when they cannot.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "brivane-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/relative
    std::string operator/(std::string_view relative) const;

    void write(std::string_view relative, std::string_view contents, mode_t mode = 0644) const;
    void writeFiles(std::string_view folder, std::string_view files) const;
    void makeDirectory(std::string_view relative) const;
    void symlink(std::string_view relative, std::string_view target) const;

private:
    std::string path_;
};

} // namespace brivane::testing
