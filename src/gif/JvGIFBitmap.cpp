// Frame bitmaps: a frame's raster decoded straight into the pixel rows of an
// in-memory BMP stream, which a new framework bitmap then loads.

#include "gif/JvGIF.h"
#include "gif/JvGIFDecoder.h"
#include "rtl/Errors.h"
#include "rtl/LittleEndian.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t FileHeaderSize = 14;
constexpr uint32_t InfoHeaderSize = 40;
// A frame's pixel block above this size is refused with EOutOfMemory: a few
// bytes of GIF can declare 65535 x 65535 pixels.
constexpr uint64_t MaxFramePixelBytes = uint64_t(256) << 20;

std::string BudgetText(uint64_t bytes) {
    if (bytes != 0 && bytes % (uint64_t(1) << 30) == 0)
        return Format("%llu GiB", static_cast<unsigned long long>(bytes >> 30));
    if (bytes != 0 && bytes % (uint64_t(1) << 20) == 0)
        return Format("%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    return Format("%llu bytes", static_cast<unsigned long long>(bytes));
}

} // namespace

int PixelBitsForDepth(int pixelDepth) {
    if (pixelDepth == 1)
        return 1;
    if (pixelDepth >= 2 && pixelDepth <= 4)
        return 4;
    if (pixelDepth >= 5 && pixelDepth <= 8)
        return 8;
    throw EInvalidGraphicOperation(SWrongGIFColors);
}

void FillPaletteQuads(const TGIFColors& colors, uint8_t* quads, uint32_t entries) {
    const uint32_t count = uint32_t(std::clamp(colors.Count, 0, int32_t(entries)));
    const uint8_t* rgb = &colors.Entries[0][0];
    // Four bytes read at a time (red, green, blue, the next red) reversed give
    // blue, green, red, 0; the last entry has no next byte to read.
    static_assert(std::endian::native == std::endian::little, "quads are stored in the host's byte order");
    const uint32_t whole = std::min<uint32_t>(count, 255);
    for (uint32_t i = 0; i < whole; ++i) {
        uint32_t triple;
        std::memcpy(&triple, rgb + 3 * i, 4);
        const uint32_t quad = __builtin_bswap32(triple) >> 8;
        std::memcpy(quads + 4 * i, &quad, 4);
    }
    for (uint32_t i = whole; i < count; ++i)
        PutLE32(quads + 4 * i, uint32_t(rgb[3 * i + 2]) | uint32_t(rgb[3 * i + 1]) << 8 | uint32_t(rgb[3 * i]) << 16);
    std::memset(quads + 4 * count, 128, 4 * size_t(entries - count));
}

std::shared_ptr<const TPalette> BitmapPalette(const std::shared_ptr<TGIFColorTable>& table, int pixelBits) {
    static const auto none = NewColorTable();
    const std::shared_ptr<TGIFColorTable>& from = table ? table : none;
    TGIFColorTable* made = from.get();
    std::shared_ptr<TGIFColorTable> apart;
    if (made->PaletteBits != 0 && made->PaletteBits != pixelBits) {
        // Made for other bitmaps already: this one gets a palette of its own.
        apart = NewColorTable();
        apart->Colors = from->Colors;
        made = apart.get();
    }
    if (made->PaletteBits == 0) {
        // The BMP palette's entries as colour values: the table's colours,
        // grey 128 beyond its count.
        const uint32_t entries = 1u << pixelBits;
        const TGIFColors& colors = made->Colors;
        const uint32_t count = uint32_t(std::clamp(colors.Count, 0, int32_t(entries)));
        made->Palette.Colors.SetCount(entries);
        TColor* out = made->Palette.Colors.begin();
        // A colour value is red, green, blue in its low three bytes: two
        // entries from one eight-byte read at a time (the last two entries
        // have no eight bytes left to read).
        const uint8_t* rgb = &colors.Entries[0][0];
        uint32_t i = 0;
        for (; i + 2 <= count && i + 2 < 256; i += 2) {
            uint64_t eight;
            std::memcpy(&eight, rgb + 3 * i, 8);
            const uint64_t two = (eight & 0xFFFFFF) | (eight >> 24 & 0xFFFFFF) << 32;
            std::memcpy(out + i, &two, 8);
        }
        for (; i < count; ++i)
            out[i] = TripletToColor(colors.Entries[i]);
        std::fill(out + count, out + entries, RGBToColor(128, 128, 128));
        made->PaletteBits = pixelBits;
    }
    return std::shared_ptr<const TPalette>(apart ? apart : from, &made->Palette);
}

TJvGIFFrame::TPixelLayout TJvGIFFrame::PixelLayout() const {
    const TGIFItem& item = *SharedData_;
    if (!item.EncodedData)
        throw EReadError(SReadError);
    TPixelLayout layout;
    layout.Bits = PixelBitsForDepth(item.PixelDepth);
    layout.Width = item.RasterSize.X;
    layout.Height = item.RasterSize.Y;
    if (layout.Width < 0 || layout.Height < 0)
        throw EInvalidGraphicOperation(Format("Invalid GIF frame size %d x %d", layout.Width, layout.Height));
    layout.Bytes = RasterStride(uint64_t(layout.Width), uint64_t(layout.Bits)) * uint64_t(layout.Height);
    if (layout.Bytes > MaxFramePixelBytes)
        throw EOutOfMemory(
            Format("Not enough memory for a GIF frame of %d x %d pixels", layout.Width, layout.Height));
    if (const TJvGIFImage* owner = OwnerImage_) {
        const uint64_t budget = owner->PixelBudget();
        const uint64_t used = owner->DecodedPixelBytes();
        const uint64_t held =
            HeldPixelBytes(layout.Width, layout.Height, layout.Bits, FitsScreen(layout.Width, layout.Height));
        if (used > budget || held > budget - used)
            throw EOutOfMemory(Format("Not enough memory for a GIF frame of %d x %d pixels: the decoded frames of "
                                      "one image are limited to %s",
                                      layout.Width, layout.Height, BudgetText(budget).c_str()));
    }
    return layout;
}

void TJvGIFFrame::DecodePixels(const TPixelLayout& layout, uint8_t* pixels) {
    TGIFItem& item = *SharedData_;
    bool corrupt = false;
    TDecodeProgress report;
    TJvGIFImage* owner = OwnerImage_;
    if (owner && owner->OnProgress)
        report = [owner](TProgressStage stage, uint8_t percent, const std::string& message) {
            owner->NotifyProgress(stage, percent, message);
        };
    TRasterDestination destination;
    destination.PixelsPerRow = layout.Width;
    destination.RowCount = layout.Height;
    destination.PixelBits = layout.Bits;
    destination.Pixels = pixels;
    item.EncodedData->SetPosition(0);
    DecodeFrameRaster(*item.EncodedData, destination, IsInterlaced_, AcceptCorruptFrames, item.PixelDepth, corrupt,
                      report ? &report : nullptr);
    IsCorrupted_ = IsCorrupted_ || corrupt;
}

void TJvGIFFrame::BuildBitmapStream(TMemoryStream& target) {
    const TPixelLayout layout = PixelLayout();
    const uint32_t paletteEntries = 1u << layout.Bits;
    const uint32_t pixelOffset = FileHeaderSize + InfoHeaderSize + 4 * paletteEntries;
    target.SetSize(0);
    target.SetSize(int64_t(pixelOffset) + int64_t(layout.Bytes));
    target.SetPosition(0);
    WriteBitmapHeaders(target, layout.Width, layout.Height, layout.Bits, paletteEntries, uint32_t(layout.Bytes));
    FillPaletteQuads(SharedData_->FrameColors(), target.Memory() + FileHeaderSize + InfoHeaderSize, paletteEntries);
    try {
        DecodePixels(layout, target.Memory() + pixelOffset);
    } catch (...) {
        target.SetSize(pixelOffset);
        throw;
    }
    target.SetPosition(0);
}

uint64_t TJvGIFFrame::HeldPixelBytes(int width, int height, int pixelBits, bool gdiCopy) {
    return RasterStride(uint64_t(width), uint64_t(pixelBits)) * uint64_t(height) +
           (gdiCopy ? TBitmap::DeviceCopyBytes(width, height, pixelBits) : 0);
}

bool TJvGIFFrame::FitsScreen(int width, int height) const {
    const TJvGIFImage* owner = OwnerImage_;
    return !owner || uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0)) <=
                         uint64_t(owner->LogicalWidth_) * uint64_t(owner->LogicalHeight_);
}

TBitmap* TJvGIFFrame::FrameBitmap() {
    if (CachedBitmap_ && !CachedBitmap_->Empty())
        return &*CachedBitmap_;
    FreshBitmap();
    if (!SharedData_->EncodedData)
        return &*CachedBitmap_;
    // The bitmap takes what the frame's BMP stream would give it: the pixel
    // rows decoded straight into its own block, not zero-filled first (the
    // decoder writes every byte), and the palette made once per colour table.
    const TPixelLayout layout = PixelLayout();
    std::shared_ptr<uint8_t[]> pixels =
        OwnerImage_ ? OwnerImage_->FramePixels(*this, layout.Bytes) : TBitmap::NewPixels(size_t(layout.Bytes));
    DecodePixels(layout, pixels.get());
    CachedBitmap_->AdoptPixels(layout.Width, layout.Height, layout.Bits, std::move(pixels),
                               BitmapPalette(SharedData_->ColorTable, layout.Bits));
    TBitmap& bitmap = *CachedBitmap_;
    const bool fits = FitsScreen(bitmap.Width(), bitmap.Height());
    ClaimPixelBytes(HeldPixelBytes(bitmap.Width(), bitmap.Height(), bitmap.PixelBits(), fits));
    // The bitmap knows its key: a black-and-white frame is keyed on it, not on white.
    if (KeyColor_ != clNone)
        bitmap.SetTransparentColor(KeyColor_);
    if (fits && !bitmap.Monochrome())
        bitmap.SetHandleType(bmDDB);
    return &bitmap;
}

// The frames of one load get their pixels from one block: one allocation
// instead of one per frame, and one block that the C library keeps between
// loads where it gives hundreds of small ones back to the system every time.
// It is laid out in frame order when the first frame needs pixels, for the
// frames whose pixels fit the budget and the block's limit; only the pages a
// decoded frame writes are touched.
constexpr uint64_t FrameBlockAlignment = 16;
constexpr uint64_t MaxFrameBlockBytes = uint64_t(64) << 20;

void TJvGIFImage::LayOutFrameBlock() {
    FrameBlockLaidOut_ = true;
    uint64_t total = 0;
    // What the frames with a place would hold against the budget, GDI
    // copies included: a frame beyond it gets no place it could not use.
    uint64_t held = DecodedPixelBytes_;
    for (int i = 0; i < FrameCount(); ++i) {
        TJvGIFFrame& frame = *FrameAt(i);
        frame.BlockBytes_ = 0;
        if (!frame.SharedData_->EncodedData)
            continue;
        const TGIFItem& item = *frame.SharedData_;
        if (item.PixelDepth < 1 || item.PixelDepth > 8 || item.RasterSize.X < 0 || item.RasterSize.Y < 0)
            continue;
        const int bits = PixelBitsForDepth(item.PixelDepth);
        const uint64_t bytes = RasterStride(uint64_t(item.RasterSize.X), uint64_t(bits)) * uint64_t(item.RasterSize.Y);
        if (bytes == 0 || bytes > MaxFrameBlockBytes - std::min(total, MaxFrameBlockBytes))
            continue;
        const bool fits = frame.FitsScreen(item.RasterSize.X, item.RasterSize.Y);
        const uint64_t frameHeld = TJvGIFFrame::HeldPixelBytes(item.RasterSize.X, item.RasterSize.Y, bits, fits);
        if (frameHeld > PixelBudget_ - std::min(held, PixelBudget_))
            continue;
        held += frameHeld;
        frame.BlockOffset_ = uint32_t(total);
        frame.BlockBytes_ = uint32_t(bytes);
        total += (bytes + FrameBlockAlignment - 1) / FrameBlockAlignment * FrameBlockAlignment;
    }
    if (total == 0)
        return;
    try {
        FrameBlock_ = TBitmap::NewPixels(size_t(total));
    } catch (const EOutOfMemory&) {
        // Each frame then asks for its own, and fails alone if it must.
    }
}

std::shared_ptr<uint8_t[]> TJvGIFImage::FramePixels(TJvGIFFrame& frame, uint64_t bytes) {
    if (!FrameBlockLaidOut_)
        LayOutFrameBlock();
    if (FrameBlock_ && frame.BlockBytes_ == bytes && bytes != 0)
        return std::shared_ptr<uint8_t[]>(FrameBlock_, FrameBlock_.get() + frame.BlockOffset_);
    return TBitmap::NewPixels(size_t(bytes));
}
