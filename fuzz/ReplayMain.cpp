// Runs the fuzz target once on every input named, or on every file of the
// folders named, without libFuzzer: so the regressions also replay in the
// Windows builds, under Wine. A crash or an escaping error fails the run.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Notes and the generator script live beside the inputs.
bool IsInput(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return name != "README.md" && path.extension() != ".py";
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::recursive_directory_iterator(arg))
                if (entry.is_regular_file() && IsInput(entry.path()))
                    inputs.push_back(entry.path());
        } else {
            inputs.push_back(arg);
        }
    }
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
            return 2;
        }
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::printf("Running: %s\n", path.string().c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %lu inputs\n", static_cast<unsigned long>(inputs.size()));
    return inputs.empty() ? 2 : 0;
}
