// The stream reader: GIF bytes into the image model, through load from
// stream and the stored "Data" form.

#include "GifWriter.h"
#include "gif/JvGIF.h"
#include "gif/JvGIFReader.h"
#include "rtl/Errors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

using gifwriter::Bytes;
using gifwriter::GifWriter;
using gifwriter::ImageSpec;
using gifwriter::PackCodes;
using gifwriter::RasterBlock;
using gifwriter::Rgb;
using gifwriter::RootCodes;

namespace {

TMemoryStream StreamOf(const Bytes& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    return s;
}

struct Loaded {
    std::unique_ptr<TJvGIFImage> Image = std::make_unique<TJvGIFImage>();
    int Changes = 0;
    Loaded() {
        Image->OnChange = [this](TObject*) { ++Changes; };
    }
    void Load(const Bytes& bytes) {
        TMemoryStream s = StreamOf(bytes);
        Image->LoadFromStream(s);
    }
    TJvGIFFrame* Frame(int i) { return Image->FrameAt(i); }
};

// Runs load and returns the error's class and message ("" when it loads).
std::string LoadError(Loaded& l, const Bytes& bytes) {
    try {
        l.Load(bytes);
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "";
}

// count entries, entry i of colour(i) (red in the low byte).
template <typename F>
std::vector<Rgb> TableOf(int count, F colour) {
    std::vector<Rgb> table;
    for (int i = 0; i < count; ++i) {
        const uint32_t c = colour(i);
        table.push_back(Rgb{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    }
    return table;
}
std::vector<Rgb> Greys(int count) {
    return TableOf(count, [](int i) { return uint32_t(i) * 0x010101u; });
}

// 4 × 2 pixels, 4 grey colours.
GifWriter Small(const char* version = "89a") {
    GifWriter g;
    g.Header(version).ScreenRaw(4, 2, 0x81, 0).ColorTable(Greys(4), 4);
    return g;
}
const Bytes SmallPixels{0, 1, 2, 3, 3, 2, 1, 0};

// The small picture as an image with the global table, coded at code size m.
ImageSpec SmallImage(int m = 2) {
    ImageSpec spec;
    spec.Width = 4;
    spec.Height = 2;
    spec.Indices = SmallPixels;
    spec.MinCodeSize = m;
    return spec;
}

} // namespace

TEST(GifReader, VersionsAndSignature) {
    for (const char* version : {"89a", "87a"}) {
        Loaded l;
        EXPECT_EQ(LoadError(l, Small(version).Image(SmallImage()).Trailer().Finish()), "") << version;
        EXPECT_EQ(l.Image->GifVersion(), version[1] == '9' ? 2 : 1) << version;
        EXPECT_EQ(l.Image->FrameCount(), 1) << version;
    }
    const std::vector<std::pair<Bytes, const char*>> bad{
        {Small("88a").Trailer().Finish(), "version 88a"},
        {GifWriter().Raw({'g', 'i', 'f', '8', '9', 'a'}).Raw(Bytes(7, 0)).Finish(), "lower-case signature"},
        {GifWriter().Header(std::string(3, '\0')).Raw(Bytes(7, 0)).Finish(), "zero version"},
        {GifWriter().Header("89a").Finish(5), "five bytes"},
    };
    for (const auto& [bytes, what] : bad) {
        Loaded l;
        EXPECT_EQ(LoadError(l, bytes), "EInvalidGraphicOperation: Unknown GIF version") << what;
        EXPECT_EQ(l.Changes, 0) << what << ": no change notification after a failure";
    }
}

TEST(GifReader, StoredDataFormAndEmptyStreams) {
    // N = 0 and N < 0: empty image, nothing read after the length, one notification.
    for (int32_t n : {0, -5}) {
        Loaded l;
        Bytes data{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), 'G', 'I', 'F'};
        TMemoryStream s = StreamOf(data);
        l.Image->ReadData(s);
        EXPECT_EQ(s.Position(), 4) << n;
        EXPECT_EQ(l.Image->FrameCount(), 0) << n;
        EXPECT_TRUE(l.Image->Empty()) << n;
        EXPECT_EQ(l.Changes, 1) << n;
        EXPECT_TRUE(l.Image->PaletteModified()) << n;
    }
    // The length limits the read: bytes beyond it stay in the source.
    Bytes gif = Small().Image(SmallImage()).Trailer().Finish();
    Bytes stored{uint8_t(gif.size()), uint8_t(gif.size() >> 8), 0, 0};
    stored.insert(stored.end(), gif.begin(), gif.end());
    stored.push_back(0x77);
    Loaded l;
    TMemoryStream s = StreamOf(stored);
    l.Image->ReadData(s);
    EXPECT_EQ(s.Position(), int64_t(stored.size() - 1));
    EXPECT_EQ(l.Image->FrameCount(), 1);
    EXPECT_EQ(l.Image->ActiveFrameIndex(), 0);
    EXPECT_NE(l.Frame(0)->CachedBitmap(), nullptr) << "frame 0 is decoded by the load";
    // A length beyond the source: the stream's read error.
    stored[0] = 0xFF;
    stored[1] = 0x7F;
    Loaded shortSource;
    TMemoryStream s2 = StreamOf(stored);
    EXPECT_THROW(shortSource.Image->ReadData(s2), EReadError);

    // Ends inside the screen descriptor or after the global table, or holds
    // only the trailer (with zero bytes before it).
    for (const Bytes& bytes : {GifWriter().Header("89a").Raw({0x10, 0, 0x20}).Finish(), Small().Finish(),
                               Small().Trailer().Finish(), Small().Raw({0, 0}).Trailer().Finish()}) {
        Loaded e;
        EXPECT_EQ(LoadError(e, bytes), "");
        EXPECT_EQ(e.Image->FrameCount(), 0);
        EXPECT_EQ(e.Image->ActiveFrameIndex(), -1);
        EXPECT_EQ(e.Changes, 1);
    }
}

TEST(GifReader, LoadsFromFile) {
    const Bytes gif = Small().Image(SmallImage()).Trailer().Finish();
    const std::string path = ::testing::TempDir() + "kantrel-reader-test.gif";
    TMemoryStream file = StreamOf(gif);
    file.SaveToFile(path);
    TJvGIFImage image;
    image.LoadFromFile(path);
    std::remove(path.c_str());
    EXPECT_EQ(image.FrameCount(), 1);
    EXPECT_EQ(image.Width(), 4);
    EXPECT_THROW(image.LoadFromFile(path), EStreamError) << "a file that is not there";
}

TEST(GifReader, ScreenHeaderAndFrameFields) {
    Loaded l;
    GifWriter g;
    g.Header("89a").ScreenRaw(300, 200, 0xF2, 5, 49).ColorTable(Greys(8), 8);
    g.Raw({0, 0}); // zero bytes before an introducer
    g.ImageDescriptor(7, 9, 4, 2, 0x40).Raw(RasterBlock(3, PackCodes(3, RootCodes(3, SmallPixels))));
    // Width and height 0 take the logical screen's; a local table of 2 colours.
    g.ImageDescriptor(1, 2, 0, 0, 0x80).Raw({10, 20, 30, 40, 50, 60}).Raw(RasterBlock(2, PackCodes(2, {4, 1, 5})));
    g.Trailer();
    ASSERT_EQ(LoadError(l, g.Finish()), "");
    TJvGIFImage& image = *l.Image;
    EXPECT_EQ(image.LogicalWidth(), 300);
    EXPECT_EQ(image.LogicalHeight(), 200);
    const TGIFData& header = *image.SharedHeader();
    EXPECT_EQ(header.ColorBits, 3);
    EXPECT_EQ(header.ColorResolution, 8);
    EXPECT_EQ(header.PixelAspect, 49);
    EXPECT_EQ(header.GlobalColors().Count, 8);
    EXPECT_EQ(image.BackdropColor(), 0x050505u) << "entry 5 of the grey table";
    ASSERT_EQ(image.FrameCount(), 2);

    TJvGIFFrame& first = *l.Frame(0);
    EXPECT_EQ(first.Origin(), (TPoint{7, 9}));
    EXPECT_TRUE(first.IsInterlaced());
    EXPECT_FALSE(first.HasLocalTable());
    EXPECT_EQ(first.SharedData()->RasterSize, (TPoint{4, 2}));
    EXPECT_EQ(first.SharedData()->PixelDepth, 3);
    EXPECT_EQ(first.SharedData()->FrameColors().Count, 8) << "the global table";
    EXPECT_EQ(first.SharedData()->DescriptorFlags, 0x40);
    EXPECT_EQ(first.DelayMs(), 0);
    EXPECT_EQ(first.KeyColor(), clNone);

    TJvGIFFrame& second = *l.Frame(1);
    EXPECT_EQ(second.SharedData()->RasterSize, (TPoint{300, 200}));
    EXPECT_TRUE(second.HasLocalTable());
    EXPECT_EQ(second.SharedData()->PixelDepth, 1);
    EXPECT_EQ(second.SharedData()->FrameColors().Count, 2);
    EXPECT_EQ(TripletToColor(second.SharedData()->FrameColors().Entries[1]), RGBToColor(40, 50, 60));
    EXPECT_EQ(second.SharedData()->EncodedData->Position(), 0) << "not decoded yet";
    const Bytes encoded(second.SharedData()->EncodedData->Bytes());
    EXPECT_EQ(encoded, RasterBlock(2, PackCodes(2, {4, 1, 5}))) << "the raster exactly as carried";
}

TEST(GifReader, GraphicControlRules) {
    auto frameOf = [](const std::function<void(GifWriter&)>& before, Loaded& l) {
        GifWriter g = Small();
        before(g);
        g.Image(SmallImage()).Trailer();
        l.Load(g.Finish());
        return l.Frame(0);
    };
    {
        Loaded l;
        TJvGIFFrame* f = frameOf([](GifWriter& g) { g.GraphicControl(2, 5, 1).GraphicControl(3, 3); }, l);
        EXPECT_EQ(f->DelayMs(), 50) << "the longer delay wins";
        EXPECT_EQ(f->KeyColor(), clNone) << "the second extension has no transparency";
        EXPECT_EQ(f->DisposalMode(), 3);
        ASSERT_NE(f->ExtensionList(), nullptr);
        EXPECT_EQ(f->ExtensionList()->Count(), 2);
    }
    {
        Loaded l;
        TJvGIFFrame* f = frameOf([](GifWriter& g) { g.GraphicControl(1, 5, 2).PlainText("abc"); }, l);
        EXPECT_EQ(f->DelayMs(), 0) << "plain text drops the graphic control before it";
        EXPECT_EQ(f->KeyColor(), clNone);
        EXPECT_EQ(f->DisposalMode(), 0);
    }
    {
        Loaded l;
        TJvGIFFrame* f = frameOf([](GifWriter& g) { g.GraphicControl(0, 1, 4); }, l);
        EXPECT_EQ(f->KeyColor(), clNone) << "transparent index beyond the 4-entry table";
    }
    {
        Loaded l;
        TJvGIFFrame* f = frameOf([](GifWriter& g) { g.GraphicControl(7, 7000, 2); }, l);
        EXPECT_EQ(f->DelayMs(), 65535) << "70 s does not fit: the longest delay stored";
        EXPECT_EQ(f->DisposalMode(), 7) << "values 4 to 7 stored unchanged";
        EXPECT_EQ(f->KeyColor(), 0x020202u);
        EXPECT_TRUE(l.Image->Transparent());
    }
}

TEST(GifReader, KeyColourIsMadeUnique) {
    // 32 entries; 19 to 31 white, 31 transparent: entry 31 becomes (255, 255, 254).
    GifWriter g;
    g.Header("89a").ScreenRaw(4, 2, 0x84, 19).ColorTable(TableOf(32, [](int i) { return i >= 19 ? 0xFFFFFFu : uint32_t(i); }), 32);
    g.GraphicControl(0, 1, 31).Image(SmallImage(5)).Trailer();
    Loaded l;
    l.Load(g.Finish());
    TJvGIFFrame* f = l.Frame(0);
    EXPECT_EQ(f->KeyColor(), 0xFEFFFFu);
    const TGIFColors& colors = f->SharedData()->FrameColors();
    EXPECT_EQ(TripletToColor(colors.Entries[31]), 0xFEFFFFu);
    EXPECT_EQ(TripletToColor(colors.Entries[30]), 0xFFFFFFu);
    EXPECT_EQ(TripletToColor(l.Image->SharedHeader()->GlobalColors().Entries[31]), 0xFFFFFFu) << "global table untouched";
    EXPECT_EQ(l.Image->BackdropColor(), 0xFFFFFFu);
    EXPECT_FALSE(ColorRepeated(colors, 31));

    // Blue 0 is taken by another entry: the search turns upwards.
    GifWriter up;
    const uint32_t blues[4] = {0, 0, 1, 2};
    up.Header("89a").ScreenRaw(4, 2, 0x81, 0).ColorTable(TableOf(4, [&](int i) { return blues[i] << 16; }), 4);
    up.GraphicControl(0, 1, 0).Image(SmallImage()).Trailer();
    Loaded u;
    u.Load(up.Finish());
    EXPECT_EQ(u.Frame(0)->KeyColor(), 0x030000u) << "blue 0, 1 and 2 are taken";

    // Every blue value of (0, 0) is taken: the search gives up instead of looping.
    GifWriter full;
    full.Header("89a").ScreenRaw(4, 2, 0x87, 0).ColorTable(TableOf(256, [](int i) { return uint32_t(i) << 16; }), 256);
    full.GraphicControl(0, 1, 100).Image(SmallImage(8)).Trailer();
    Loaded f2;
    ASSERT_EQ(LoadError(f2, full.Finish()), "");
    EXPECT_NE(f2.Frame(0)->KeyColor(), clNone);
    EXPECT_EQ(RedOf(f2.Frame(0)->KeyColor()), 0);
}

TEST(GifReader, CommentsAndLoops) {
    GifWriter g = Small();
    g.Application("NETSCAPE2.0", {{1, 0, 0}}).Image(SmallImage());
    g.Extension(0xFE, {}, {Bytes{'f', 'i', 'r', 's', 't'}, Bytes{'l', 'i', 'n', 'e'}}).Comment("second").Trailer();
    Loaded l;
    ASSERT_EQ(LoadError(l, g.Finish()), "");
    EXPECT_TRUE(l.Image->LoopDeclared());
    EXPECT_EQ(l.Image->LoopCount(), 0);
    const TStringList& lines = l.Image->SharedHeader()->CommentLines;
    ASSERT_EQ(lines.Count(), 4);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[2], "\r\n\r\n");
    EXPECT_EQ(lines[3], "second");

    struct Case {
        std::string Identifier;
        Bytes Block;
        uint8_t BlockSize;
        bool Declared;
        uint16_t Count;
    };
    const std::vector<Case> cases{
        {"NETSCAPE2.0", {1, 0xFF, 0xFF}, 11, true, 30000},
        {"ANIMEXTS1.0", {1, 5, 1}, 11, true, 261},
        {"XMPDataXMP ", {1, 5, 0}, 0, true, 5},    // block size 0 compares nothing
        {"NETSCAPE2.0", {1, 2, 0}, 200, true, 2},  // compared over the 11 stored bytes only
        {"NETSCAPE2.1", {1, 2, 0}, 11, false, 1},
        {"NETSCAPE2.0", {2, 2, 0}, 11, false, 1},  // first byte must be 1
        {"NETSCAPE2.0", {1, 2}, 11, false, 1},     // too short
    };
    for (const Case& c : cases) {
        Loaded one;
        ASSERT_EQ(LoadError(one, Small().Application(c.Identifier, {c.Block}, c.BlockSize).Trailer().Finish()), "")
            << c.Identifier;
        EXPECT_EQ(one.Image->LoopDeclared(), c.Declared) << c.Identifier << " size " << int(c.BlockSize);
        EXPECT_EQ(one.Image->LoopCount(), c.Count) << c.Identifier << " size " << int(c.BlockSize);
    }
}

TEST(GifReader, FailuresAndWhatSurvives) {
    const Bytes frame = Small().Image(SmallImage()).Finish();
    struct Case {
        Bytes Data;
        std::string Error;
        int FramesLeft;
    };
    auto after = [&](const Bytes& tail) {
        Bytes d = frame;
        d.insert(d.end(), tail.begin(), tail.end());
        return d;
    };
    const std::vector<Case> cases{
        {after({0x21, 0x3B, 0}), "EInvalidGraphicOperation: Unrecognized extension block: 3B", 1},
        {after({0x21, 0x0A, 0}), "EInvalidGraphicOperation: Unrecognized extension block: 0A", 1},
        // A byte that cannot begin a block, after extensions, with data left after it.
        {after({0x21, 0xFE, 0, 0x55, 0x3B}), "EInvalidGraphicOperation: Stream read error", 1},
        {Small().Raw({0x55, 0x2C}).Finish(), "EInvalidGraphicOperation: Stream read error", 0},
        // Data ending inside an image descriptor, a local table, before the code size.
        {after({0x2C, 0, 0, 0}), "EReadError: Stream read error", 1},
        {after(GifWriter().ImageDescriptor(0, 0, 1, 1, 0x81).Raw({1, 2, 3, 4}).Data()), "EReadError: Stream read error", 1},
        {after(GifWriter().ImageDescriptor(0, 0, 1, 1).Data()), "EReadError: Stream read error", 1},
    };
    for (const Case& c : cases) {
        Loaded l;
        EXPECT_EQ(LoadError(l, c.Data), c.Error);
        EXPECT_EQ(l.Image->FrameCount(), c.FramesLeft) << c.Error;
        EXPECT_EQ(l.Image->ActiveFrameIndex(), -1) << c.Error;
        EXPECT_EQ(l.Changes, 0) << c.Error;
        EXPECT_EQ(l.Image->LogicalWidth(), c.FramesLeft ? 4 : 0) << c.Error;
    }

    // Quiet ends: any other byte after a frame, a lone introducer at the end.
    for (const Bytes& tail : {Bytes{0x55, 1, 2, 3}, Bytes{0x21}, Bytes{0x2C}}) {
        Loaded l;
        EXPECT_EQ(LoadError(l, after(tail)), "") << int(tail[0]);
        EXPECT_EQ(l.Image->FrameCount(), 1);
        EXPECT_EQ(l.Changes, 1);
    }

    // Frame 0 that cannot be decoded (no colour table at all): it is removed,
    // the frames after it stay.
    GifWriter noTable;
    ImageSpec own = SmallImage();
    own.LocalTable = Greys(4);
    noTable.Header("89a").ScreenRaw(4, 2, 0, 0).Image(SmallImage()).Image(own);
    Loaded l;
    EXPECT_EQ(LoadError(l, noTable.Finish()), "EInvalidGraphicOperation: Wrong number of colors; must be a power of 2");
    EXPECT_EQ(l.Image->FrameCount(), 1);
    EXPECT_TRUE(l.Frame(0)->HasLocalTable()) << "the second frame is what is left";
    EXPECT_EQ(l.Image->ActiveFrameIndex(), 0);
    EXPECT_EQ(l.Changes, 0);
}

TEST(GifReader, TruncatedRasters) {
    // The last sub-block claims more bytes than remain (many more, or just
    // one): the frame stays, marked, without that sub-block; the load ends quietly.
    const Bytes packed = PackCodes(2, RootCodes(2, SmallPixels));
    for (uint8_t claimed : {40, 2}) {
        GifWriter g = Small();
        g.ImageDescriptor(0, 0, 4, 2).Raw({2, 2}).Raw({packed[0], packed[1]}).Raw({claimed, packed[2]});
        Loaded l;
        ASSERT_EQ(LoadError(l, g.Finish()), "") << int(claimed);
        TJvGIFFrame* f = l.Frame(0);
        EXPECT_TRUE(f->IsCorrupted()) << int(claimed) << " claimed, 1 there";
        EXPECT_EQ(f->SharedData()->EncodedData->Bytes(), (Bytes{2, 2, packed[0], packed[1]}))
            << int(claimed) << " claimed, 1 there";
        EXPECT_EQ(l.Changes, 1) << int(claimed);
    }

    // Sub-blocks that end with the data, without a terminator: not marked by
    // the reader; decoding finds all rows complete.
    GifWriter whole = Small();
    whole.ImageDescriptor(0, 0, 4, 2).Raw(RasterBlock(2, packed));
    Loaded w;
    ASSERT_EQ(LoadError(w, whole.Finish(whole.Data().size() - 1)), "");
    EXPECT_FALSE(w.Frame(0)->IsCorrupted());

    // Nothing after the code size: marked; it decodes to index 0 everywhere.
    GifWriter bare = Small();
    bare.ImageDescriptor(0, 0, 4, 2).Raw({2});
    Loaded b;
    ASSERT_EQ(LoadError(b, bare.Finish()), "");
    EXPECT_TRUE(b.Frame(0)->IsCorrupted());
    EXPECT_EQ(b.Image->Width(), 4);
}

TEST(GifReader, UnallocatableSizesFailClearly) {
    // A few bytes declaring 65535 × 65535 pixels.
    GifWriter huge;
    huge.Header("89a").ScreenRaw(65535, 65535, 0x80, 0).ColorTable(Greys(2), 2);
    huge.ImageDescriptor(0, 0, 65535, 65535).Raw(RasterBlock(2, PackCodes(2, {4, 1, 5}))).Trailer();
    Loaded l;
    EXPECT_EQ(LoadError(l, huge.Finish()), "EOutOfMemory: Not enough memory for a GIF frame of 65535 x 65535 pixels");
    EXPECT_EQ(l.Image->FrameCount(), 0) << "frame 0 is removed";

    // As a later frame it loads; asking for its bitmap fails the same way, every time.
    GifWriter later;
    ImageSpec ones = SmallImage();
    ones.Indices = Bytes(8, 1);
    later.Header("89a").ScreenRaw(65535, 65535, 0x80, 0).ColorTable(Greys(2), 2).Image(ones);
    later.ImageDescriptor(0, 0, 65535, 65535).Raw(RasterBlock(2, PackCodes(2, {4, 1, 5}))).Trailer();
    Loaded m;
    ASSERT_EQ(LoadError(m, later.Finish()), "");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(m.Frame(1)->FrameBitmap(), EOutOfMemory) << attempt;
        EXPECT_TRUE(m.Frame(1)->CachedBitmap()->Empty()) << attempt;
    }
    EXPECT_FALSE(m.Frame(1)->IsCorrupted());
}
