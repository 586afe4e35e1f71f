// Compiled images damaged in every way run: an input is either an image
// (the image magic first) or, more often, a choice of one of the seed images (the
// plug-ins of the compiler's tests, compiled at start-up) and a list of
// byte changes to it. An image that loads runs its main block and every
// procedure within a tick budget, once in each tier of forms (the general
// handlers only; with quick forms; with proven forms); every run ends
// finished, stopped or paused with an error, all alike, and none crashes,
// leaks or hangs.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "script/compiler/image_format.h"
#include "script_fuzz_host.h"

namespace {

std::vector<std::string>& Seeds() {
    static std::vector<std::string> seeds;
    return seeds;
}

// Compiles every plug-in of the folder as the plug-in host would (its
// include files beside it); the images are the seeds.
void CompileSeeds(const std::filesystem::path& folder) {
    if (!std::filesystem::is_directory(folder)) return;
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files["plugins/" + entry.path().lexically_relative(folder).generic_string()] = text.str();
    }
    for (const auto& [name, text] : files) {
        if (!name.ends_with(".pas")) continue;
        auto compiled = script::compiler::testing::CompilePlugin(text, name, files);
        if (compiled.Ok) Seeds().push_back(compiled.Image);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* folder = std::getenv("VOSTREL_FUZZ_PLUGINS");
    CompileSeeds(folder != nullptr ? folder : VOSTREL_FUZZ_PLUGINS_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string image;
    if (size >= 4 && script::runtime::LoadAs<std::uint32_t>(data) == script::kImageMagic) {
        image.assign(reinterpret_cast<const char*>(data), size);
    } else {
        if (Seeds().empty() || size < 2) return 0;
        // Two bytes choose the seed; then each group of five bytes writes
        // one byte at an offset.
        image = Seeds()[(data[0] | data[1] << 8) % Seeds().size()];
        for (std::size_t at = 2; at + 5 <= size && !image.empty(); at += 5) {
            const std::uint32_t offset = data[at] | data[at + 1] << 8 | data[at + 2] << 16 | std::uint32_t{data[at + 3]} << 24;
            image[offset % image.size()] = static_cast<char>(data[at + 4]);
        }
    }
    fuzz_host::RunEveryWay(image);
    return 0;
}
