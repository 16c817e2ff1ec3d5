// Converts between a `.seeds` file and the folder of one-input files libFuzzer works on:
//   fuzz_seeds unpack <file.seeds> <folder>   writes seed-NNNN files into the folder
//   fuzz_seeds pack <folder> <file.seeds>     sorted and deduplicated, refused over the cap
// Sorting makes a repacked corpus differ from the old one only by the inputs that changed.
#include "seed_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>

namespace {

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int unpack(const std::filesystem::path& seeds, const std::filesystem::path& folder) {
    const auto inputs = brivane::fuzz::decodeSeedFile(readAll(seeds));
    if (!inputs) {
        std::cerr << seeds.string() << ": malformed escape\n";
        return 1;
    }
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < inputs->size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "seed-%04zu", i);
        std::ofstream(folder / name, std::ios::binary) << (*inputs)[i];
    }
    return 0;
}

int pack(const std::filesystem::path& folder, const std::filesystem::path& seeds) {
    std::set<std::string> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file())
            inputs.insert(readAll(entry.path()));
    }
    if (inputs.size() > brivane::fuzz::kSeedCap) {
        std::cerr << folder.string() << ": " << inputs.size() << " inputs, over the cap of "
                  << brivane::fuzz::kSeedCap << "; " << seeds.string() << " left as it was\n";
        return 1;
    }
    std::string text;
    for (const auto& input : inputs) {
        const std::string line = brivane::fuzz::encodeSeed(input);
        // The replay test reads this back, so a codec fault must not reach the repository.
        if (brivane::fuzz::decodeSeed(line) != input) {
            std::cerr << "an input does not survive its escaping: " << line << '\n';
            return 1;
        }
        text += line + '\n';
    }
    std::ofstream(seeds, std::ios::binary | std::ios::trunc) << text;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "unpack")
        return unpack(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "pack")
        return pack(argv[2], argv[3]);
    std::cerr << "usage: fuzz_seeds unpack <file.seeds> <folder> | pack <folder> <file.seeds>\n";
    return 2;
}
