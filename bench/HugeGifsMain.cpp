// Writes the GIFs that declare sizes past the program's memory limits into a
// folder, for scripts/hugegifs.sh: hugegifs DIR

#include <cstdio>
#include <string>

#include "HugeGifs.h"

namespace {

bool Write(const std::string& path, const gifwriter::Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hugegifs DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!Write(dir + "/seventy-huge-frames.gif", gifwriter::SeventyHugeFrames()) ||
        !Write(dir + "/huge-screen.gif", gifwriter::HugeScreen()) ||
        !Write(dir + "/huge-frame-2.gif", gifwriter::HugeFrame(2)) ||
        !Write(dir + "/huge-frame-4.gif", gifwriter::HugeFrame(4)) ||
        !Write(dir + "/huge-frame-256.gif", gifwriter::HugeFrame(256))) {
        std::fprintf(stderr, "hugegifs: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
