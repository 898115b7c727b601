// The runtime's persistent, graphic and shared-holder bases and the
// portable bitmap core.

#include "rtl/Bitmap.h"
#include "rtl/Errors.h"
#include "rtl/Graphic.h"
#include "rtl/Streams.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, size_t at, uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A BMP file image: headers, palette quads, rows as given.
Bytes Bmp(int32_t width, int32_t height, int bits, const std::vector<uint32_t>& palette, const Bytes& rows,
          uint32_t colorsUsed = 0) {
    const uint32_t offset = 54 + 4 * uint32_t(palette.size());
    Bytes b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put(b, 2, offset + uint32_t(rows.size()), 4);
    Put(b, 10, offset, 4);
    Put(b, 14, 40, 4);
    Put(b, 18, uint32_t(width), 4);
    Put(b, 22, uint32_t(height), 4);
    Put(b, 26, 1, 2);
    Put(b, 28, uint32_t(bits), 2);
    Put(b, 46, colorsUsed, 4);
    for (size_t i = 0; i < palette.size(); ++i)
        Put(b, 54 + 4 * i, palette[i], 4); // 0x00RRGGBB as blue, green, red, 0
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

void LoadInto(TBitmap& bitmap, const Bytes& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    bitmap.LoadFromStream(s);
}

class Holder : public TSharedImage {
public:
    explicit Holder(std::vector<std::string>& log) : Log(log) {}
    ~Holder() override { Log.push_back("destroyed"); }

protected:
    void FreeHandle() override { Log.push_back("free handle"); }

private:
    std::vector<std::string>& Log;
};

} // namespace

TEST(RtlBases, SharedHoldersCountTheirReferences) {
    std::vector<std::string> log;
    auto* holder = new Holder(log);
    EXPECT_EQ(holder->RefCount(), 0);
    {
        TSharedRef<Holder> a(holder);
        TSharedRef<Holder> b;
        b.Reset(holder);
        EXPECT_EQ(holder->RefCount(), 2);
        a.Reset(holder); // the same holder again: no change
        EXPECT_EQ(holder->RefCount(), 2);
        b.Reset(nullptr);
        EXPECT_EQ(holder->RefCount(), 1);
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (std::vector<std::string>{"free handle", "destroyed"}));
    TSharedImage::Release(nullptr);
}

TEST(RtlBases, AssignFallbacksAndGraphicNotifications) {
    TBitmap bitmap;
    int changes = 0;
    bitmap.OnChange = [&](TObject*) { ++changes; };
    struct Plain : TPersistent {
        const char* ClassName() const override { return "TPlain"; }
    } plain;
    try {
        bitmap.Assign(&plain);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TPlain to a TBitmap");
    }
    try {
        plain.Assign(nullptr);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a nil to a TPlain");
    }
    EXPECT_EQ(changes, 0);
    bitmap.SetTransparent(true);
    bitmap.SetTransparent(true);
    EXPECT_EQ(changes, 1) << "only a real change notifies";
    EXPECT_TRUE(bitmap.Modified());
}

// A handler is replaced, taken out and put back (as the animator mutes its
// image), and cleared by nullptr or an empty function: a cleared one is
// never called.
TEST(RtlBases, ChangeHandlersAreReplacedMovedAndCleared) {
    TBitmap bitmap;
    std::string log;
    bitmap.OnChange = [&](TObject*) { log += "a"; };
    bitmap.OnChange = [&](TObject*) { log += "b"; };
    bitmap.SetTransparent(true);
    {
        auto saved = std::exchange(bitmap.OnChange, [&](TObject*) { log += "m"; });
        bitmap.SetTransparent(false);
        bitmap.OnChange = std::move(saved);
    }
    bitmap.SetTransparent(true);
    EXPECT_EQ(log, "bmb");
    bitmap.OnChange = nullptr;
    EXPECT_FALSE(bitmap.OnChange);
    bitmap.SetTransparent(false);
    bitmap.OnChange = TObjectEvent();
    EXPECT_FALSE(bitmap.OnChange) << "an empty function sets no handler";
    bitmap.SetTransparent(true);
    EXPECT_EQ(log, "bmb");
}

TEST(RtlBitmap, LoadsBmpStreams) {
    // 8 bits, 3 × 2, bottom-up: stored row 0 is image row 1.
    TBitmap b8;
    LoadInto(b8, Bmp(3, 2, 8, {0x112233, 0x445566, 0x778899}, {2, 1, 0, 0, /**/ 0, 1, 2, 0}, 3));
    EXPECT_EQ(b8.Width(), 3);
    EXPECT_EQ(b8.Height(), 2);
    EXPECT_EQ(b8.PixelBits(), 8);
    EXPECT_FALSE(b8.Monochrome());
    EXPECT_EQ(b8.Stride(), 4);
    ASSERT_NE(b8.Palette(), nullptr);
    EXPECT_EQ(b8.Palette()->Colors.size(), 3u) << "colours used";
    EXPECT_EQ(b8.PixelColor(0, 0), RGBToColor(0x11, 0x22, 0x33));
    EXPECT_EQ(b8.PixelColor(0, 1), RGBToColor(0x77, 0x88, 0x99));
    EXPECT_EQ(b8.TransparentColor(), RGBToColor(0x77, 0x88, 0x99)) << "default: the bottom-left pixel";
    b8.SetTransparentColor(clRed);
    EXPECT_EQ(b8.TransparentColor(), clRed);

    // 1 bit: monochrome; top-down rows (negative height) are turned bottom-up.
    TBitmap b1;
    LoadInto(b1, Bmp(9, -2, 1, {0x000000, 0xFFFFFF}, {0x80, 0x80, 0, 0, /**/ 0x7F, 0x00, 0, 0}));
    EXPECT_TRUE(b1.Monochrome());
    EXPECT_EQ(b1.Height(), 2);
    EXPECT_EQ(b1.PixelColor(0, 0), clWhite);
    EXPECT_EQ(b1.PixelColor(8, 0), clWhite);
    EXPECT_EQ(b1.PixelColor(1, 0), clBlack);
    EXPECT_EQ(b1.PixelColor(1, 1), clWhite);
    EXPECT_EQ(b1.ScanLine(1)[0], 0x7F);

    // 24 bits: no palette; blue, green, red per pixel.
    TBitmap b24;
    LoadInto(b24, Bmp(1, 1, 24, {}, {0x30, 0x20, 0x10, 0}));
    EXPECT_EQ(b24.Palette(), nullptr);
    EXPECT_EQ(b24.PixelColor(0, 0), RGBToColor(0x10, 0x20, 0x30));

    // Save and load again: the same pixels; equality compares them.
    TMemoryStream saved;
    b8.SaveToStream(saved);
    TBitmap again;
    saved.SetPosition(0);
    again.LoadFromStream(saved);
    EXPECT_EQ(again.PixelColor(2, 0), b8.PixelColor(2, 0));
    EXPECT_TRUE(again.Equals(&b8));
    EXPECT_FALSE(again.Equals(&b24));
    TBitmap copy;
    copy.Assign(&b8);
    EXPECT_EQ(copy.PixelColor(1, 1), b8.PixelColor(1, 1));
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
}

// A true-colour format set on a bitmap holds through resizes; other formats
// are refused without changing the bitmap.
TEST(RtlBitmap, KeepsTheTrueColourFormatItIsGiven) {
    TBitmap bitmap;
    bitmap.SetPixelBits(32);
    bitmap.SetSize(3, 2);
    EXPECT_EQ(bitmap.PixelBits(), 32);
    EXPECT_EQ(bitmap.Stride(), 12);
    EXPECT_EQ(bitmap.PixelColor(2, 1), clBlack) << "a new size is cleared";
    bitmap.SetPixelBits(24);
    EXPECT_EQ(bitmap.Stride(), 12) << "3 x 3 bytes, padded to 4";
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_THROW(bitmap.SetPixelBits(8), EInvalidGraphicOperation);
    EXPECT_EQ(bitmap.PixelBits(), 24);
}

TEST(RtlBitmap, RejectsInvalidStreams) {
    const Bytes good = Bmp(2, 2, 8, {0, 0}, {0, 1, 0, 0, 1, 0, 0, 0});
    auto broken = [&](size_t at, uint32_t v, int size) {
        Bytes b = good;
        Put(b, at, v, size);
        return b;
    };
    const std::vector<std::pair<Bytes, const char*>> cases{
        {Bytes(good.begin(), good.begin() + 20), "short header"},
        {broken(0, 'X', 1), "signature"},
        {broken(28, 16, 2), "16 bits per pixel"},
        {broken(30, 1, 4), "compressed"},
        {broken(26, 2, 2), "two planes"},
        {broken(22, 3, 4), "rows beyond the data"},
        {broken(18, 0x80000000u, 4), "negative width"},
    };
    for (const auto& [bytes, what] : cases) {
        TBitmap b;
        try {
            LoadInto(b, bytes);
            ADD_FAILURE() << what << ": loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), "Bitmap image is not valid") << what;
        }
        EXPECT_TRUE(b.Empty()) << what;
    }
    // Declared sizes beyond what is sane fail without allocating.
    TBitmap huge;
    EXPECT_THROW(LoadInto(huge, Bmp(100000, 100000, 8, std::vector<uint32_t>(256), {})), EOutOfMemory);
    EXPECT_THROW(huge.ScanLine(0), EInvalidGraphicOperation);
}
