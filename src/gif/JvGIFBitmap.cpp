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

void TJvGIFFrame::BuildBitmapStream(TMemoryStream& target) {
    TGIFItem& item = *SharedData_;
    if (!item.EncodedData)
        throw EReadError(SReadError);
    const int pixelBits = PixelBitsForDepth(item.PixelDepth);
    const int32_t width = item.RasterSize.X;
    const int32_t height = item.RasterSize.Y;
    if (width < 0 || height < 0)
        throw EInvalidGraphicOperation(Format("Invalid GIF frame size %d x %d", width, height));
    const uint64_t stride = RasterStride(uint64_t(width), uint64_t(pixelBits));
    const uint64_t imageSize = stride * uint64_t(height);
    if (imageSize > MaxFramePixelBytes)
        throw EOutOfMemory(Format("Not enough memory for a GIF frame of %d x %d pixels", width, height));
    if (const TJvGIFImage* owner = OwnerImage_) {
        const uint64_t budget = owner->PixelBudget();
        const uint64_t used = owner->DecodedPixelBytes();
        const uint64_t held = HeldPixelBytes(width, height, pixelBits);
        if (used > budget || held > budget - used)
            throw EOutOfMemory(Format("Not enough memory for a GIF frame of %d x %d pixels: the decoded frames of "
                                      "one image are limited to %s",
                                      width, height, BudgetText(budget).c_str()));
    }
    const uint32_t paletteEntries = 1u << pixelBits;
    const uint32_t pixelOffset = FileHeaderSize + InfoHeaderSize + 4 * paletteEntries;

    // The whole stream in one zero-filled block; the headers and the palette
    // are written over its start, the pixel rows decoded in place after them.
    target.SetSize(0);
    target.SetSize(int64_t(pixelOffset) + int64_t(imageSize));
    target.SetPosition(0);
    WriteBitmapHeaders(target, width, height, pixelBits, paletteEntries, uint32_t(imageSize));
    FillPaletteQuads(item.FrameColors, target.Memory() + FileHeaderSize + InfoHeaderSize, paletteEntries);
    target.SetPosition(pixelOffset);
    bool corrupt = false;
    TDecodeProgress report;
    TJvGIFImage* owner = OwnerImage_;
    if (owner && owner->OnProgress)
        report = [owner](TProgressStage stage, uint8_t percent, const std::string& message) {
            owner->NotifyProgress(stage, percent, message);
        };
    TRasterDestination destination;
    destination.PixelsPerRow = width;
    destination.RowCount = height;
    destination.PixelBits = pixelBits;
    destination.Pixels = target.Memory() + pixelOffset;
    try {
        item.EncodedData->SetPosition(0);
        DecodeFrameRaster(*item.EncodedData, destination, IsInterlaced_, AcceptCorruptFrames, item.PixelDepth,
                          corrupt, report ? &report : nullptr);
    } catch (...) {
        target.SetSize(pixelOffset);
        throw;
    }
    IsCorrupted_ = IsCorrupted_ || corrupt;
    target.SetPosition(0);
}

uint64_t TJvGIFFrame::HeldPixelBytes(int width, int height, int pixelBits) {
    return RasterStride(uint64_t(width), uint64_t(pixelBits)) * uint64_t(height) +
           TBitmap::DeviceCopyBytes(width, height, pixelBits);
}

TBitmap* TJvGIFFrame::FrameBitmap() {
    if (CachedBitmap_ && !CachedBitmap_->Empty())
        return CachedBitmap_.get();
    FreshBitmap();
    if (!SharedData_->EncodedData)
        return CachedBitmap_.get();
    TMemoryStream stream;
    BuildBitmapStream(stream);
    // The stream's bytes become the bitmap's: the pixels are not copied again.
    CachedBitmap_->LoadFromStream(std::move(stream));
    TBitmap& bitmap = *CachedBitmap_;
    ClaimPixelBytes(HeldPixelBytes(bitmap.Width(), bitmap.Height(), bitmap.PixelBits()));
    // The bitmap knows its key: a black-and-white frame is keyed on it, not on white.
    if (KeyColor_ != clNone)
        bitmap.SetTransparentColor(KeyColor_);
    if (!bitmap.Monochrome())
        bitmap.SetHandleType(bmDDB);
    return CachedBitmap_.get();
}
