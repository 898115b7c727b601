#pragma once
// The framework bitmap's portable core: a device-independent bitmap loaded
// from a BMP stream, with its size, pixel format and palette. The Windows side
// (GDI bitmap, canvas, the display's device-dependent form, palette handle,
// drawing) is declared here and defined in graphics/Bitmap_win.cpp; natively
// the requested handle type is only recorded.

#include "rtl/Graphic.h"
#include "rtl/Streams.h"

#include <cstdint>
#include <memory>
#include <vector>

enum TBitmapHandleType : uint8_t { bmDIB, bmDDB };

struct TBmpLayout;
#ifdef _WIN32
struct HBITMAP__;
struct HDC__;
struct TBitmapGdi;
struct TOpaqueRuns;
#endif

// Writes the 14-byte file header and the 40-byte info header of an
// uncompressed bottom-up BMP whose palette of paletteEntries quads follows.
void WriteBitmapHeaders(TStream& target, int32_t width, int32_t height, int pixelBits,
                        uint32_t paletteEntries, uint32_t imageSize);

class TBitmap : public TGraphic {
public:
    TBitmap() = default;
#ifdef _WIN32
    ~TBitmap() override;
#endif
    const char* ClassName() const override { return "TBitmap"; }

    // From another bitmap: a copy of its pixels, palette and settings; from
    // none: an empty bitmap; otherwise the framework's assign.
    void Assign(TPersistent* source) override;

    bool Empty() override { return Width_ == 0 || Height_ == 0; }
    int Width() override { return Width_; }
    int Height() override { return Height_; }
    // Resizing keeps the pixel format and clears the pixels.
    void SetWidth(int value) override { SetSize(value, Height_); }
    void SetHeight(int value) override { SetSize(Width_, value); }
    void SetSize(int width, int height);
    const TPalette* Palette() override { return HasPalette() ? Palette_.get() : nullptr; }

    // Bits per pixel of the stored pixels: 1, 4, 8, 24 or 32 (24 for a new bitmap).
    int PixelBits() const { return PixelBits_; }
    // True colour of 24 or 32 bits per pixel (other values raise
    // EInvalidGraphicOperation); a change clears the pixels, as a resize does.
    void SetPixelBits(int value);
    // One plane of 1 bit per pixel.
    bool Monochrome() const { return PixelBits_ == 1; }
    TBitmapHandleType HandleType() const { return HandleType_; }
    // bmDDB on Windows: the GDI bitmap takes the display's format at once.
    void SetHandleType(TBitmapHandleType value);

    // The colour drawn as transparent; clDefault (the default) means the
    // colour of the bottom-left pixel.
    TColor TransparentColor();
    void SetTransparentColor(TColor value) { TransparentColor_ = value; }
    // A colour was set (a frame's bitmap carries its frame's key colour).
    bool HasTransparentColor() const { return TransparentColor_ != clDefault; }

    // Bytes per stored row (padded to 4) and the pixels of image row y (0 is the top).
    int Stride() const { return Stride_; }
    const uint8_t* ScanLine(int y) const;
    // Colour of the pixel at (x, y), through the palette for indexed formats.
    // Palette index of (x, y) in a bitmap of 1, 4 or 8 bits per pixel.
    unsigned PixelIndex(int x, int y) const;
    TColor PixelColor(int x, int y) const;

    // Reads a BMP file image (uncompressed, 1, 4, 8, 24 or 32 bits per pixel)
    // from the stream's position; anything else raises EInvalidGraphic.
    void LoadFromStream(TStream& stream) override;
    // The same from a memory stream that is not needed afterwards: its bytes
    // become the bitmap's without a copy, and the stream is left empty.
    void LoadFromStream(TMemoryStream&& stream);
    // Takes pixels of 1, 4 or 8 bits in stored rows (bottom-up, each padded to
    // 4 bytes) and their palette, as a BMP stream with those rows and that
    // palette would give them; both may be shared with their owner, which
    // must not change them afterwards.
    void AdoptPixels(int width, int height, int pixelBits, std::shared_ptr<const uint8_t[]> pixels,
                     std::shared_ptr<const TPalette> palette);
    // Uninitialised room for pixels, held as a bitmap holds its pixels;
    // failure raises EOutOfMemory.
    static std::shared_ptr<uint8_t[]> NewPixels(size_t bytes);
    void SaveToStream(TStream& stream) override;

#ifdef _WIN32
    // Bytes of the GDI bitmap that a bitmap switched to the display's
    // device-dependent form holds beside its portable pixels: of the
    // display's format, or of its own when monochrome.
    static uint64_t DeviceCopyBytes(int width, int height, int pixelBits);
    // The GDI bitmap, made from the pixels when first needed; null while empty.
    // Once it exists it holds the pixels: drawing on the canvas changes them,
    // and the portable reads above copy them back first.
    HBITMAP__* Handle();
    // The GDI bitmap has been made (Handle, or a use of the canvas's DC).
    bool HandleAllocated() const;
    // Copies part of the pixels (as a device-independent bitmap shows them)
    // to (x, y) of dc, without making the GDI bitmap; raises EOutOfResources
    // when GDI cannot.
    void CopyPixelsTo(HDC__* dc, int x, int y, const TRect& part) const;
    // A memory DC with the bitmap (and its palette) selected, made when first
    // used; the framework may take the DC back while the canvas is unlocked.
    TCanvas& Canvas();
    HPALETTE__* PaletteHandle() override;
    // Stretched into rect; leaves TransparentColor out while Transparent is on.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    // The colour nearest to color that the bitmap's DC can show.
    TColor NearestColor(TColor color);
    // What keyed drawing last found in the pixels, or null; dropped when the
    // pixels change. Drawing on the canvas's DC directly must therefore call
    // the canvas's Changing first, as its own drawing methods do.
    TOpaqueRuns* KeptOpaqueRuns();
    void KeepOpaqueRuns(std::unique_ptr<TOpaqueRuns> runs);
#else
    static uint64_t DeviceCopyBytes(int, int, int) { return 0; }
    TColor NearestColor(TColor color) { return color; }
#endif

private:
    bool HasPalette() const { return PixelBits_ <= 8 && Palette_ && !Palette_->Colors.empty(); }
#ifdef _WIN32
    // The Windows side keeps the GDI bitmap in step with the portable pixels.
    void PixelsNeeded() const;
    void PixelsChanging();
    TBitmapGdi* Gdi_ = nullptr;
#else
    void PixelsNeeded() const {}
    void PixelsChanging() {}
#endif
    // Takes a BMP file image that starts at start in bytes and was checked.
    void Adopt(std::vector<uint8_t> bytes, size_t start, const TBmpLayout& layout);
    // Stride_ * Height_ bytes.
    size_t PixelBytes() const { return size_t(Stride_) * size_t(Height_); }

    // The byte-sized fields first, in what the graphic's flags leave of its
    // last word: every frame of an animation holds a bitmap.
    uint8_t PixelBits_ = 24;
    TBitmapHandleType HandleType_ = bmDIB;
    int Width_ = 0;
    int Height_ = 0;
    int Stride_ = 0;
    TColor TransparentColor_ = clDefault;
    // Shared with other bitmaps and their owners, never changed: a change
    // puts new ones in place.
    std::shared_ptr<const TPalette> Palette_;
    std::shared_ptr<const uint8_t[]> Pixels_; // bottom-up rows, as in a BMP stream
};
