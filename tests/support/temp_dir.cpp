#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

namespace brivane::testing {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
    std::string pattern = (fs::temp_directory_path() / prefix).string() + "-XXXXXX";
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
    else
        ADD_FAILURE() << "cannot make a temporary directory from " << pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty())
        fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

void TempDir::makeDirectory(std::string_view relative) const {
    std::error_code error;
    fs::create_directories(*this / relative, error);
    if (error)
        ADD_FAILURE() << "cannot make " << relative << ": " << error.message();
}

void TempDir::write(std::string_view relative, std::string_view contents, mode_t mode) const {
    const std::string file = *this / relative;
    makeDirectory(fs::path(relative).parent_path().string());
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << contents;
        if (!out)
            ADD_FAILURE() << "cannot write " << file;
    }
    if (::chmod(file.c_str(), mode) != 0)
        ADD_FAILURE() << "cannot set the mode of " << file;
}

void TempDir::writeFiles(std::string_view folder, std::string_view files) const {
    makeDirectory(folder);
    while (!files.empty()) {
        const auto file = files.substr(0, files.find(';'));
        const auto equals = std::min(file.find('='), file.size());
        const auto contents = file.substr(std::min(equals + 1, file.size()));
        write(std::string(folder) + "/" + std::string(file.substr(0, equals)),
              contents.empty() ? "" : std::string(contents) + "\n");
        files.remove_prefix(std::min(file.size() + 1, files.size()));
    }
}

void TempDir::symlink(std::string_view relative, std::string_view target) const {
    const std::string link = *this / relative;
    makeDirectory(fs::path(relative).parent_path().string());
    std::error_code error;
    fs::create_symlink(fs::path(target), link, error);
    if (error)
        ADD_FAILURE() << "cannot link " << link << ": " << error.message();
}

} // namespace brivane::testing
