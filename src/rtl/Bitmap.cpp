#include "rtl/Bitmap.h"

#include "rtl/Errors.h"
#include "rtl/LittleEndian.h"
#include "rtl/Streams.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace {

constexpr const char* SInvalidBitmap = "Bitmap image is not valid";
constexpr int FileHeaderSize = 14;
constexpr int InfoHeaderSize = 40;
// Larger pixel blocks are refused instead of attempted.
constexpr uint64_t MaxPixelBytes = uint64_t(1) << 30;

uint64_t StrideFor(uint64_t width, uint64_t bits) { return (width * bits + 31) / 32 * 4; }

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic(SInvalidBitmap); }

} // namespace

std::shared_ptr<uint8_t[]> TBitmap::NewPixels(size_t bytes) {
    try {
        return std::make_shared_for_overwrite<uint8_t[]>(bytes);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(Format("Not enough memory for %llu bytes of pixels", static_cast<unsigned long long>(bytes)));
    }
}

void TBitmap::Assign(TPersistent* source) {
    if (!source) {
        PixelsChanging();
        Width_ = Height_ = Stride_ = 0;
        Pixels_.reset();
        Palette_.reset();
        Changed(this);
        return;
    }
    if (auto* other = dynamic_cast<TBitmap*>(source)) {
        if (other == this)
            return;
        other->PixelsNeeded();
        // The pixels are copied: the source's owner may decode into its own again.
        std::shared_ptr<uint8_t[]> pixels = NewPixels(other->PixelBytes());
        if (other->PixelBytes() != 0)
            std::memcpy(pixels.get(), other->Pixels_.get(), other->PixelBytes());
        PixelsChanging();
        Width_ = other->Width_;
        Height_ = other->Height_;
        PixelBits_ = other->PixelBits_;
        Stride_ = other->Stride_;
        Palette_ = other->Palette_;
        Pixels_ = std::move(pixels);
        HandleType_ = other->HandleType_;
        TransparentColor_ = other->TransparentColor_;
        SetTransparent(other->Transparent());
        Changed(this);
        return;
    }
    TGraphic::Assign(source);
}

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0)
        throw EInvalidGraphic(SInvalidBitmap);
    const uint64_t stride = StrideFor(uint64_t(width), uint64_t(PixelBits_));
    if (stride * uint64_t(height) > MaxPixelBytes)
        throw EOutOfMemory(Format("Not enough memory for a bitmap of %d x %d pixels", width, height));
    std::shared_ptr<uint8_t[]> pixels = NewPixels(static_cast<size_t>(stride * uint64_t(height)));
    std::memset(pixels.get(), 0, static_cast<size_t>(stride * uint64_t(height)));
    PixelsChanging();
    Pixels_ = std::move(pixels);
    Width_ = width;
    Height_ = height;
    Stride_ = int(stride);
    Changed(this);
}

void TBitmap::SetPixelBits(int value) {
    if (value != 24 && value != 32)
        throw EInvalidGraphicOperation("Bitmap pixel format not supported");
    if (value == PixelBits_)
        return;
    const uint8_t oldBits = PixelBits_;
    PixelBits_ = uint8_t(value);
    try {
        SetSize(Width_, Height_);
    } catch (...) {
        PixelBits_ = oldBits;
        throw;
    }
    Palette_.reset();
}

#ifndef _WIN32
void TBitmap::SetHandleType(TBitmapHandleType value) { HandleType_ = value; }
#endif

TColor TBitmap::TransparentColor() {
    if (TransparentColor_ != clDefault)
        return TransparentColor_;
    if (Empty())
        return clDefault;
    return PixelColor(0, Height_ - 1);
}

const uint8_t* TBitmap::ScanLine(int y) const {
    if (y < 0 || y >= Height_)
        throw EInvalidGraphicOperation("Scan line index out of range");
    PixelsNeeded();
    return Pixels_.get() + size_t(Height_ - 1 - y) * size_t(Stride_);
}

unsigned TBitmap::PixelIndex(int x, int y) const {
    if (x < 0 || x >= Width_)
        throw EInvalidGraphicOperation("Scan line index out of range");
    const uint8_t* row = ScanLine(y);
    switch (PixelBits_) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4: return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 15;
    case 8: return row[x];
    default: throw EInvalidGraphicOperation("Bitmap has no palette indices");
    }
}

TColor TBitmap::PixelColor(int x, int y) const {
    if (PixelBits_ > 8) {
        if (x < 0 || x >= Width_)
            throw EInvalidGraphicOperation("Scan line index out of range");
        const uint8_t* row = ScanLine(y);
        if (PixelBits_ == 24)
            return RGBToColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        return RGBToColor(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
    const unsigned index = PixelIndex(x, y);
    return Palette_ && index < Palette_->Colors.size() ? Palette_->Colors[index] : clBlack;
}

// What the headers of a BMP file image say, once checked.
struct TBmpLayout {
    int32_t Width = 0;
    int32_t Height = 0;
    unsigned Bits = 0;
    bool TopDown = false;
    uint32_t PaletteAt = 0;
    uint32_t Colors = 0;
    uint32_t PixelOffset = 0;
    uint64_t Stride = 0;
    uint64_t ImageSize = 0;

    // End of what the bitmap needs, from the file image's start.
    uint64_t End() const { return std::max<uint64_t>(PixelOffset + ImageSize, PaletteAt + 4ull * Colors); }
};

namespace {

// Checks the 54 header bytes against the bytes available from their start.
TBmpLayout ReadLayout(const uint8_t* header, int64_t available) {
    const uint8_t* info = header + FileHeaderSize;
    if (header[0] != 'B' || header[1] != 'M')
        InvalidBitmap();
    TBmpLayout layout;
    layout.PixelOffset = GetLE32(header + 10);
    const uint32_t infoSize = GetLE32(info);
    layout.Width = int32_t(GetLE32(info + 4));
    const int32_t rawHeight = int32_t(GetLE32(info + 8));
    const unsigned planes = GetLE16(info + 12);
    layout.Bits = GetLE16(info + 14);
    const uint32_t compression = GetLE32(info + 16);
    uint32_t colorsUsed = GetLE32(info + 32);
    if (infoSize < InfoHeaderSize || infoSize > available || planes != 1 || compression != 0 || layout.Width < 0 ||
        rawHeight == std::numeric_limits<int32_t>::min())
        InvalidBitmap();
    const unsigned bits = layout.Bits;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        InvalidBitmap();
    layout.TopDown = rawHeight < 0;
    layout.Height = layout.TopDown ? -rawHeight : rawHeight;
    layout.PaletteAt = FileHeaderSize + infoSize;
    if (bits <= 8) {
        const uint32_t full = 1u << bits;
        layout.Colors = colorsUsed == 0 || colorsUsed > full ? full : colorsUsed;
    }
    layout.Stride = StrideFor(uint64_t(layout.Width), bits);
    layout.ImageSize = layout.Stride * uint64_t(layout.Height);
    if (layout.ImageSize > MaxPixelBytes)
        throw EOutOfMemory(
            Format("Not enough memory for a bitmap of %d x %d pixels", layout.Width, layout.Height));
    if (layout.End() > uint64_t(available))
        InvalidBitmap();
    return layout;
}

} // namespace

void TBitmap::Adopt(std::vector<uint8_t> bytes, size_t start, const TBmpLayout& layout) {
    const uint8_t* quads = bytes.data() + start + layout.PaletteAt;
    std::shared_ptr<TPalette> palette;
    if (layout.Colors != 0) {
        palette = std::make_shared<TPalette>();
        palette->Colors.SetCount(layout.Colors);
        const size_t count = palette->Colors.size();
        TColor* colors = palette->Colors.begin();
        // Blue, green, red, reserved: the colour value is the first three reversed.
        size_t i = 0;
        if constexpr (std::endian::native == std::endian::little) {
            // Two at a time: the eight bytes reversed hold both entries' colours,
            // in the wrong order and a byte too high.
            for (; i + 2 <= count; i += 2) {
                uint64_t two;
                std::memcpy(&two, quads + 4 * i, 8);
                two = (std::rotr(__builtin_bswap64(two), 32) >> 8) & 0x00FFFFFF00FFFFFFull;
                std::memcpy(colors + i, &two, 8);
            }
        }
        for (; i < count; ++i)
            colors[i] = __builtin_bswap32(GetLE32(quads + 4 * i)) >> 8;
    }
    const size_t offset = start + layout.PixelOffset;
    if (layout.TopDown) {
        const auto stride = ptrdiff_t(layout.Stride);
        auto rows = bytes.begin() + ptrdiff_t(offset);
        for (int32_t y = 0; y < layout.Height / 2; ++y)
            std::swap_ranges(rows + y * stride, rows + (y + 1) * stride, rows + (layout.Height - 1 - y) * stride);
    }
    // The pixels stay where they are, in the stream's bytes.
    auto held = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
    PixelsChanging();
    Width_ = layout.Width;
    Height_ = layout.Height;
    PixelBits_ = uint8_t(layout.Bits);
    Stride_ = int(layout.Stride);
    Palette_ = std::move(palette);
    Pixels_ = std::shared_ptr<const uint8_t[]>(held, held->data() + offset);
    HandleType_ = bmDIB;
    Changed(this);
}

void TBitmap::AdoptPixels(int width, int height, int pixelBits, std::shared_ptr<const uint8_t[]> pixels,
                          std::shared_ptr<const TPalette> palette) {
    PixelsChanging();
    Width_ = width;
    Height_ = height;
    PixelBits_ = uint8_t(pixelBits);
    Stride_ = int(StrideFor(uint64_t(width), uint64_t(pixelBits)));
    Palette_ = std::move(palette);
    Pixels_ = std::move(pixels);
    HandleType_ = bmDIB;
    Changed(this);
}

void TBitmap::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    const int64_t available = stream.Size() - start;
    uint8_t header[FileHeaderSize + InfoHeaderSize];
    if (available < int64_t(sizeof header))
        InvalidBitmap();
    stream.ReadBuffer(header, sizeof header);
    const TBmpLayout layout = ReadLayout(header, available);
    std::vector<uint8_t> bytes(static_cast<size_t>(layout.End()));
    stream.Seek(start, soBeginning);
    stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    Adopt(std::move(bytes), 0, layout);
}

void TBitmap::LoadFromStream(TMemoryStream&& stream) {
    const int64_t start = stream.Position();
    const int64_t available = stream.Size() - start;
    if (available < FileHeaderSize + InfoHeaderSize)
        InvalidBitmap();
    const TBmpLayout layout = ReadLayout(stream.Memory() + start, available);
    stream.Seek(start + int64_t(layout.End()), soBeginning);
    Adopt(stream.TakeBytes(), size_t(start), layout);
}

void WriteBitmapHeaders(TStream& target, int32_t width, int32_t height, int pixelBits,
                        uint32_t paletteEntries, uint32_t imageSize) {
    const uint32_t offset = FileHeaderSize + InfoHeaderSize + 4 * paletteEntries;
    uint8_t header[FileHeaderSize + InfoHeaderSize] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLE32(header + 2, offset + imageSize);
    PutLE32(header + 10, offset);
    uint8_t* info = header + FileHeaderSize;
    PutLE32(info, InfoHeaderSize);
    PutLE32(info + 4, uint32_t(width));
    PutLE32(info + 8, uint32_t(height));
    PutLE16(info + 12, 1);
    PutLE16(info + 14, uint16_t(pixelBits));
    PutLE32(info + 20, imageSize);
    target.WriteBuffer(header, sizeof header);
}

void TBitmap::SaveToStream(TStream& stream) {
    PixelsNeeded();
    const uint32_t paletteSize = PixelBits_ <= 8 ? 4u << PixelBits_ : 0;
    const auto imageSize = uint32_t(PixelBytes());
    WriteBitmapHeaders(stream, Width_, Height_, PixelBits_, paletteSize / 4, imageSize);
    if (paletteSize) {
        std::vector<uint8_t> quads(paletteSize, 0);
        for (size_t i = 0; Palette_ && i < Palette_->Colors.size() && 4 * i < quads.size(); ++i) {
            quads[4 * i] = BlueOf(Palette_->Colors[i]);
            quads[4 * i + 1] = GreenOf(Palette_->Colors[i]);
            quads[4 * i + 2] = RedOf(Palette_->Colors[i]);
        }
        stream.WriteBuffer(quads.data(), paletteSize);
    }
    if (imageSize != 0)
        stream.WriteBuffer(Pixels_.get(), int64_t(imageSize));
}
