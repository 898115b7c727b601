// The framework bitmap's Windows side: its GDI bitmap, canvas, palette and
// drawing (the portable core is rtl/Bitmap.cpp).

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DrawSource.h"
#include "graphics/KeyedDraw.h"
#include "rtl/Bitmap.h"
#include "rtl/Errors.h"

namespace {

class TBitmapCanvas;

// Bitmap canvases holding a DC. Past a few, the unlocked ones give theirs
// back, so that a thousand frame bitmaps do not hold a thousand DCs. A few
// is enough for a short animation's frames, its composed picture and the
// paint's buffer: making a DC and selecting a frame's bitmap into it costs
// more under Wine than drawing the frame.
constexpr size_t KeptContexts = 32;

TCriticalSection& ContextListLock() {
    static TCriticalSection lock;
    return lock;
}

std::vector<TBitmapCanvas*>& ContextList() {
    static std::vector<TBitmapCanvas*> list;
    return list;
}

// A memory DC with the bitmap and its palette selected.
class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap& bitmap) : Bitmap_(bitmap) {}
    ~TBitmapCanvas() override { FreeContext(); }

    void FreeContext() {
        // The list's lock first: ReclaimContexts on another thread frees
        // the listed contexts under it, and must not free this one twice.
        TScopedLock<TCriticalSection> lock(ContextListLock());
        if (!Context_)
            return;
        SetHandle(nullptr);
        PaletteSelected_.reset();
        BitmapSelected_.reset();
        Context_.Reset();
        std::erase(ContextList(), this);
    }

protected:
    void CreateHandle() override {
        ReclaimContexts();
        TScopedMemoryDC context(nullptr);
        if (!context)
            throw EOutOfResources("Out of system resources");
        HBITMAP bitmap = Bitmap_.Handle();
        HPALETTE palette = Bitmap_.PaletteHandle();
        Context_ = std::move(context);
        if (bitmap)
            BitmapSelected_.emplace(Context_.Get(), bitmap);
        if (palette) {
            PaletteSelected_.emplace(Context_.Get(), palette, true, true);
            RealizePalette(Context_.Get());
        }
        SetHandle(Context_.Get());
        TScopedLock<TCriticalSection> lock(ContextListLock());
        ContextList().push_back(this);
    }

private:
    void ReclaimContexts() {
        TScopedLock<TCriticalSection> lock(ContextListLock());
        if (ContextList().size() < KeptContexts)
            return;
        const std::vector<TBitmapCanvas*> held = ContextList();
        for (TBitmapCanvas* canvas : held) {
            // Not one this thread holds either: a recursive TryLock would succeed.
            if (canvas == this || canvas->LockCount() != 0)
                continue;
            const TScopedTryLock<TCanvas, &TCanvas::TryLock, &TCanvas::Unlock> unused(*canvas);
            if (unused && canvas->LockCount() == 1)
                canvas->FreeContext();
        }
    }

    TBitmap& Bitmap_;
    TScopedMemoryDC Context_;
    std::optional<TScopedSelect> BitmapSelected_;
    std::optional<TScopedSelectPalette> PaletteSelected_;
};

// A BITMAPINFO with room for 256 colours.
struct TBitmapInfo {
    BITMAPINFOHEADER Header{};
    RGBQUAD Colors[256]{};

    TBitmapInfo(int width, int height, int pixelBits, const TPalette* palette) {
        Header.biSize = sizeof Header;
        Header.biWidth = width;
        Header.biHeight = height;
        Header.biPlanes = 1;
        Header.biBitCount = static_cast<WORD>(pixelBits);
        Header.biCompression = BI_RGB;
        if (pixelBits <= 8) {
            Header.biClrUsed = 1u << pixelBits;
            for (size_t i = 0; palette && i < palette->Colors.size() && i < 256; ++i)
                Colors[i] = RGBQUAD{BlueOf(palette->Colors[i]), GreenOf(palette->Colors[i]), RedOf(palette->Colors[i]), 0};
        }
    }
    BITMAPINFO* Get() { return reinterpret_cast<BITMAPINFO*>(this); }
};

}  // namespace

struct TBitmapGdi {
    // Destroyed in reverse: the canvas lets go of the bitmap and palette first.
    TScopedBitmap Handle;
    TScopedPalette Palette;
    std::unique_ptr<TBitmapCanvas> Canvas;
    // The canvas drew: the GDI bitmap holds newer pixels than the portable ones.
    bool BitsStale = false;
    std::unique_ptr<TOpaqueRuns> OpaqueRuns;
};

TBitmap::~TBitmap() { delete Gdi_; }

uint64_t TBitmap::DeviceCopyBytes(int width, int height, int pixelBits) {
    int bits = pixelBits;
    if (pixelBits != 1) {
        TScopedGetDC screen(nullptr);
        bits = GetDeviceCaps(screen.Get(), BITSPIXEL) * GetDeviceCaps(screen.Get(), PLANES);
    }
    return (uint64_t(std::max(width, 0)) * uint64_t(bits) + 31) / 32 * 4 * uint64_t(std::max(height, 0));
}

HBITMAP TBitmap::Handle() {
    if (Empty())
        return nullptr;
    if (!Gdi_)
        Gdi_ = new TBitmapGdi;
    if (Gdi_->Handle)
        return Gdi_->Handle.Get();
    TBitmapInfo info(Width_, Height_, PixelBits_, Palette());
    const uint8_t* pixels = Pixels_.get();
    HBITMAP made = nullptr;
    if (HandleType_ == bmDDB) {
        TScopedGetDC screen(nullptr);
        if (!screen.Get())
            throw EOutOfResources("Out of system resources");
        // A monochrome DDB shows its bits in the text and background colours of the DC it is drawn to.
        made = PixelBits_ == 1 ? CreateBitmap(Width_, Height_, 1, 1, nullptr)
                               : CreateCompatibleBitmap(screen.Get(), Width_, Height_);
        // A bitmap the pixels did not reach would be drawn as black.
        if (made && SetDIBits(screen.Get(), made, 0, static_cast<UINT>(Height_), pixels, info.Get(),
                              DIB_RGB_COLORS) == 0) {
            DeleteObject(made);
            made = nullptr;
        }
    } else {
        void* bits = nullptr;
        made = CreateDIBSection(nullptr, info.Get(), DIB_RGB_COLORS, &bits, nullptr, 0);
        if (made)
            std::memcpy(bits, pixels, size_t(Stride_) * size_t(Height_));
    }
    if (!made)
        throw EOutOfResources("Out of system resources");
    Gdi_->Handle.Reset(made);
    Gdi_->BitsStale = false;
    Gdi_->OpaqueRuns.reset();
    return made;
}

bool TBitmap::HandleAllocated() const { return Gdi_ && Gdi_->Handle; }

void TBitmap::CopyPixelsTo(HDC dc, int x, int y, const TRect& part) const {
    PixelsNeeded();
    const int rows = part.Bottom - part.Top;
    TBitmapInfo info(Width_, rows, PixelBits_, HasPalette() ? Palette_.get() : nullptr);
    // The part's rows as a bitmap of their own, bottom-up as stored: no
    // source row to count from either end.
    const uint8_t* bottom = Pixels_.get() + size_t(Height_ - part.Bottom) * size_t(Stride_);
    if (SetDIBitsToDevice(dc, x, y, DWORD(part.Right - part.Left), DWORD(rows), part.Left, 0, 0, UINT(rows), bottom,
                          info.Get(), DIB_RGB_COLORS) == 0)
        throw EOutOfResources("Out of system resources");
}

TCanvas& TBitmap::Canvas() {
    if (!Gdi_)
        Gdi_ = new TBitmapGdi;
    if (!Gdi_->Canvas) {
        Gdi_->Canvas = std::make_unique<TBitmapCanvas>(*this);
        Gdi_->Canvas->OnChanging = [this] {
            Gdi_->OpaqueRuns.reset();
            if (Handle())
                Gdi_->BitsStale = true;
        };
        Gdi_->Canvas->OnChange = [this] { Changed(this); };
    }
    return *Gdi_->Canvas;
}

HPALETTE TBitmap::PaletteHandle() {
    if (!HasPalette())
        return nullptr;
    if (!Gdi_)
        Gdi_ = new TBitmapGdi;
    if (!Gdi_->Palette) {
        const size_t count = std::min<size_t>(Palette_->Colors.size(), 256);
        std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
        auto* logical = reinterpret_cast<LOGPALETTE*>(buffer.data());
        logical->palVersion = 0x300;
        logical->palNumEntries = static_cast<WORD>(count);
        for (size_t i = 0; i < count; ++i) {
            const TColor color = Palette_->Colors[i];
            logical->palPalEntry[i] = PALETTEENTRY{RedOf(color), GreenOf(color), BlueOf(color), 0};
        }
        Gdi_->Palette.Reset(CreatePalette(logical));
        if (!Gdi_->Palette)
            throw EOutOfResources("Out of system resources");
    }
    return Gdi_->Palette.Get();
}

void TBitmap::SetHandleType(TBitmapHandleType value) {
    if (value == HandleType_)
        return;
    PixelsNeeded();
    PixelsChanging();
    HandleType_ = value;
    if (value == bmDDB)
        Handle();
}

void TBitmap::PixelsNeeded() const {
    if (!Gdi_ || !Gdi_->BitsStale)
        return;
    auto* self = const_cast<TBitmap*>(this);
    GdiFlush();
    TBitmapInfo info(Width_, Height_, PixelBits_, self->Palette());
    std::shared_ptr<uint8_t[]> pixels = NewPixels(PixelBytes());
    TScopedGetDC screen(nullptr);
    if (GetDIBits(screen.Get(), Gdi_->Handle.Get(), 0, static_cast<UINT>(Height_), pixels.get(), info.Get(),
                  DIB_RGB_COLORS) == 0)
        throw EOutOfResources("Out of system resources");
    self->Pixels_ = std::move(pixels);
    Gdi_->BitsStale = false;
}

void TBitmap::PixelsChanging() {
    if (!Gdi_)
        return;
    if (Gdi_->Canvas)
        Gdi_->Canvas->FreeContext();
    Gdi_->Palette.Reset();
    Gdi_->Handle.Reset();
    Gdi_->BitsStale = false;
    Gdi_->OpaqueRuns.reset();
}

TOpaqueRuns* TBitmap::KeptOpaqueRuns() { return Gdi_ ? Gdi_->OpaqueRuns.get() : nullptr; }

void TBitmap::KeepOpaqueRuns(std::unique_ptr<TOpaqueRuns> runs) {
    if (!Gdi_)
        Gdi_ = new TBitmapGdi;
    Gdi_->OpaqueRuns = std::move(runs);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
    // A keyed draw takes a size of 0 for the bitmap's own: nothing fits there.
    if (Empty() || rect.Right == rect.Left || rect.Bottom == rect.Top)
        return;
    if (Transparent()) {
        KeyedDrawRect(canvas, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top,
                      TRect{0, 0, Width_, Height_}, *this, TransparentColor_);
        return;
    }
    TDrawRects rects{rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0, Width_, Height_};
    const TDrawSource source(canvas, *this, rects);
    if (!source.Shows())
        return;
    HDC target = source.Target();
    std::optional<TScopedSelectPalette> palette;
    if (HPALETTE own = PaletteHandle()) {
        palette.emplace(target, own, true, true);
        RealizePalette(target);
    }
    if (!Monochrome())
        SetStretchBltMode(target, COLORONCOLOR);
    StretchBlt(target, rects.X, rects.Y, rects.Width, rects.Height, source.Source(), rects.SourceX - source.Corner().x,
               rects.SourceY - source.Corner().y, rects.SourceWidth, rects.SourceHeight, canvas.CopyMode());
}

TColor TBitmap::NearestColor(TColor color) {
    TCanvas& canvas = Canvas();
    TCanvasLock lock(canvas);
    return static_cast<TColor>(GetNearestColor(canvas.Handle(), ColorToRGB(color)));
}
