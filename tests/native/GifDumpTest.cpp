// gifdump against giflib: on GIFs made here (and on the public test data that
// giflib decodes cleanly) every field of "info" and every index of every
// frame's bitmap must agree with the independent decoder.

#include "GifDump.h"
#include "GifWriter.h"
#include "GiflibReader.h"
#include "MiniJson.h"
#include "gif/JvGIF.h"
#include "rtl/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

using gifwriter::Bytes;
using gifwriter::GifWriter;
using gifwriter::ImageSpec;
using gifwriter::Rgb;
namespace fs = std::filesystem;

namespace {

struct DumpResult {
    int Status;
    std::string Out, Err;
};

DumpResult Dump(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = gifdump::Run(args, out, err);
    return {status, out.str(), err.str()};
}

class TempDir {
public:
    TempDir() {
        static int serial = 0;
        Path_ = fs::temp_directory_path() /
                ("kantrel-gifdump-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::create_directories(Path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(Path_, ec);
    }
    std::string Write(const std::string& name, const Bytes& data) const {
        std::string path = (Path_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                     static_cast<std::streamsize>(data.size()));
        return path;
    }
    std::string Path(const std::string& name) const { return (Path_ / name).string(); }

private:
    fs::path Path_;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

uint32_t Le(const Bytes& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v * 256 + b.at(at + static_cast<size_t>(i));
    return v;
}

// A BMP as written by the codec: indexed, bottom-up, rows padded to 4 bytes.
struct Bmp {
    int Width = 0, Height = 0, Bits = 0;
    std::vector<uint32_t> Palette;  // 0xBBGGRR
    Bytes Indices;                  // top-down, row by row
};

Bmp ParseBmp(const Bytes& b) {
    Bmp bmp;
    EXPECT_EQ(b.at(0), 'B');
    EXPECT_EQ(b.at(1), 'M');
    EXPECT_EQ(Le(b, 2, 4), b.size()) << "file size field";
    const uint32_t offset = Le(b, 10, 4), headerSize = Le(b, 14, 4);
    bmp.Width = static_cast<int32_t>(Le(b, 18, 4));
    bmp.Height = static_cast<int32_t>(Le(b, 22, 4));
    bmp.Bits = static_cast<int>(Le(b, 28, 2));
    for (size_t p = 14 + headerSize; p + 4 <= offset; p += 4)
        bmp.Palette.push_back(b.at(p + 2) | (b.at(p + 1) << 8) | (b.at(p) << 16));
    const size_t stride = (static_cast<size_t>(bmp.Width) * static_cast<size_t>(bmp.Bits) + 31) / 32 * 4;
    for (int y = 0; y < bmp.Height; ++y) {
        const size_t row = offset + static_cast<size_t>(bmp.Height - 1 - y) * stride;
        for (int x = 0; x < bmp.Width; ++x) {
            uint8_t v;
            if (bmp.Bits == 8) v = b.at(row + static_cast<size_t>(x));
            else if (bmp.Bits == 4) v = (b.at(row + static_cast<size_t>(x / 2)) >> (x % 2 ? 0 : 4)) & 15;
            else v = (b.at(row + static_cast<size_t>(x / 8)) >> (7 - x % 8)) & 1;
            bmp.Indices.push_back(v);
        }
    }
    return bmp;
}

uint32_t ColorOf(const GifColorType& c) { return c.Red | (c.Green << 8) | (c.Blue << 16); }

std::string Hex(uint32_t color) {
    char t[16];
    std::snprintf(t, sizeof t, "0x%06X", color);
    return t;
}

uint32_t ParseHex(const minijson::Value& v) { return static_cast<uint32_t>(std::stoul(v.S.substr(2), nullptr, 16)); }

// What the codec takes from a frame's graphic control extensions: a plain
// text extension drops those before it, the longest delay wins, the last
// extension decides the key and the disposal.
struct Control {
    bool Present = false;
    int DelayMs = 0, Disposal = 0, Key = -1;
};

Control ControlOf(const SavedImage& image) {
    Control c;
    for (int b = 0; b < image.ExtensionBlockCount; ++b) {
        const ExtensionBlock& e = image.ExtensionBlocks[b];
        if (e.Function == PLAINTEXT_EXT_FUNC_CODE) c = Control{};
        if (e.Function != GRAPHICS_EXT_FUNC_CODE || e.ByteCount < 4) continue;
        c.Present = true;
        c.DelayMs = std::max(c.DelayMs, std::min((e.Bytes[1] | (e.Bytes[2] << 8)) * 10, 65535));
        c.Disposal = (e.Bytes[0] >> 2) & 7;
        c.Key = (e.Bytes[0] & 1) ? e.Bytes[3] : -1;
    }
    return c;
}

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if ((c == 0xE0 && static_cast<unsigned char>(s[i + 1]) < 0xA0) ||
            (c == 0xED && static_cast<unsigned char>(s[i + 1]) > 0x9F) ||
            (c == 0xF0 && static_cast<unsigned char>(s[i + 1]) < 0x90) ||
            (c == 0xF4 && static_cast<unsigned char>(s[i + 1]) > 0x8F))
            return false;
        i += n;
    }
    return true;
}

// Loop and image comments as the codec defines them, from giflib's blocks: the
// last looping block anywhere counts (its count capped at 30000); the comment
// blocks after the last image are the image's comment lines, one line per
// sub-block, a line of CR LF CR LF between two comments, none when a plain
// text block follows them.
struct LoopAndComments {
    bool Known = true;
    bool Declared = false;
    int Count = 1;
    std::vector<std::string> Comments;
};

LoopAndComments LoopAndCommentsOf(const GifFileType* g) {
    LoopAndComments r;
    auto scanLoops = [&](const ExtensionBlock* blocks, int count) {
        for (int b = 0; b < count; ++b) {
            const ExtensionBlock& e = blocks[b];
            if (e.Function != APPLICATION_EXT_FUNC_CODE) continue;
            if (e.ByteCount != 11) {
                r.Known = false;  // an odd block size is compared another way
                continue;
            }
            const std::string id(reinterpret_cast<const char*>(e.Bytes), 11);
            if (id != "NETSCAPE2.0" && id != "ANIMEXTS1.0") continue;
            if (b + 1 < count && blocks[b + 1].Function == CONTINUE_EXT_FUNC_CODE && blocks[b + 1].ByteCount >= 3 &&
                blocks[b + 1].Bytes[0] == 1) {
                r.Declared = true;
                r.Count = std::min(blocks[b + 1].Bytes[1] | (blocks[b + 1].Bytes[2] << 8), 30000);
            }
        }
    };
    for (int i = 0; i < g->ImageCount; ++i) scanLoops(g->SavedImages[i].ExtensionBlocks, g->SavedImages[i].ExtensionBlockCount);
    scanLoops(g->ExtensionBlocks, g->ExtensionBlockCount);
    bool inComment = false;
    for (int b = 0; b < g->ExtensionBlockCount; ++b) {
        const ExtensionBlock& e = g->ExtensionBlocks[b];
        if (e.Function == PLAINTEXT_EXT_FUNC_CODE) {
            r.Comments.clear();
            inComment = false;
        } else if (e.Function == COMMENT_EXT_FUNC_CODE) {
            if (!r.Comments.empty()) r.Comments.push_back("\r\n\r\n");
            r.Comments.emplace_back(reinterpret_cast<const char*>(e.Bytes), static_cast<size_t>(e.ByteCount));
            inComment = true;
        } else if (e.Function == CONTINUE_EXT_FUNC_CODE) {
            if (inComment) r.Comments.emplace_back(reinterpret_cast<const char*>(e.Bytes), static_cast<size_t>(e.ByteCount));
        } else {
            inComment = false;
        }
    }
    return r;
}

struct Agreement {
    int FramesCompared = 0, FramesSkipped = 0;
    bool ExpectedFailure = false;
};

// gifdump info and frame against giflib, field for field and index for index.
// Where the codec's own rules knowingly differ from giflib (an unknown
// extension label or a frame without any colour table fails the load; indices
// beyond the colour table) the fields
// are still compared but that frame's pixels are not.
Agreement ExpectAgreesWithGiflib(const Bytes& gif, const std::string& label, int frameDumps = 1 << 30) {
    SCOPED_TRACE(label);
    Agreement result;
    auto ref = giflibref::Slurp(gif);
    EXPECT_TRUE(ref->Gif && ref->Error == 0) << "giflib: " << GifErrorString(ref->Error);
    if (!ref->Gif || ref->Error != 0) return result;
    const GifFileType* g = ref->Gif.get();
    TempDir dir;
    const std::string file = dir.Write("in.gif", gif);
    DumpResult info = Dump({"info", file});

    // Failures the codec must report instead of an image.
    std::string expectedError;
    auto checkBlocks = [&](const ExtensionBlock* blocks, int count) {
        for (int b = 0; b < count && expectedError.empty(); ++b) {
            int f = blocks[b].Function;
            if (f != CONTINUE_EXT_FUNC_CODE && f != GRAPHICS_EXT_FUNC_CODE && f != COMMENT_EXT_FUNC_CODE &&
                f != PLAINTEXT_EXT_FUNC_CODE && f != APPLICATION_EXT_FUNC_CODE) {
                char t[80];
                std::snprintf(t, sizeof t, "EInvalidGraphicOperation: Unrecognized extension block: %02X\n", f);
                expectedError = t;
            }
        }
    };
    for (int i = 0; i < g->ImageCount && expectedError.empty(); ++i) {
        checkBlocks(g->SavedImages[i].ExtensionBlocks, g->SavedImages[i].ExtensionBlockCount);
        if (expectedError.empty() && !g->SColorMap && !g->SavedImages[i].ImageDesc.ColorMap)
            expectedError = "EInvalidGraphicOperation: Wrong number of colors; must be a power of 2\n";
    }
    checkBlocks(g->ExtensionBlocks, g->ExtensionBlockCount);
    if (!expectedError.empty()) {
        EXPECT_EQ(info.Status, 1);
        EXPECT_EQ(info.Err, expectedError);
        result.ExpectedFailure = true;
        return result;
    }
    EXPECT_EQ(info.Status, 0) << info.Err;
    if (info.Status != 0) return result;
    minijson::Value j;
    try {
        j = minijson::Parse(info.Out);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what() << "\n" << info.Out;
        return result;
    }

    EXPECT_EQ(j["version"].S, std::string(gif.begin() + 3, gif.begin() + 6));
    EXPECT_EQ(j["logical_width"].Int(), g->SWidth);
    EXPECT_EQ(j["logical_height"].Int(), g->SHeight);
    const ColorMapObject* global = g->SColorMap;
    EXPECT_EQ(j["global_colors"].Int(), global ? global->ColorCount : 0);
    if (global && g->SBackGroundColor < global->ColorCount)
        EXPECT_EQ(j["backdrop_color"].S, Hex(ColorOf(global->Colors[g->SBackGroundColor])));
    else
        EXPECT_TRUE(j["backdrop_color"].IsNull());

    const LoopAndComments lc = LoopAndCommentsOf(g);
    if (lc.Known) {
        EXPECT_EQ(j["loop_declared"].B, lc.Declared);
        EXPECT_EQ(j["loop_count"].Int(), lc.Count);
        const auto& lines = j["comments"].A;
        EXPECT_EQ(lines.size(), lc.Comments.size()) << "comment lines";
        for (size_t k = 0; k < lines.size() && k < lc.Comments.size(); ++k) {
            if (ValidUtf8(lc.Comments[k])) {
                EXPECT_EQ(lines[k].S, lc.Comments[k]) << "comment line " << k;
            }
        }
    }

    const auto& frames = j["frames"].A;
    EXPECT_EQ(frames.size(), static_cast<size_t>(g->ImageCount));
    for (int i = 0; i < g->ImageCount && i < static_cast<int>(frames.size()); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const minijson::Value& f = frames[static_cast<size_t>(i)];
        const GifImageDesc& d = g->SavedImages[i].ImageDesc;
        EXPECT_EQ(f["left"].Int(), d.Left);
        EXPECT_EQ(f["top"].Int(), d.Top);
        EXPECT_EQ(f["width"].Int(), d.Width);
        EXPECT_EQ(f["height"].Int(), d.Height);
        EXPECT_EQ(f["interlaced"].B, d.Interlace);
        EXPECT_EQ(f["local_table"].B, d.ColorMap != nullptr);
        const ColorMapObject* table = d.ColorMap ? d.ColorMap : global;
        const int depth = table ? table->BitsPerPixel : 0;
        EXPECT_EQ(f["pixel_depth"].Int(), depth);
        const Bytes reference = giflibref::Raster(g->SavedImages[i]);
        bool comparable = true;
        for (uint8_t v : reference) comparable &= depth > 0 && v < (1 << depth);
        // Frames read by the codec's own rules may come out damaged.
        if (comparable) {
            EXPECT_FALSE(f["corrupted"].B);
        }

        const Control gce = ControlOf(g->SavedImages[i]);
        EXPECT_EQ(f["delay_ms"].Int(), gce.DelayMs);
        EXPECT_EQ(f["disposal"].Int(), gce.Disposal);
        const bool keyed = gce.Key >= 0 && table && gce.Key < table->ColorCount;
        uint32_t keyColor = 0;
        if (!keyed) {
            EXPECT_TRUE(f["key_color"].IsNull());
        } else if (f["key_color"].Type != minijson::Value::String) {
            ADD_FAILURE() << "key_color missing";
        } else {
            keyColor = ParseHex(f["key_color"]);
            const uint32_t entry = ColorOf(table->Colors[gce.Key]);
            bool repeated = false;
            for (int c = 0; c < table->ColorCount; ++c) repeated |= c != gce.Key && ColorOf(table->Colors[c]) == entry;
            if (!repeated) {
                EXPECT_EQ(keyColor, entry) << "key colour of a unique entry";
            } else {
                EXPECT_EQ(keyColor & 0xFFFF, entry & 0xFFFF) << "only blue may move";
                for (int c = 0; c < table->ColorCount; ++c)
                    EXPECT_TRUE(c == gce.Key || ColorOf(table->Colors[c]) != keyColor) << "key repeats entry " << c;
            }
        }

        if (i >= frameDumps) continue;
        const std::string bmpPath = dir.Path("f" + std::to_string(i) + ".bmp");
        DumpResult fr = Dump({"frame", file, std::to_string(i), bmpPath});
        EXPECT_EQ(fr.Status, 0) << fr.Err;
        if (fr.Status != 0) continue;
        Bmp bmp = ParseBmp(ReadFile(bmpPath));
        EXPECT_EQ(bmp.Width, d.Width);
        EXPECT_EQ(bmp.Height, d.Height);
        if (table) {
            EXPECT_GE(bmp.Palette.size(), static_cast<size_t>(table->ColorCount));
            for (int c = 0; c < table->ColorCount && c < static_cast<int>(bmp.Palette.size()); ++c)
                EXPECT_EQ(bmp.Palette[static_cast<size_t>(c)],
                          keyed && c == gce.Key ? keyColor : ColorOf(table->Colors[c]))
                    << "palette entry " << c;
        }
        if (!comparable) {
            ++result.FramesSkipped;
            continue;
        }
        EXPECT_TRUE(bmp.Indices == reference) << "pixel indices differ";
        ++result.FramesCompared;
    }
    return result;
}

uint32_t Mix(uint32_t x) {
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return x;
}

Bytes Indices(size_t count, int depth, uint32_t seed) {
    Bytes out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(Mix(static_cast<uint32_t>(i / 3) + seed) & ((1u << depth) - 1));
    return out;
}

std::vector<Rgb> Table(size_t n, uint32_t seed) {
    std::vector<Rgb> t(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t v = Mix(static_cast<uint32_t>(i) * 977 + seed);
        t[i] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16)};
    }
    return t;
}

ImageSpec Frame(uint16_t left, uint16_t top, uint16_t width, uint16_t height, int depth, uint32_t seed) {
    ImageSpec s;
    s.Left = left;
    s.Top = top;
    s.Width = width;
    s.Height = height;
    s.Indices = Indices(size_t{width} * height, depth, seed);
    return s;
}

}  // namespace

TEST(GifDumpJson, StringsAreValidJsonWhateverTheBytes) {
    EXPECT_EQ(gifdump::JsonString("plain"), "\"plain\"");
    EXPECT_EQ(gifdump::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(gifdump::JsonString(std::string("\r\n\t\x01\x1f\x7f", 6)), "\"\\r\\n\\t\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(gifdump::JsonString(std::string("\0x", 2)), "\"\\u0000x\"");
    EXPECT_EQ(gifdump::JsonString("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xF0\x9F\x98\x80"),
              "\"za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xF0\x9F\x98\x80\"")
        << "valid UTF-8 passes through";
    // Windows-1250 text, a lone continuation byte, a cut sequence, an overlong
    // form and an encoded surrogate: each bad byte becomes \u00XX.
    EXPECT_EQ(gifdump::JsonString("\xBF\xF3\xB3w"), "\"\\u00bf\\u00f3\\u00b3w\"");
    EXPECT_EQ(gifdump::JsonString("\x80"), "\"\\u0080\"");
    EXPECT_EQ(gifdump::JsonString("\xE2\x82"), "\"\\u00e2\\u0082\"");
    EXPECT_EQ(gifdump::JsonString("\xC0\xAF"), "\"\\u00c0\\u00af\"");
    EXPECT_EQ(gifdump::JsonString("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
    for (int b = 0; b < 256; ++b) {
        std::string s(1, static_cast<char>(b));
        EXPECT_NO_THROW(minijson::Parse(gifdump::JsonString(s + "x" + s))) << "byte " << b;
    }
}

TEST(GifDumpVersusGiflib, EveryDepthInterlacedLocalAndGlobalTables) {
    for (int depth = 1; depth <= 8; ++depth) {
        for (bool interlaced : {false, true}) {
            GifWriter w;
            w.Header(depth % 2 ? "87a" : "89a").Screen(41, 23, Table(size_t{1} << depth, depth), 1, depth);
            ImageSpec whole = Frame(0, 0, 41, 23, depth, 1);
            whole.Interlaced = interlaced;
            ImageSpec local = Frame(5, 3, 17, 9, 9 - depth, 2);  // another depth, own table
            local.LocalTable = Table(size_t{1} << (9 - depth), 50 + depth);
            local.Interlaced = interlaced;
            ImageSpec odd = Frame(40, 22, 1, 1, depth, 3);  // last pixel of the screen
            ImageSpec wide = Frame(0, 10, 9, 5, depth, 4);  // 9 pixels: padding at 1, 4 and 8 bits
            wide.SubBlockSize = 7;
            w.Image(whole).Image(local).Image(odd).Image(wide).Trailer();
            ExpectAgreesWithGiflib(w.Finish(), "depth " + std::to_string(depth) + (interlaced ? " interlaced" : ""));
        }
    }
}

TEST(GifDumpVersusGiflib, TransparencyDisposalDelaysAndExtensions) {
    // Entries 4..15 are all white, so a white key must move its blue.
    std::vector<Rgb> table = Table(16, 9);
    for (size_t i = 4; i < 16; ++i) table[i] = {255, 255, 255};
    table[2] = {10, 20, 0};
    table[3] = {10, 20, 0};
    GifWriter w;
    w.Header().Screen(30, 20, table, 15).Loop(3).Comment("frame comment");
    for (int disposal = 0; disposal < 8; ++disposal) {
        const int key = disposal == 0 ? -1 : disposal == 1 ? 2 : disposal == 2 ? 1 : disposal == 3 ? 15 : disposal + 4;
        w.GraphicControl(disposal, static_cast<uint16_t>(disposal * 7), key, disposal == 5);
        w.Image(Frame(static_cast<uint16_t>(disposal), 1, 20, 10, 4, static_cast<uint32_t>(disposal)));
    }
    // Transparent index beyond a 4-entry local table; a long delay; two blocks.
    ImageSpec small = Frame(0, 0, 3, 3, 2, 11);
    small.LocalTable = {{0, 0, 0}, {9, 9, 9}, {9, 9, 9}, {1, 2, 3}};
    w.GraphicControl(1, 65535, 200).Image(small);
    w.GraphicControl(2, 1, 1).Image(small).Trailer();
    ExpectAgreesWithGiflib(w.Finish(), "global table with repeated colours");

    // Keys repeated in a local table, and 256 equal entries (the nudge must end).
    GifWriter dup;
    ImageSpec grey = Frame(0, 0, 16, 16, 8, 5);
    grey.LocalTable.assign(256, Rgb{7, 7, 0});
    // Every other entry takes one blue value of (7, 7, b): one way out is left.
    ImageSpec ends = Frame(0, 0, 16, 16, 8, 6);
    for (int b = 0; b < 255; ++b) ends.LocalTable.push_back(Rgb{7, 7, static_cast<uint8_t>(b)});
    ends.LocalTable.push_back(Rgb{7, 7, 100});
    dup.Header().Screen(16, 16).GraphicControl(0, 0, 0).Image(grey).GraphicControl(0, 0, 255).Image(ends).Trailer();
    ExpectAgreesWithGiflib(dup.Finish(), "local tables of one colour");
}

TEST(GifDumpInfo, LoopsCommentsAndPlainText) {
    TempDir dir;
    GifWriter w;
    w.Header().Screen(8, 8, Table(4, 1), 9).Loop(65535);
    // A plain text block cuts the graphic control block off the next frame.
    w.GraphicControl(2, 50, 1).PlainText("hello").Image(Frame(0, 0, 8, 8, 2, 1));
    w.GraphicControl(3, 2, 3).Image(Frame(1, 1, 2, 2, 2, 2));
    std::string tricky = std::string("quote\" back\\ tab\t nul") + '\0' + " \xC5\xBC \xB9\xEA";
    w.Comment("first line").Comment(tricky).Trailer();
    const Bytes gif = w.Finish();
    ExpectAgreesWithGiflib(gif, "plain text");

    DumpResult info = Dump({"info", dir.Write("c.gif", gif)});
    ASSERT_EQ(info.Status, 0) << info.Err;
    minijson::Value j = minijson::Parse(info.Out);
    EXPECT_TRUE(j["loop_declared"].B);
    EXPECT_EQ(j["loop_count"].Int(), 30000) << "loop count is capped";
    EXPECT_TRUE(j["backdrop_color"].IsNull()) << "background index beyond the table";
    ASSERT_EQ(j["comments"].A.size(), 3u);
    EXPECT_EQ(j["comments"][0].S, "first line");
    EXPECT_EQ(j["comments"][1].S, "\r\n\r\n");
    EXPECT_NE(info.Out.find("\"quote\\\" back\\\\ tab\\t nul\\u0000 \xC5\xBC \\u00b9\\u00ea\""), std::string::npos)
        << info.Out;
    EXPECT_EQ(j["frames"][0]["delay_ms"].Int(), 0);
    EXPECT_TRUE(j["frames"][0]["key_color"].IsNull());
    EXPECT_EQ(j["frames"][1]["delay_ms"].Int(), 20);

    GifWriter plain;
    ImageSpec own = Frame(0, 0, 4, 4, 1, 0);
    own.LocalTable = Table(2, 4);
    plain.Header("87a").Screen(4, 4).Image(own).Trailer();
    DumpResult none = Dump({"info", dir.Write("n.gif", plain.Finish())});
    ASSERT_EQ(none.Status, 0) << none.Err;
    j = minijson::Parse(none.Out);
    EXPECT_EQ(j["version"].S, "87a");
    EXPECT_FALSE(j["loop_declared"].B);
    EXPECT_EQ(j["loop_count"].Int(), 1);
    EXPECT_EQ(j["global_colors"].Int(), 0);
    EXPECT_EQ(j["comments"].A.size(), 0u);
    EXPECT_EQ(j["frames"][0]["pixel_depth"].Int(), 1);
    EXPECT_TRUE(j["frames"][0]["local_table"].B);
}

TEST(GifDumpInfo, DamagedRastersAreDecodedAsFarAsTheyGo) {
    TempDir dir;
    ImageSpec full = Frame(0, 0, 40, 30, 6, 8);
    full.SubBlockSize = 50;
    struct Case {
        const char* Name;
        ImageSpec Spec;
        size_t CutStream;  // cut the whole file there (SIZE_MAX: no cut)
        bool Corrupted;
    };
    std::vector<Case> cases;
    cases.push_back({"no end code", full, SIZE_MAX, false});
    cases.back().Spec.Lzw.EndCode = false;
    cases.push_back({"no end code and no terminator, stream ends", full, SIZE_MAX, false});
    cases.back().Spec.Lzw.EndCode = false;
    cases.back().Spec.Terminator = false;
    cases.push_back({"LZW data cut in half", full, SIZE_MAX, true});
    cases.back().Spec.TruncateData = 300;
    cases.push_back({"file cut inside a sub-block", full, 6 + 7 + 192 + 10 + 1 + 51 + 20, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        GifWriter w;
        w.Header().Screen(40, 30, Table(64, 3)).Image(c.Spec);
        if (c.Spec.Terminator) w.Trailer();
        const Bytes gif = w.Finish(c.CutStream);
        const std::string file = dir.Write("d.gif", gif);
        DumpResult info = Dump({"info", file});
        ASSERT_EQ(info.Status, 0) << info.Err;
        minijson::Value j = minijson::Parse(info.Out);
        ASSERT_EQ(j["frames"].A.size(), 1u);
        EXPECT_EQ(j["frames"][0]["corrupted"].B, c.Corrupted);
        DumpResult fr = Dump({"frame", file, "0", dir.Path("d.bmp")});
        ASSERT_EQ(fr.Status, 0) << fr.Err;
        const Bytes got = ParseBmp(ReadFile(dir.Path("d.bmp"))).Indices;
        ASSERT_EQ(got.size(), full.Indices.size());
        size_t same = 0;
        while (same < got.size() && got[same] == full.Indices[same]) ++same;
        if (!c.Corrupted) {
            EXPECT_EQ(same, got.size()) << "complete raster";
        } else {
            EXPECT_GT(same, 50u) << "pixels before the damage stay";
            EXPECT_LT(same, got.size());
            bool restZero = true;
            for (size_t i = same; i < got.size(); ++i) restZero &= got[i] == 0;
            EXPECT_TRUE(restZero) << "every pixel after the first that differs is 0";
        }
    }
}

TEST(GifDumpFrame, WritesTheCodecsBitmapStreamByteForByte) {
    TempDir dir;
    GifWriter w;
    ImageSpec a = Frame(0, 0, 9, 3, 1, 1), b = Frame(2, 1, 5, 2, 3, 2), c = Frame(0, 0, 7, 7, 7, 3);
    c.LocalTable = Table(128, 1);
    w.Header().Screen(9, 7, Table(8, 2)).Image(a).GraphicControl(0, 0, 4).Image(b).Image(c).Trailer();
    const Bytes gif = w.Finish();
    const std::string file = dir.Write("b.gif", gif);
    TMemoryStream source;
    source.WriteBuffer(gif.data(), static_cast<int64_t>(gif.size()));
    source.SetPosition(0);
    TJvGIFImage image;
    image.LoadFromStream(source);
    ASSERT_EQ(image.FrameCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        TMemoryStream expected;
        image.FrameAt(i)->BuildBitmapStream(expected);
        ASSERT_EQ(Dump({"frame", file, std::to_string(i), dir.Path("o.bmp")}).Status, 0);
        EXPECT_TRUE(ReadFile(dir.Path("o.bmp")) == expected.Bytes());
    }
}

TEST(GifDumpErrors, LoadFailuresAndUsage) {
    TempDir dir;
    struct Fail {
        const char* Name;
        Bytes Gif;
        const char* Err;
    };
    GifWriter badVersion, lower, badExt, trailerExt, badBlock, shortDesc, shortTable;
    badVersion.Header("88a").Screen(1, 1);
    lower.Raw({'g', 'i', 'f', '8', '9', 'a'}).Screen(1, 1);
    badExt.Header().Screen(1, 1).Raw({0x21, 0x3B});
    trailerExt.Header().Screen(1, 1).Raw({0x21, 0x07, 0x00});
    badBlock.Header().Screen(1, 1).Raw({0x00, 0x00, 0x99, 0x2C});
    shortDesc.Header().Screen(1, 1).Raw({0x2C, 0, 0, 0, 0, 1});
    shortTable.Header().Screen(1, 1).Raw({0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x81, 1, 2, 3});
    const std::vector<Fail> fails = {
        {"version 88a", badVersion.Finish(), "EInvalidGraphicOperation: Unknown GIF version\n"},
        {"lower-case signature", lower.Finish(), "EInvalidGraphicOperation: Unknown GIF version\n"},
        {"five bytes", Bytes{'G', 'I', 'F', '8', '9'}, "EInvalidGraphicOperation: Unknown GIF version\n"},
        {"extension label 3B", badExt.Finish(), "EInvalidGraphicOperation: Unrecognized extension block: 3B\n"},
        {"extension label 07", trailerExt.Finish(), "EInvalidGraphicOperation: Unrecognized extension block: 07\n"},
        {"stray block byte", badBlock.Finish(), "EInvalidGraphicOperation: Stream read error\n"},
        {"short image descriptor", shortDesc.Finish(), "EReadError: Stream read error\n"},
        {"short local table", shortTable.Finish(), "EReadError: Stream read error\n"},
    };
    for (const Fail& f : fails) {
        SCOPED_TRACE(f.Name);
        const std::string file = dir.Write("bad.gif", f.Gif);
        for (const auto& args : {std::vector<std::string>{"info", file},
                                 std::vector<std::string>{"frame", file, "0", dir.Path("x.bmp")}}) {
            DumpResult r = Dump(args);
            EXPECT_EQ(r.Status, 1);
            EXPECT_EQ(r.Err, f.Err);
            EXPECT_EQ(r.Out, "");
        }
    }
    EXPECT_FALSE(fs::exists(dir.Path("x.bmp"))) << "nothing written for a failed load";
    // An empty file is an empty image, not an error; it has no frame 0.
    const std::string empty = dir.Write("empty.gif", Bytes{});
    DumpResult e = Dump({"info", empty});
    EXPECT_EQ(e.Status, 0) << e.Err;
    EXPECT_TRUE(minijson::Parse(e.Out)["version"].IsNull());
    EXPECT_EQ(minijson::Parse(e.Out)["frames"].A.size(), 0u);
    EXPECT_EQ(Dump({"frame", empty, "0", dir.Path("x.bmp")}).Status, 2);

    GifWriter two;
    two.Header().Screen(2, 2, Table(2, 0)).Image(Frame(0, 0, 2, 2, 1, 0)).Image(Frame(0, 0, 1, 1, 1, 0)).Trailer();
    const std::string good = dir.Write("good.gif", two.Finish());
    struct Usage {
        std::vector<std::string> Args;
        const char* Message;  // first line on stderr, empty for the bare usage text
    };
    const std::vector<Usage> usages = {
        {{}, ""},
        {{"info"}, ""},
        {{"info", good, "extra"}, ""},
        {{"dump", good}, ""},
        {{"frame", good, "0"}, ""},
        {{"info", dir.Path("missing.gif")}, "cannot read"},
        {{"frame", dir.Path("missing.gif"), "0", dir.Path("y.bmp")}, "cannot read"},
        {{"frame", good, "2", dir.Path("y.bmp")}, "frame 2 out of range"},
        {{"frame", good, "-1", dir.Path("y.bmp")}, "frame index"},
        {{"frame", good, "1x", dir.Path("y.bmp")}, "frame index"},
        {{"frame", good, "99999999999", dir.Path("y.bmp")}, "frame index"},
        {{"frame", good, "1", dir.Path("no/such/folder/y.bmp")}, "cannot write"},
    };
    for (const Usage& u : usages) {
        std::string joined;
        for (const auto& a : u.Args) joined += a + " ";
        SCOPED_TRACE("gifdump " + joined);
        DumpResult r = Dump(u.Args);
        EXPECT_EQ(r.Status, 2);
        EXPECT_NE(r.Err.find("usage: gifdump info FILE"), std::string::npos);
        if (*u.Message) EXPECT_NE(r.Err.find(std::string("gifdump: ") + u.Message), std::string::npos) << r.Err;
        else EXPECT_EQ(r.Err.rfind("usage:", 0), 0u) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
    EXPECT_FALSE(fs::exists(dir.Path("y.bmp")));
    EXPECT_EQ(Dump({"frame", good, "1", dir.Path("ok.bmp")}).Status, 0);
    EXPECT_EQ(ParseBmp(ReadFile(dir.Path("ok.bmp"))).Width, 1);
}

TEST(GifDumpVersusGiflib, PublicTestData) {
    const fs::path root = KANTREL_GIF_TESTDATA_DIR;
    if (!fs::is_directory(root)) GTEST_SKIP() << "no test data at " << root;
    int files = 0, notClean = 0, failing = 0, frames = 0, framesSkipped = 0;
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && e.path().extension() == ".gif") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& p : paths) {
        const Bytes gif = ReadFile(p.string());
        auto ref = giflibref::Slurp(gif);
        if (!ref->Gif || ref->Error != 0 || ref->Gif->ImageCount == 0) {
            ++notClean;  // only what giflib reads cleanly is a reference
            continue;
        }
        // Fields of every frame; bitmaps of the first few (each one reloads the file).
        Agreement a = ExpectAgreesWithGiflib(gif, p.lexically_relative(root).string(), 6);
        ++files;
        failing += a.ExpectedFailure;
        frames += a.FramesCompared;
        framesSkipped += a.FramesSkipped;
    }
    std::printf("%d files compared with giflib (%d expected to fail, %d frames compared index for index, "
                "%d frames read differently on purpose); %d files giflib does not read cleanly\n",
                files, failing, frames, framesSkipped, notClean);
    EXPECT_GT(frames, 0);
}
