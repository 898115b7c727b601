// gifdump's own contract: "info" prints every field as the codec holds it,
// in the documented format; "frame" writes the codec's BMP stream byte for
// byte; exit statuses and messages. The codec itself is checked against giflib
// and the reference decoder by its own tests.

#include "GifDump.h"
#include "GifWriter.h"
#include "MiniJson.h"
#include "gif/JvGIF.h"
#include "rtl/Streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

std::string Hex(uint32_t color) {
    char t[16];
    std::snprintf(t, sizeof t, "0x%06X", color);
    return t;
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

// Every field of "info" against the image the codec loads from the same
// file: frames of every stored pixel width, local and global tables,
// interlacing, keys, delays and disposals, a loop and comments.
TEST(GifDumpInfo, EveryFieldAsTheCodecHoldsIt) {
    GifWriter w;
    w.Header("89a").Screen(41, 23, Table(16, 7), 3).Loop(3);
    for (int depth : {1, 3, 4, 8}) {
        ImageSpec f = Frame(uint16_t(depth), uint16_t(depth / 2), 17, 9, depth, uint32_t(depth));
        f.Interlaced = depth % 2 == 1;
        if (depth != 4) f.LocalTable = Table(size_t{1} << depth, 50u + uint32_t(depth));
        w.GraphicControl(depth % 4, uint16_t(depth * 3), depth == 3 ? 5 : -1);
        w.Image(f);
    }
    ImageSpec cut = Frame(0, 0, 30, 20, 4, 9);
    cut.TruncateData = 20;
    w.Image(cut).Comment("one").Comment("two").Trailer();
    const Bytes gif = w.Finish();
    TempDir dir;
    DumpResult info = Dump({"info", dir.Write("all.gif", gif)});
    ASSERT_EQ(info.Status, 0) << info.Err;
    const minijson::Value j = minijson::Parse(info.Out);

    TMemoryStream source;
    source.WriteBuffer(gif.data(), static_cast<int64_t>(gif.size()));
    source.SetPosition(0);
    TJvGIFImage image;
    image.LoadFromStream(source);
    auto color = [](TColor c) { return c == clNone ? std::string("null") : Hex(c); };
    auto text = [](const minijson::Value& v) { return v.IsNull() ? std::string("null") : v.S; };
    EXPECT_EQ(j["version"].S, "89a");
    EXPECT_EQ(j["logical_width"].Int(), image.LogicalWidth());
    EXPECT_EQ(j["logical_height"].Int(), image.LogicalHeight());
    EXPECT_EQ(j["global_colors"].Int(), image.SharedHeader()->GlobalColors().Count);
    EXPECT_EQ(text(j["backdrop_color"]), color(image.BackdropColor()));
    EXPECT_EQ(j["loop_declared"].B, image.LoopDeclared());
    EXPECT_EQ(j["loop_count"].Int(), image.LoopCount());
    const TStringList& lines = image.SharedHeader()->CommentLines;
    ASSERT_EQ(j["comments"].A.size(), static_cast<size_t>(lines.Count()));
    for (int k = 0; k < lines.Count(); ++k) EXPECT_EQ(j["comments"][static_cast<size_t>(k)].S, lines[k]) << k;
    ASSERT_EQ(j["frames"].A.size(), static_cast<size_t>(image.FrameCount()));
    for (int i = 0; i < image.FrameCount(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const minijson::Value& f = j["frames"][static_cast<size_t>(i)];
        TJvGIFFrame& frame = *image.FrameAt(i);
        frame.FrameBitmap();
        const TGIFItem& item = *frame.SharedData();
        EXPECT_EQ(f["left"].Int(), frame.Origin().X);
        EXPECT_EQ(f["top"].Int(), frame.Origin().Y);
        EXPECT_EQ(f["width"].Int(), item.RasterSize.X);
        EXPECT_EQ(f["height"].Int(), item.RasterSize.Y);
        EXPECT_EQ(f["interlaced"].B, frame.IsInterlaced());
        EXPECT_EQ(f["local_table"].B, frame.HasLocalTable());
        EXPECT_EQ(f["pixel_depth"].Int(), item.PixelDepth);
        EXPECT_EQ(text(f["key_color"]), color(frame.KeyColor()));
        EXPECT_EQ(f["delay_ms"].Int(), frame.DelayMs());
        EXPECT_EQ(f["disposal"].Int(), frame.DisposalMode());
        EXPECT_EQ(f["corrupted"].B, frame.IsCorrupted());
    }
    EXPECT_TRUE(j["frames"][4]["corrupted"].B) << "the cut frame, decoded before printing";
    EXPECT_EQ(text(j["frames"][1]["key_color"]).size(), 8u) << "a key colour as 0xBBGGRR";
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
    // 8 bits per pixel, strings far longer than 8 pixels, an end code inside a row.
    ImageSpec stopped = Frame(0, 0, 120, 6, 8, 4);
    for (size_t i = 0; i < stopped.Indices.size(); ++i) stopped.Indices[i] = static_cast<uint8_t>(1 + i % 3 * 40);
    stopped.LocalTable = Table(256, 2);
    stopped.Lzw.InjectCodes.emplace(4 * 120 + 50, uint16_t(257));
    w.Header().Screen(9, 7, Table(8, 2)).Image(a).GraphicControl(0, 0, 4).Image(b).Image(c).Image(stopped).Trailer();
    const Bytes gif = w.Finish();
    const std::string file = dir.Write("b.gif", gif);
    TMemoryStream source;
    source.WriteBuffer(gif.data(), static_cast<int64_t>(gif.size()));
    source.SetPosition(0);
    TJvGIFImage image;
    image.LoadFromStream(source);
    ASSERT_EQ(image.FrameCount(), 4);
    for (int i = 0; i < 4; ++i) {
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
    std::vector<Usage> usages = {
        {{}, ""},
        {{"info"}, ""},
        {{"info", good, "extra"}, ""},
        {{"dump", good}, ""},
        {{"frame", good, "0"}, ""},
        {{"info", dir.Path("missing.gif")}, "cannot read"},
        {{"info", dir.Path(".")}, "cannot read"},
        {{"frame", dir.Path("missing.gif"), "0", dir.Path("y.bmp")}, "cannot read"},
        {{"frame", good, "2", dir.Path("y.bmp")}, "frame 2 out of range"},
        {{"frame", good, "-1", dir.Path("y.bmp")}, "frame index"},
        {{"frame", good, "1x", dir.Path("y.bmp")}, "frame index"},
        {{"frame", good, "99999999999", dir.Path("y.bmp")}, "frame index"},
        {{"frame", good, "1", dir.Path("no/such/folder/y.bmp")}, "cannot write"},
    };
    // A full disk: a BMP this small only reaches it when the file is closed.
    if (fs::exists("/dev/full")) usages.push_back({{"frame", good, "1", "/dev/full"}, "cannot write"});
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
    // Standard output that cannot be written is no success either.
    std::ostringstream closedOut, infoErr;
    closedOut.setstate(std::ios::badbit);
    EXPECT_EQ(gifdump::Run({"info", good}, closedOut, infoErr), 2);
    EXPECT_NE(infoErr.str().find("gifdump: cannot write the output"), std::string::npos) << infoErr.str();
    EXPECT_EQ(Dump({"frame", good, "1", dir.Path("ok.bmp")}).Status, 0);
    EXPECT_EQ(ParseBmp(ReadFile(dir.Path("ok.bmp"))).Width, 1);
}
