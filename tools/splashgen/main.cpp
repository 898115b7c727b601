// splashgen OUT.cpp: writes the splash animation's embedded source file.

#include "SplashGen.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: splashgen OUT.cpp\n");
        return 2;
    }
    const gifwriter::Bytes stream = splashgen::BuildSplashAnimation();
    const std::string source = splashgen::RenderSplashSource(gifwriter::LengthPrefixed(stream));
    std::ofstream out(argv[1], std::ios::binary);
    out << source;
    out.close();
    if (!out) {
        std::fprintf(stderr, "splashgen: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %zu bytes of GIF stream\n", argv[1], stream.size());
    return 0;
}
