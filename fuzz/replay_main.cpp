// Replays the inputs given on the command line through the fuzz target, so that the seed corpus
// runs as an ordinary test without libFuzzer. A `.seeds` file is a whole corpus (seed_file.h);
// any other file is one raw input (a crash reproducer), a directory is every file below it.
#include "seed_file.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void replay(std::string_view input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// Returns the number of inputs replayed, or nothing if a seed file is malformed or over the cap.
std::optional<std::size_t> replayFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.extension() != ".seeds") {
        replay(bytes);
        return 1;
    }
    const auto inputs = brivane::fuzz::decodeSeedFile(bytes);
    if (!inputs) {
        std::cerr << file.string() << ": malformed escape\n";
        return std::nullopt;
    }
    if (inputs->size() > brivane::fuzz::kSeedCap) {
        std::cerr << file.string() << ": " << inputs->size() << " inputs, over the cap of "
                  << brivane::fuzz::kSeedCap << "; minimise with scripts/fuzz\n";
        return std::nullopt;
    }
    for (const auto& input : *inputs)
        replay(input);
    return inputs->size();
}

} // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    bool ok = true;
    const auto take = [&](const std::filesystem::path& file) {
        const auto replayed = replayFile(file);
        ok = ok && replayed.has_value();
        count += replayed.value_or(0);
    };
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                if (entry.is_regular_file())
                    take(entry.path());
            }
        } else {
            take(path);
        }
    }
    std::cout << "replayed " << count << " inputs\n";
    return ok ? 0 : 1;
}
