// The image model (copies, sharing, comments, frames from bitmaps) and the
// frame bitmaps built from decoded rasters.

#include "GifWriter.h"
#include "gif/JvGIF.h"
#include "gif/JvGIFDecoder.h"
#include "rtl/Errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using gifwriter::Bytes;
using gifwriter::GifWriter;
using gifwriter::ImageSpec;
using gifwriter::Rgb;

namespace {

std::vector<Rgb> Palette(int count, uint8_t seed = 0) {
    std::vector<Rgb> table;
    for (int i = 0; i < count; ++i)
        table.push_back(Rgb{uint8_t(i * 3 + seed), uint8_t(255 - i), uint8_t(i * 7)});
    return table;
}

Bytes Noise(size_t count, int colors, unsigned seed) {
    std::mt19937 random(seed);
    Bytes out(count);
    for (auto& b : out)
        b = uint8_t(random() % unsigned(colors));
    return out;
}

// A width x height image of noise in colors colours, with the global table.
ImageSpec NoiseImage(int width, int height, int colors, unsigned seed) {
    ImageSpec spec;
    spec.Width = uint16_t(width);
    spec.Height = uint16_t(height);
    spec.Indices = Noise(size_t(width) * size_t(height), colors, seed);
    return spec;
}

std::unique_ptr<TJvGIFImage> Load(const Bytes& bytes) {
    auto image = std::make_unique<TJvGIFImage>();
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    image->LoadFromStream(s);
    return image;
}

// Every pixel of the frame's bitmap against the indices it was made from.
void ExpectPixels(TJvGIFFrame& frame, const Bytes& indices, int width, const std::string& what) {
    TBitmap& bitmap = *frame.FrameBitmap();
    ASSERT_EQ(size_t(bitmap.Width()) * size_t(bitmap.Height()), indices.size()) << what;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < width; ++x)
            if (bitmap.PixelIndex(x, y) != indices[size_t(y) * size_t(width) + size_t(x)]) {
                ADD_FAILURE() << what << ": pixel " << x << ", " << y;
                return;
            }
        // The fill bits after the last pixel of each row stay 0.
        const uint8_t* row = bitmap.ScanLine(y);
        for (int bit = width * bitmap.PixelBits(); bit < bitmap.Stride() * 8; ++bit)
            if (row[bit / 8] & (0x80 >> (bit % 8))) {
                ADD_FAILURE() << what << ": fill bit " << bit << " of row " << y;
                return;
            }
    }
}

// Three 4-colour frames with graphic controls: the model's test animation.
Bytes Animation(uint8_t seed = 0) {
    GifWriter w;
    w.Header("89a").Screen(20, 10, Palette(4, seed), 2).Loop(0);
    for (int i = 0; i < 3; ++i) {
        w.GraphicControl(i, uint16_t(5 + i), i == 1 ? 3 : -1);
        ImageSpec spec;
        spec.Left = uint16_t(i);
        spec.Top = uint16_t(2 * i);
        spec.Width = uint16_t(8 + i);
        spec.Height = 5;
        spec.Indices = Noise(size_t(spec.Width) * 5, 4, unsigned(i + seed));
        if (i == 2)
            spec.LocalTable = Palette(4, 9);
        w.Image(spec);
    }
    w.Comment("made for the model test");
    return w.Trailer().Finish();
}

} // namespace

TEST(GifModel, NewImageAndSizeChanges) {
    TJvGIFImage image;
    int changes = 0;
    image.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &image);
        ++changes;
    };
    EXPECT_TRUE(image.Empty());
    EXPECT_FALSE(image.Modified());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_EQ(image.LogicalWidth(), 0);
    EXPECT_EQ(image.ActiveFrameIndex(), -1);
    EXPECT_EQ(image.BackdropColor(), clNone);
    EXPECT_EQ(image.LoopCount(), 1);
    EXPECT_EQ(image.Palette(), nullptr);
    EXPECT_FALSE(image.Transparent()) << "no frame has a key colour";
    EXPECT_EQ(image.SharedHeader()->RefCount(), 1);

    for (int value : {0, 5}) {
        try {
            image.SetWidth(value);
            FAIL() << "width " << value;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), "Cannot change the Size of a GIF image");
        }
        EXPECT_THROW(image.SetHeight(value), EInvalidGraphicOperation);
    }
    EXPECT_THROW(image.FrameAt(0), EListError);

    // ActiveBitmap of an empty image: one frame without data, version 87a.
    TBitmap* bitmap = image.ActiveBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(bitmap->Empty());
    EXPECT_EQ(image.FrameCount(), 1);
    EXPECT_EQ(image.GifVersion(), 1);
    EXPECT_EQ(image.ActiveFrameIndex(), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(image.FrameAt(0)->FrameWidth(), 0);

    // Writing is not part of this codec.
    TMemoryStream out;
    EXPECT_THROW(image.SaveToStream(out), EInvalidGraphicOperation);
}

TEST(GifModel, AssignSharesDataAndEqualityFollowsTheHeader) {
    auto source = Load(Animation());
    auto copy = std::make_unique<TJvGIFImage>();
    int changes = 0;
    copy->OnChange = [&](TObject*) { ++changes; };
    copy->Assign(source.get());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(copy->Equals(source.get()));
    EXPECT_TRUE(source->Equals(copy.get()));
    EXPECT_EQ(source->SharedHeader()->RefCount(), 2);
    ASSERT_EQ(copy->FrameCount(), 3);
    EXPECT_EQ(copy->LogicalWidth(), 20);
    EXPECT_EQ(copy->LogicalHeight(), 10);
    EXPECT_EQ(copy->ActiveFrameIndex(), 0);
    EXPECT_TRUE(copy->LoopDeclared());
    EXPECT_EQ(copy->BackdropColor(), source->BackdropColor());
    std::vector<Bytes> pixels;
    for (int i = 0; i < 3; ++i) {
        TJvGIFFrame* a = source->FrameAt(i);
        TJvGIFFrame* b = copy->FrameAt(i);
        EXPECT_EQ(a->Origin(), b->Origin()) << i;
        EXPECT_EQ(a->DelayMs(), b->DelayMs()) << i;
        EXPECT_EQ(a->DisposalMode(), b->DisposalMode()) << i;
        EXPECT_EQ(a->KeyColor(), b->KeyColor()) << i;
        EXPECT_EQ(a->HasLocalTable(), b->HasLocalTable()) << i << ": same as the source across an image copy";
        EXPECT_EQ(b->SharedData(), a->SharedData()) << i;
        EXPECT_EQ(a->SharedData()->RefCount(), 2) << i;
        TMemoryStream bmp;
        a->BuildBitmapStream(bmp);
        pixels.emplace_back(bmp.Bytes());
    }
    EXPECT_EQ(source->FrameAt(1)->KeyColor(), TripletToColor(source->FrameAt(1)->SharedData()->FrameColors().Entries[3]));

    // The copy outlives its source and still decodes every frame.
    source.reset();
    for (int i = 0; i < 3; ++i) {
        TMemoryStream bmp;
        copy->FrameAt(i)->BuildBitmapStream(bmp);
        EXPECT_EQ(bmp.Bytes(), pixels[size_t(i)]) << i;
        EXPECT_EQ(copy->FrameAt(i)->SharedData()->RefCount(), 1) << i;
    }

    // Reloading either side breaks equality, even with the same bytes.
    auto other = std::make_unique<TJvGIFImage>();
    other->Assign(copy.get());
    TMemoryStream again;
    const Bytes bytes = Animation();
    again.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    again.SetPosition(0);
    other->LoadFromStream(again);
    EXPECT_FALSE(other->Equals(copy.get()));
    TBitmap bitmap;
    EXPECT_FALSE(copy->Equals(&bitmap));
}

// A copy decodes nothing, so a frame that cannot be decoded (here one too
// large to allocate) in the middle of the source neither stops the copy
// halfway nor gets decoded ahead of need.
TEST(GifModel, AssignDecodesNothing) {
    GifWriter w;
    w.Header("89a").Screen(65535, 65535, Palette(4));
    const ImageSpec small = NoiseImage(4, 2, 4, 1);
    ImageSpec huge;
    huge.Width = 65535;
    huge.Height = 65535;
    const Bytes codes = gifwriter::LzwEncode(Bytes{1}, 2);
    huge.RawData = &codes;
    huge.MinCodeSize = 2;
    auto source = Load(w.Image(small).Image(huge).Image(small).Trailer().Finish());
    auto target = Load(Animation());
    target->FrameAt(2)->FrameBitmap();

    EXPECT_NO_THROW(target->Assign(source.get()));
    ASSERT_EQ(target->FrameCount(), 3);
    EXPECT_TRUE(target->Equals(source.get()));
    EXPECT_EQ(target->LogicalWidth(), 65535);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(source->FrameAt(i)->CachedBitmap(), nullptr) << "source frame " << i << " decoded by the copy";
        EXPECT_EQ(target->FrameAt(i)->CachedBitmap(), nullptr) << "copied frame " << i << " decoded by the copy";
    }
    EXPECT_EQ(target->FrameAt(0)->FrameBitmap()->Width(), 4) << "a bitmap the source had is copied";
    EXPECT_THROW(target->FrameAt(1)->FrameBitmap(), EOutOfMemory);
    EXPECT_EQ(target->FrameAt(2)->FrameBitmap()->Width(), 4);
}

TEST(GifModel, FrameCopiesAndLocalTables) {
    auto image = Load(Animation());
    auto other = Load(Animation(1));
    // Across images the copy counts as having its own table; within one image
    // the flag is copied as is.
    TJvGIFFrame foreign(other.get());
    foreign.Assign(image->FrameAt(0));
    EXPECT_TRUE(foreign.HasLocalTable());
    TJvGIFFrame sibling(image.get());
    sibling.Assign(image->FrameAt(0));
    EXPECT_FALSE(sibling.HasLocalTable());
    EXPECT_NE(sibling.CachedBitmap(), nullptr) << "frame 0 had a bitmap: it is copied";
    EXPECT_EQ(sibling.DelayMs(), 50);
    // Copying an undecoded frame over a decoded one: the bitmap follows the
    // new data, not the picture decoded before.
    auto fresh = Load(Animation(2));
    ASSERT_EQ(fresh->FrameAt(1)->CachedBitmap(), nullptr) << "only frame 0 is decoded by the load";
    TJvGIFFrame loose(nullptr);
    loose.Assign(image->FrameAt(0));
    ASSERT_EQ(loose.FrameWidth(), 8);
    loose.Assign(fresh->FrameAt(1));
    EXPECT_EQ(loose.FrameWidth(), 9);
    TMemoryStream fromCopy, fromSource;
    loose.BuildBitmapStream(fromCopy);
    fresh->FrameAt(1)->BuildBitmapStream(fromSource);
    EXPECT_EQ(fromCopy.Bytes(), fromSource.Bytes());
    TBitmap& copied = *loose.FrameBitmap();
    TBitmap& source = *fresh->FrameAt(1)->FrameBitmap();
    ASSERT_EQ(copied.Width(), source.Width());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(copied.PixelColor(x, y), source.PixelColor(x, y)) << x << ", " << y;

    // A frame as the source of an image: one frame, the owner's global table.
    TJvGIFImage single;
    single.Assign(image->FrameAt(1));
    ASSERT_EQ(single.FrameCount(), 1);
    EXPECT_EQ(single.GifVersion(), 1);
    EXPECT_EQ(single.SharedHeader()->GlobalColors().Count, 4);
    EXPECT_EQ(single.FrameAt(0)->KeyColor(), image->FrameAt(1)->KeyColor());
    EXPECT_EQ(single.LogicalWidth(), 9 + 1) << "recalculated from the frame";
    // A frame reaching past 65535 leaves the 16-bit sizes at their largest.
    GifWriter far;
    far.Header("89a").Screen(20, 10, Palette(4));
    ImageSpec corner = NoiseImage(10, 10, 4, 7);
    corner.Left = corner.Top = 65530;
    auto farImage = Load(far.Image(corner).Trailer().Finish());
    TJvGIFImage reaching;
    reaching.Assign(farImage->FrameAt(0));
    EXPECT_EQ(reaching.LogicalWidth(), 65535) << "frame at 65530 of width 10";
    EXPECT_EQ(reaching.LogicalHeight(), 65535) << "frame at 65530 of height 10";

    // An image given one of its own frames, or its own bitmap, survives its reset.
    const Bytes bmpBefore = [&] {
        TMemoryStream s;
        image->FrameAt(2)->BuildBitmapStream(s);
        return s.Bytes();
    }();
    image->Assign(image->FrameAt(2));
    ASSERT_EQ(image->FrameCount(), 1);
    TMemoryStream after;
    image->FrameAt(0)->BuildBitmapStream(after);
    EXPECT_EQ(after.Bytes(), bmpBefore);
    image->Assign(image->ActiveBitmap());
    ASSERT_EQ(image->FrameCount(), 1);
    EXPECT_EQ(image->Width(), 10);
}

TEST(GifModel, AssignErrorsAndSelf) {
    auto image = Load(Animation());
    int changes = 0;
    image->OnChange = [&](TObject*) { ++changes; };
    TExtension extension;
    try {
        image->Assign(&extension);
        FAIL() << "extension into image";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TExtension to a TJvGIFImage");
    }
    try {
        extension.Assign(image.get());
        FAIL() << "image into extension";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TJvGIFImage to a TExtension");
    }
    EXPECT_THROW(image->FrameAt(0)->Assign(&extension), EConvertError);
    EXPECT_EQ(image->FrameCount(), 3) << "the target keeps its state";
    image->Assign(image.get());
    EXPECT_EQ(image->FrameCount(), 3);
    EXPECT_EQ(changes, 0);
    image->Assign(nullptr);
    EXPECT_EQ(image->FrameCount(), 0);
    EXPECT_EQ(changes, 1);

    // Into a bitmap: the active frame's pixels, keyed by its key colour.
    auto keyed = Load(Animation());
    keyed->SetActiveFrameIndex(1);
    TBitmap bitmap;
    bitmap.Assign(keyed.get());
    EXPECT_EQ(bitmap.Width(), 9);
    EXPECT_TRUE(bitmap.Transparent());
    EXPECT_EQ(bitmap.TransparentColor(), keyed->FrameAt(1)->KeyColor());
    // And back: a bitmap becomes a one-frame image, its key colour kept.
    TJvGIFImage fromBitmap;
    fromBitmap.Assign(&bitmap);
    ASSERT_EQ(fromBitmap.FrameCount(), 1);
    EXPECT_EQ(fromBitmap.FrameAt(0)->KeyColor(), keyed->FrameAt(1)->KeyColor());
    EXPECT_EQ(fromBitmap.LogicalWidth(), 9);
    EXPECT_EQ(fromBitmap.AppendFrame(&bitmap), 1);
    EXPECT_EQ(fromBitmap.GifVersion(), 2);
}

TEST(GifModel, ExtensionsAndComments) {
    TJvGIFFrame frame(nullptr);
    EXPECT_EQ(frame.LookupComment(false), nullptr);
    TStringList* created = frame.LookupComment(true);
    ASSERT_NE(created, nullptr);
    ASSERT_NE(frame.ExtensionList(), nullptr);
    EXPECT_EQ(frame.ExtensionList()->Count(), 1);

    auto second = std::make_unique<TExtension>();
    second->Kind = ekComment;
    TExtension* later = second.get();
    auto control = std::make_unique<TExtension>();
    frame.ExtensionList()->Add(std::move(second));
    frame.ExtensionList()->Add(std::move(control));
    EXPECT_EQ(LastExtensionOfKind(frame.ExtensionList(), ekComment), later);
    EXPECT_EQ(LastExtensionOfKind(frame.ExtensionList(), ekGraphicControl), frame.ExtensionList()->Get(2));
    EXPECT_EQ(LastExtensionOfKind(frame.ExtensionList(), ekApplication), nullptr);
    EXPECT_EQ(LastExtensionOfKind(nullptr, ekComment), nullptr);

    TStringList lines;
    lines.Add("one");
    lines.Add("two");
    frame.SetFrameComment(lines);
    ASSERT_NE(later->SubBlocks, nullptr) << "the later comment takes the lines";
    EXPECT_EQ(later->SubBlocks->Count(), 2);
    EXPECT_EQ(frame.FrameComment()->Get(1), "two");
    EXPECT_TRUE(created->Empty());

    TExtension copy;
    later->FixedPart[3] = 9;
    copy.Assign(later);
    EXPECT_EQ(copy.Kind, ekComment);
    EXPECT_EQ(copy.FixedPart[3], 9);
    ASSERT_NE(copy.SubBlocks, nullptr);
    EXPECT_EQ(copy.SubBlocks->Get(0), "one");

    std::optional<TExtensionList> list;
    list.emplace().Add(std::make_unique<TExtension>());
    DisposeExtensionList(list);
    EXPECT_FALSE(list.has_value());
    DisposeExtensionList(list);
}

TEST(GifBitmap, SplashSizedFrameStream) {
    // 400 × 50, 32 global colours with 19..31 white and 31 transparent.
    std::vector<Rgb> table = Palette(32);
    for (int i = 19; i < 32; ++i)
        table[size_t(i)] = Rgb{255, 255, 255};
    GifWriter w;
    w.Header("89a").Screen(400, 50, table, 19).GraphicControl(1, 1, 31);
    ImageSpec spec;
    spec.Left = 30;
    spec.Top = 7;
    spec.Width = 400;
    spec.Height = 50;
    spec.Indices = Noise(20000, 32, 5);
    w.Image(spec);
    auto image = Load(w.Trailer().Finish());
    TJvGIFFrame& frame = *image->FrameAt(0);
    EXPECT_EQ(frame.KeyColor(), 0xFEFFFFu);

    TMemoryStream bmp;
    frame.BuildBitmapStream(bmp);
    const uint8_t* b = bmp.Memory();
    auto u32 = [&](int at) { return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24); };
    EXPECT_EQ(bmp.Position(), 0);
    EXPECT_EQ(bmp.Size(), 21078);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(u32(2), 21078u);
    EXPECT_EQ(u32(6), 0u);
    EXPECT_EQ(u32(10), 1078u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 400u);
    EXPECT_EQ(u32(22), 50u);
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 8);
    EXPECT_EQ(u32(30), 0u);
    EXPECT_EQ(u32(34), 20000u);
    for (int at : {38, 42, 46, 50})
        EXPECT_EQ(u32(at), 0u) << at;
    EXPECT_EQ(u32(54 + 4 * 31), 0x00FFFFFEu) << "entry 31: blue 254, green 255, red 255, 0";
    EXPECT_EQ(u32(54 + 4 * 1), uint32_t(table[1].B | table[1].G << 8 | table[1].R << 16));
    EXPECT_EQ(u32(54 + 4 * 32), 0x80808080u) << "grey beyond the table";
    EXPECT_EQ(u32(54 + 4 * 255), 0x80808080u);
    // Image row 0 is the last stored row.
    EXPECT_EQ(0, std::memcmp(b + 1078 + 49 * 400, spec.Indices.data(), 400));
    EXPECT_EQ(0, std::memcmp(b + 1078, spec.Indices.data() + 49 * 400, 400));

    TBitmap* bitmap = frame.FrameBitmap();
    EXPECT_EQ(bitmap->Width(), 400);
    EXPECT_EQ(bitmap->Height(), 50);
    EXPECT_EQ(bitmap->HandleType(), bmDDB);
    ASSERT_NE(image->Palette(), nullptr);
    EXPECT_EQ(image->Palette()->Colors[31], 0xFEFFFFu);
    EXPECT_EQ(image->LogicalWidth(), 400) << "as read, whatever the origin";
}

TEST(GifBitmap, EveryDepthAndLayoutDecodesToItsIndices) {
    for (int depth = 1; depth <= 8; ++depth) {
        for (bool interlaced : {false, true}) {
            const int width = 9 + depth;
            const int height = 7 + depth;
            GifWriter w;
            w.Header("89a").Screen(uint16_t(width), uint16_t(height), Palette(1 << depth));
            ImageSpec spec;
            spec.Width = uint16_t(width);
            spec.Height = uint16_t(height);
            spec.Interlaced = interlaced;
            spec.Indices = Noise(size_t(width * height), 1 << depth, unsigned(depth));
            spec.SubBlockSize = 7; // codes straddle many sub-block ends
            w.Image(spec);
            auto image = Load(w.Trailer().Finish());
            const std::string what = "depth " + std::to_string(depth) + (interlaced ? " interlaced" : "");
            TJvGIFFrame& frame = *image->FrameAt(0);
            ExpectPixels(frame, spec.Indices, width, what);
            EXPECT_FALSE(frame.IsCorrupted()) << what;
            TBitmap& bitmap = *frame.FrameBitmap();
            const int bits = PixelBitsForDepth(depth);
            EXPECT_EQ(bitmap.PixelBits(), bits) << what;
            EXPECT_EQ(bitmap.Stride(), int(RasterStride(uint64_t(width), uint64_t(bits)))) << what;
            EXPECT_EQ(bitmap.Palette()->Colors.size(), size_t(1) << bits) << what;
            const std::vector<Rgb> table = Palette(1 << depth);
            for (size_t i = 0; i < bitmap.Palette()->Colors.size(); ++i) {
                const TColor want = i < table.size() ? RGBToColor(table[i].R, table[i].G, table[i].B) : clGray;
                EXPECT_EQ(bitmap.Palette()->Colors[i], want) << what << ": palette entry " << i;
            }
            EXPECT_EQ(bitmap.HandleType(), depth == 1 ? bmDIB : bmDDB) << what << ": monochrome stays a DIB";
        }
    }
    // 16 colours, 10 pixels wide: 4 bits, 16 palette entries, 8-byte rows.
    EXPECT_EQ(RasterStride(10, uint64_t(PixelBitsForDepth(4))), 8u);
    for (int bad : {0, 9, -1}) {
        try {
            PixelBitsForDepth(bad);
            FAIL() << bad;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), "Wrong number of colors; must be a power of 2");
        }
    }
}

TEST(GifBitmap, LongStringsFullTablesAndRowEnds) {
    // Rasters that exercise the whole dictionary: long runs whose strings
    // cross row ends, noise that fills the table (with and without a clear
    // when full), odd widths, interlacing, codes of every width up to 12.
    struct Case {
        std::string Name;
        int Width, Height, Colors;
        Bytes Indices;
        bool Interlaced = false;
        bool Deferred = false;
    };
    std::vector<Case> cases;
    Bytes runs;
    for (int i = 0; i < 37 * 300; ++i)
        runs.push_back(uint8_t((i / 500) % 3));
    cases.push_back({"runs across rows, 4 bits", 37, 300, 4, runs});
    cases.push_back({"runs across rows, 8 bits", 37, 300, 256, runs});
    cases.push_back({"runs across rows, 1 bit", 37, 300, 2, Bytes(runs.size(), 1)});
    cases.push_back({"one colour, rows of 9", 9, 200, 256, Bytes(9 * 200, 5)});
    cases.push_back({"runs interlaced", 37, 300, 4, runs, true});
    cases.push_back({"noise 256", 203, 151, 256, Noise(203 * 151, 256, 11)});
    cases.push_back({"noise deferred clear", 203, 151, 256, Noise(203 * 151, 256, 12), false, true});
    cases.push_back({"noise 2 colours deferred", 301, 97, 2, Noise(301 * 97, 2, 13), true, true});
    Bytes gradient;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 333; ++x)
            gradient.push_back(uint8_t((x / 3 + y / 5) % 64));
    cases.push_back({"gradient 64", 333, 120, 64, gradient});
    for (const Case& c : cases) {
        GifWriter w;
        w.Header("89a").Screen(uint16_t(c.Width), uint16_t(c.Height), Palette(c.Colors));
        ImageSpec spec;
        spec.Width = uint16_t(c.Width);
        spec.Height = uint16_t(c.Height);
        spec.Indices = c.Indices;
        spec.Interlaced = c.Interlaced;
        spec.Lzw.DeferredClear = c.Deferred;
        w.Image(spec);
        auto image = Load(w.Trailer().Finish());
        ExpectPixels(*image->FrameAt(0), c.Indices, c.Width, c.Name);
        EXPECT_FALSE(image->FrameAt(0)->IsCorrupted()) << c.Name;
    }
}

TEST(GifBitmap, CachingRebuildingAndFailures) {
    // No encoded data: an empty bitmap, sizes 0 without building anything.
    TJvGIFFrame bare(nullptr);
    EXPECT_EQ(bare.FrameWidth(), 0);
    EXPECT_EQ(bare.CachedBitmap(), nullptr);
    EXPECT_TRUE(bare.FrameBitmap()->Empty());

    // A damaged raster still gives a bitmap; the mark stays through rebuilds.
    GifWriter w;
    w.Header("89a").Screen(16, 16, Palette(16));
    ImageSpec spec = NoiseImage(16, 16, 16, 3);
    spec.TruncateData = 40;
    w.Image(spec);
    auto image = Load(w.Trailer().Finish());
    TJvGIFFrame& frame = *image->FrameAt(0);
    EXPECT_TRUE(frame.IsCorrupted());
    TBitmap* first = frame.FrameBitmap();
    EXPECT_EQ(first->Width(), 16);
    EXPECT_EQ(first->PixelIndex(0, 0), spec.Indices[0]) << "what was decoded stays";
    EXPECT_EQ(first->PixelIndex(15, 15), 0u) << "index 0 where decoding did not reach";
    EXPECT_EQ(frame.FrameBitmap(), first) << "cached";
    first->Assign(nullptr);
    TBitmap* rebuilt = frame.FrameBitmap();
    EXPECT_FALSE(rebuilt->Empty()) << "an emptied bitmap is decoded again";
    EXPECT_TRUE(frame.IsCorrupted());
    // The reader's mark (a last sub-block cut short after every pixel) stays
    // once the bitmap is built, though the decoder finds nothing amiss.
    GifWriter cut;
    cut.Header("89a").Screen(16, 16, Palette(16));
    ImageSpec whole = NoiseImage(16, 16, 16, 4);
    whole.Terminator = false;
    auto marked = Load(cut.Image(whole).Raw({40, 1}).Finish());
    ExpectPixels(*marked->FrameAt(0), whole.Indices, 16, "last sub-block cut short");
    EXPECT_TRUE(marked->FrameAt(0)->IsCorrupted()) << "last sub-block cut short: the mark is lost";

    // A decode error leaves the bitmap empty and the mark alone; the next
    // request fails the same way.
    TJvGIFFrame& broken = frame;
    broken.SharedData()->EncodedData->Memory()[0] = 12; // code size out of range: tolerated
    broken.FreshBitmap();
    EXPECT_NO_THROW(broken.FrameBitmap());
    broken.SharedData()->PixelDepth = 0;
    broken.FreshBitmap();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(broken.FrameBitmap(), EInvalidGraphicOperation) << attempt;
        EXPECT_TRUE(broken.CachedBitmap()->Empty()) << attempt;
    }

    // Progress reaches the image's listener with the image as sender.
    auto listened = Load(Animation());
    std::vector<int> stages;
    listened->OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                               const std::string&) {
        EXPECT_EQ(sender, listened.get());
        EXPECT_FALSE(redraw);
        EXPECT_EQ(r, TRect{});
        EXPECT_LE(percent, 100);
        stages.push_back(stage);
    };
    listened->FrameAt(2)->FrameBitmap();
    ASSERT_GE(stages.size(), 3u);
    EXPECT_EQ(stages.front(), psStarting);
    EXPECT_EQ(stages[1], psRunning);
    EXPECT_EQ(stages.back(), psEnding);
}

TEST(GifBitmap, DecodedFramesShareOneBudget) {
    GifWriter w;
    w.Header("89a").Screen(1024, 256, Palette(256));
    const ImageSpec spec = NoiseImage(1024, 256, 256, 5);
    for (int i = 0; i < 5; ++i)
        w.Image(spec);
    const Bytes bytes = w.Trailer().Finish();
    TJvGIFImage image;
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    image.LoadFromStream(s);
    // 256 KiB of pixels per frame, and on Windows their copy at the display's depth.
    const uint64_t frame = image.DecodedPixelBytes();
#ifdef _WIN32
    EXPECT_GT(frame, uint64_t(256) << 10) << "the display's copy of the frame counts";
#else
    EXPECT_EQ(frame, uint64_t(256) << 10);
#endif
    image.SetPixelBudget(4 * frame);
    for (int i = 1; i < 4; ++i)
        EXPECT_NO_THROW(image.FrameAt(i)->FrameBitmap()) << i;
    EXPECT_EQ(image.DecodedPixelBytes(), 4 * frame);
    try {
        image.FrameAt(4)->FrameBitmap();
        FAIL() << "the fifth frame passes the budget";
    } catch (const EOutOfMemory& e) {
        const std::string start = "Not enough memory for a GIF frame of 1024 x 256 pixels: the decoded frames of one "
                                  "image are limited to ";
        EXPECT_EQ(e.Message().substr(0, start.size()), start);
#ifndef _WIN32
        EXPECT_EQ(e.Message().substr(start.size()), "1 MiB");
#endif
    }
    // A budget lowered below what the frames already hold refuses the next one.
    image.SetPixelBudget(2 * frame);
    EXPECT_THROW(image.FrameAt(4)->FrameBitmap(), EOutOfMemory) << "budget below what is held";
    image.SetPixelBudget(4 * frame);
    EXPECT_TRUE(image.FrameAt(4)->CachedBitmap()->Empty());
    // A bitmap let go returns its share.
    image.FrameAt(1)->FreshBitmap();
    EXPECT_NO_THROW(image.FrameAt(4)->FrameBitmap());
    ExpectPixels(*image.FrameAt(4), spec.Indices, 1024, "frame 4 after frame 1 let go");
    image.Assign(nullptr);
    EXPECT_EQ(image.DecodedPixelBytes(), 0u);
}
