// The codec against the public GIF collections: every file loads and decodes
// or fails with one of the framework's errors, and where giflib decodes a file
// completely, every frame's indices agree with giflib's.

#include "GiflibReader.h"
#include "gif/JvGIF.h"
#include "rtl/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> TestFiles() {
    std::vector<fs::path> files;
    const fs::path root(KANTREL_GIF_TESTDATA_DIR);
    if (!fs::is_directory(root))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().extension() == ".gif")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// giflib's frames (indices row by row), or nothing when giflib does not
// decode the whole file.
std::vector<std::vector<uint8_t>> ReferenceFrames(const std::vector<uint8_t>& bytes, std::vector<int>& widths) {
    std::vector<std::vector<uint8_t>> frames;
    const auto decoded = giflibref::Slurp(bytes);
    if (!decoded->Gif || decoded->Error != 0)
        return frames;
    for (int i = 0; i < decoded->Gif->ImageCount; ++i) {
        frames.push_back(giflibref::Raster(decoded->Gif->SavedImages[i]));
        widths.push_back(decoded->Gif->SavedImages[i].ImageDesc.Width);
    }
    return frames;
}

// Files where this codec's rules differ from giflib's on purpose.
const std::map<std::string, std::string> KnownDifferences{
    {"invalid-colors.gif", "a root code beyond a smaller colour table expands to index 0"},
    {"unknown-extension.gif", "an unknown extension label fails the load"},
    {"empty-palette.gif", "a frame without any colour table cannot be decoded"},
};

// The value of "key = value" in section [section] of the suite's .conf file.
std::string ConfValue(const fs::path& conf, const std::string& section, const std::string& key) {
    std::ifstream in(conf);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            current = line.substr(1, line.find(']') - 1);
            continue;
        }
        const size_t eq = line.find(" = ");
        if (current == section && eq != std::string::npos && line.substr(0, eq) == key)
            return line.substr(eq + 3);
    }
    return {};
}

} // namespace

// Encoders may send clear codes back to back: the suite's pictures for such
// rasters, compared colour for colour through the frame's table.
TEST(GifConformance, BackToBackClearCodesGiveTheSuitesPictures) {
    const fs::path suite = fs::path(KANTREL_GIF_TESTDATA_DIR) / "pygif-suite";
    if (!fs::is_directory(suite))
        GTEST_SKIP() << "no conformance suite at " << suite;
    for (const char* name : {"double-clears", "many-clears"}) {
        const fs::path conf = suite / (std::string(name) + ".conf");
        const int width = std::stoi(ConfValue(conf, "config", "width"));
        const int height = std::stoi(ConfValue(conf, "config", "height"));
        const std::vector<uint8_t> rgba = ReadFile(suite / ConfValue(conf, "frame0", "pixels"));
        ASSERT_EQ(rgba.size(), size_t(width) * size_t(height) * 4) << name;
        const std::vector<uint8_t> bytes = ReadFile(suite / (std::string(name) + ".gif"));
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        stream.SetPosition(0);
        TJvGIFImage image;
        image.LoadFromStream(stream);
        ASSERT_EQ(image.FrameCount(), 1) << name;
        TJvGIFFrame& frame = *image.FrameAt(0);
        TBitmap* bitmap = frame.FrameBitmap();
        ASSERT_EQ(bitmap->Width(), width) << name;
        ASSERT_EQ(bitmap->Height(), height) << name;
        EXPECT_FALSE(frame.IsCorrupted()) << name;
        const TGIFColors& colors = frame.SharedData()->FrameColors();
        int differing = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* want = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
                const uint8_t* got = colors.Entries[bitmap->PixelIndex(x, y)];
                differing += !std::equal(got, got + 3, want);
            }
        EXPECT_EQ(differing, 0) << name << ": pixels of another colour than the suite's";
    }
}

// Suite files the reader refuses on purpose, each with its error.
TEST(GifConformance, RefusedSuiteFilesKeepTheirErrors) {
    const fs::path suite = fs::path(KANTREL_GIF_TESTDATA_DIR) / "pygif-suite";
    if (!fs::is_directory(suite))
        GTEST_SKIP() << "no conformance suite at " << suite;
    const std::pair<const char*, const char*> refused[] = {
        {"image-zero-height.gif", "EReadError: Stream read error"}, // ends inside a local colour table
        {"image-zero-size.gif", "EReadError: Stream read error"},
        {"unknown-extension.gif", "EInvalidGraphicOperation: Unrecognized extension block: 2A"},
    };
    for (const auto& [name, error] : refused) {
        const std::vector<uint8_t> bytes = ReadFile(suite / name);
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        stream.SetPosition(0);
        TJvGIFImage image;
        std::string got = "loaded";
        try {
            image.LoadFromStream(stream);
        } catch (const Exception& e) {
            got = std::string(e.ClassName()) + ": " + e.Message();
        }
        EXPECT_EQ(got, error) << name;
    }
}

TEST(GifConformance, PublicFilesLoadOrFailCleanlyAndMatchGiflib) {
    const std::vector<fs::path> files = TestFiles();
    if (files.empty())
        GTEST_SKIP() << "no public GIF test data at " << KANTREL_GIF_TESTDATA_DIR;
    int loaded = 0, failed = 0, compared = 0;
    for (const fs::path& path : files) {
        const std::vector<uint8_t> bytes = ReadFile(path);
        std::vector<int> widths;
        std::vector<std::vector<uint8_t>> reference = ReferenceFrames(bytes, widths);
        // Still loaded and decoded, never compared.
        if (KnownDifferences.count(path.filename().string()))
            reference.clear();
        TJvGIFImage image;
        try {
            TMemoryStream stream;
            stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
            stream.SetPosition(0);
            image.LoadFromStream(stream);
            ++loaded;
        } catch (const Exception& e) {
            ++failed;
            EXPECT_TRUE(reference.empty()) << path << ": giflib decodes it, we fail: " << e.ClassName() << ": "
                                           << e.Message();
            continue;
        }
        for (int i = 0; i < image.FrameCount(); ++i) {
            TJvGIFFrame& frame = *image.FrameAt(i);
            TBitmap* bitmap = nullptr;
            try {
                bitmap = frame.FrameBitmap();
            } catch (const Exception& e) {
                EXPECT_TRUE(reference.empty()) << path << " frame " << i << ": " << e.Message();
                continue;
            }
            if (reference.empty() || size_t(i) >= reference.size())
                continue;
            const std::vector<uint8_t>& expected = reference[size_t(i)];
            const int width = widths[size_t(i)];
            ASSERT_EQ(size_t(bitmap->Width()) * size_t(bitmap->Height()), expected.size()) << path << " frame " << i;
            EXPECT_EQ(bitmap->Width(), width) << path << " frame " << i;
            int mismatches = 0;
            for (int y = 0; y < bitmap->Height() && mismatches == 0; ++y)
                for (int x = 0; x < width; ++x)
                    if (bitmap->PixelIndex(x, y) != expected[size_t(y) * size_t(width) + size_t(x)]) {
                        ADD_FAILURE() << path << " frame " << i << ": first difference at " << x << ", " << y;
                        ++mismatches;
                        break;
                    }
            ++compared;
        }
    }
    std::cout << files.size() << " files: " << loaded << " loaded, " << failed << " failed to load; " << compared
              << " frames compared with giflib\n";
    EXPECT_GT(compared, 0);
}
