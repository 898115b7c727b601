// The image control base: buffered paint, repaint from any thread, palette
// forwarding to the form.

#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "TestSupport.h"
#include "controls/JvAnimatedImage.h"
#include "rtl/Bitmap.h"
#include "rtl/Errors.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "ui/Thread.h"

namespace {

// Fills its client area with Color and a centre square with Fill; counts
// its paints and the threads they ran on.
class TProbeImage : public TJvImageControl {
public:
    using TJvImageControl::TJvImageControl;
    using TJvImageControl::ForwardPaletteChange;
    using TJvImageControl::NotifyPictureChanged;
    using TJvImageControl::RepaintFromAnyThread;
    using TJvImageControl::SetDisplayedGraphic;

    std::atomic<TColor> Fill{clRed};
    bool FailAfterFill = false;
    bool DrawNothing = false;
    std::atomic<int> Paints{0};
    HPALETTE Palette = nullptr;
    // The palette modified flag as seen by the change forwarded from inside RenderImage.
    std::function<void()> DuringImage;

    HPALETTE GetPalette() override { return Palette; }

protected:
    void RenderContent() override {
        ++Paints;
        if (DrawNothing)
            return;
        PaintBackgroundAndImage();
        if (FailAfterFill)
            throw EAbort();
    }
    void RenderImage() override {
        Canvas().Brush().SetColor(Fill.load());
        Canvas().FillRect(TRect{4, 4, Width() - 4, Height() - 4});
        if (DuringImage)
            DuringImage();
    }
};

// A windowless control that only counts its paints.
class TCountingControl : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    int Paints = 0;
    void Paint(HDC) override { ++Paints; }
};

int CALLBACK CountDrawing(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
    switch (record->iType) {
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_STRETCHDIBITS:
    case EMR_SETDIBITSTODEVICE:
    case EMR_MASKBLT:
    case EMR_PLGBLT:
    case EMR_TRANSPARENTBLT:
    case EMR_ALPHABLEND:
    case EMR_FILLRGN:
    case EMR_PAINTRGN:
    case EMR_RECTANGLE:
    case EMR_ROUNDRECT:
    case EMR_ELLIPSE:
    case EMR_POLYGON:
    case EMR_POLYGON16:
    case EMR_POLYPOLYGON:
    case EMR_POLYPOLYGON16:
    case EMR_POLYLINE:
    case EMR_POLYLINE16:
    case EMR_LINETO:
    case EMR_EXTTEXTOUTW:
    case EMR_EXTTEXTOUTA:
        ++(*reinterpret_cast<std::map<DWORD, int>*>(data))[record->iType];
        break;
    default:
        break;
    }
    return 1;
}

// The drawing records of an enhanced metafile, by type.
std::map<DWORD, int> DrawingRecords(HENHMETAFILE metafile) {
    std::map<DWORD, int> records;
    EnumEnhMetaFile(nullptr, metafile, CountDrawing, &records, nullptr);
    return records;
}

int Total(const std::map<DWORD, int>& records) {
    int total = 0;
    for (const auto& [type, count] : records)
        total += count;
    return total;
}

COLORREF ScreenPixel(HWND window, int x, int y) {
    TScopedGetDC dc(window);
    return GetPixel(dc.Get(), x, y);
}

}  // namespace

// The paint reaches its target in one draw, also when rendering fails;
// whatever was rendered is what lands.
TEST(JvImageControl, BufferedPaintWritesTargetOnceAlsoAfterAnError) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetColor(RGB(0, 0, 255));
    auto* image = new TProbeImage(&form);
    image->SetParent(&form);
    image->SetBounds(0, 0, 40, 30);
    EXPECT_EQ(image->Width(), 40);
    EXPECT_TRUE(image->ControlStyle() & csOpaque);

    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "rendering fails" : "rendering succeeds");
        image->FailAfterFill = fail;
        TScopedGetDC screen(nullptr);
        HDC recorder = CreateEnhMetaFileW(screen.Get(), nullptr, nullptr, nullptr);
        ASSERT_TRUE(recorder);
        if (fail)
            EXPECT_THROW(image->Perform(WM_PAINT, reinterpret_cast<WPARAM>(recorder), 0), EAbort);
        else
            image->Perform(WM_PAINT, reinterpret_cast<WPARAM>(recorder), 0);
        EXPECT_FALSE(image->Canvas().HandleAllocated()) << "the canvas stays bound after the paint";
        HENHMETAFILE metafile = CloseEnhMetaFile(recorder);
        ASSERT_TRUE(metafile);
        const auto records = DrawingRecords(metafile);
        EXPECT_EQ(Total(records), 1) << "the target must be written by exactly one draw";

        // Played back: the background fill and the square, as rendered.
        TCapture capture(40, 30, RGB(0, 0, 0));
        RECT all{0, 0, 40, 30};
        PlayEnhMetaFile(capture.DC(), metafile, &all);
        DeleteEnhMetaFile(metafile);
        EXPECT_EQ(capture.At(1, 1), RGB(0, 0, 255)) << "background: the parent's colour";
        EXPECT_EQ(capture.At(20, 15), RGB(255, 0, 0)) << "the picture";
    }
    // The buffer is kept between paints of one size, but nothing of the last
    // paint shows: a paint that draws nothing shows a new bitmap's black.
    image->FailAfterFill = false;
    image->DrawNothing = true;
    TCapture capture(40, 30, RGB(0, 255, 0));
    image->Perform(WM_PAINT, reinterpret_cast<WPARAM>(capture.DC()), 0);
    EXPECT_EQ(capture.At(20, 15), RGB(0, 0, 0)) << "a paint that draws nothing";
}

// A client area with no pixels (a width or height of 0, or one set
// negative) paints nothing and raises nothing; a negative one made every
// paint, a worker's at each tick too, fail with "Bitmap image is not valid".
TEST(JvImageControl, AClientAreaWithNoPixelsPaintsNothing) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    auto* image = new TProbeImage(&form);
    image->SetParent(&form);
    for (const SIZE size : {SIZE{0, 30}, SIZE{40, 0}, SIZE{-5, 30}, SIZE{40, -1}}) {
        SCOPED_TRACE(std::to_string(size.cx) + " x " + std::to_string(size.cy));
        image->SetBounds(0, 0, size.cx, size.cy);
        const int before = image->Paints.load();
        TScopedGetDC screen(nullptr);
        HDC recorder = CreateEnhMetaFileW(screen.Get(), nullptr, nullptr, nullptr);
        ASSERT_TRUE(recorder);
        EXPECT_NO_THROW(image->Perform(WM_PAINT, reinterpret_cast<WPARAM>(recorder), 0));
        HENHMETAFILE metafile = CloseEnhMetaFile(recorder);
        ASSERT_TRUE(metafile);
        EXPECT_EQ(image->Paints.load(), before + 1) << "rendered, into no pixels";
        EXPECT_EQ(Total(DrawingRecords(metafile)), 0) << "nothing reaches the target";
        DeleteEnhMetaFile(metafile);
    }
}

// On the window thread a repaint paints the control and the windowless
// siblings above it at once; from a worker only the control, and it still
// reaches the screen.
TEST(JvImageControl, RepaintFromWindowThreadAndFromWorkerReachesScreen) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetBounds(100, 100, 300, 200);
    form.SetColor(RGB(0, 0, 255));
    auto* below = new TCountingControl(&form);
    below->SetParent(&form);
    below->SetBounds(0, 0, 100, 100);
    auto* image = new TProbeImage(&form);
    image->SetParent(&form);
    image->SetBounds(10, 10, 60, 40);
    auto* above = new TCountingControl(&form);
    above->SetParent(&form);
    above->SetBounds(50, 30, 60, 60);
    auto* apart = new TCountingControl(&form);
    apart->SetParent(&form);
    apart->SetBounds(200, 100, 20, 20);
    form.Show();
    application.ProcessMessages();
    ValidateRect(form.Handle(), nullptr);

    below->Paints = above->Paints = apart->Paints = 0;
    image->Fill = RGB(0, 255, 0);
    image->RepaintFromAnyThread();
    EXPECT_EQ(ScreenPixel(form.Handle(), 40, 30), RGB(0, 255, 0)) << "window thread: not on the screen at once";
    EXPECT_EQ(above->Paints, 1) << "the sibling above must be repainted with it";
    EXPECT_EQ(below->Paints, 0) << "the sibling below is covered, not repainted";
    EXPECT_EQ(apart->Paints, 0);

    above->Paints = 0;
    image->Fill = RGB(255, 255, 0);
    const int before = image->Paints.load();
    DWORD paintThread = 0;
    TAnonymousThread worker([&] {
        image->RepaintFromAnyThread();
        paintThread = GetCurrentThreadId();
    });
    worker.Resume();
    worker.WaitFor();
    EXPECT_EQ(image->Paints.load(), before + 1);
    EXPECT_EQ(ScreenPixel(form.Handle(), 40, 30), RGB(255, 255, 0)) << "worker: the repaint did not reach the screen";
    EXPECT_EQ(ScreenPixel(form.Handle(), 5, 5), RGB(0, 0, 255)) << "worker: painted outside the control's bounds";
    EXPECT_EQ(above->Paints, 0) << "worker: only the control itself is painted";
    EXPECT_NE(paintThread, GetCurrentThreadId());
}

// A changed picture palette goes to the form only when the control has a
// palette and its form is active: sent during the image paint (and then
// updated), posted otherwise; the modified flag tells what is still to do.
TEST(JvImageControl, PaletteChangeForwardedToActiveForm) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetBounds(100, 100, 200, 100);
    auto* image = new TProbeImage(&form);
    image->SetParent(&form);
    TBitmap picture;
    image->SetDisplayedGraphic(&picture);
    struct {
        LOGPALETTE Header;
        PALETTEENTRY More[1];
    } entries{{0x300, 2, {{255, 0, 0, 0}}}, {{0, 0, 255, 0}}};
    TScopedPalette palette(CreatePalette(&entries.Header));

    picture.SetPaletteModified(true);
    EXPECT_FALSE(image->ForwardPaletteChange()) << "no palette";
    EXPECT_FALSE(picture.PaletteModified()) << "no palette: nothing left to forward";

    image->Palette = palette.Get();
    picture.SetPaletteModified(true);
    EXPECT_FALSE(image->ForwardPaletteChange()) << "form inactive";
    EXPECT_TRUE(picture.PaletteModified()) << "form inactive: the next change must try again";

    form.Show();
    SetForegroundWindow(form.Handle());
    SetActiveWindow(form.Handle());
    application.ProcessMessages();
    ASSERT_TRUE(form.Active());
    MSG message;
    while (PeekMessageW(&message, form.Handle(), WM_QUERYNEWPALETTE, WM_QUERYNEWPALETTE, PM_REMOVE)) {
    }
    EXPECT_TRUE(image->ForwardPaletteChange());
    EXPECT_FALSE(picture.PaletteModified());
    EXPECT_TRUE(PeekMessageW(&message, form.Handle(), WM_QUERYNEWPALETTE, WM_QUERYNEWPALETTE, PM_REMOVE))
        << "outside the image paint the query is posted";

    // Inside the image paint: sent, so nothing is left in the queue.
    bool forwarded = false;
    image->DuringImage = [&] {
        picture.SetPaletteModified(true);
        forwarded = image->ForwardPaletteChange();
    };
    image->Repaint();
    image->DuringImage = nullptr;
    EXPECT_TRUE(forwarded);
    EXPECT_FALSE(PeekMessageW(&message, form.Handle(), WM_QUERYNEWPALETTE, WM_QUERYNEWPALETTE, PM_REMOVE))
        << "inside the image paint the query is sent, not posted";
}
