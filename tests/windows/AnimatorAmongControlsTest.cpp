// An animator that paints from its timer's worker (AsyncDrawing) among other
// controls: windowless siblings beneath it (labels, other animators, in
// either mode), the form behind it, siblings freed while it plays. The
// worker makes pixels from the animator's own pictures only.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AnimatorSupport.h"
#include "controls/JvGIFCtrl.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"
#include "ui/Synchronize.h"

namespace {

constexpr COLORREF FormColour = RGB(30, 140, 60);

// A form that counts what other threads ask of it.
class TCountingForm : public TForm {
public:
    TCountingForm() : TForm(nullptr) {
        SetBounds(100, 100, 240, 140);
        SetColor(FormColour);
    }
    mutable std::atomic<int> OffThreadReads{0};
    int ClientWidth() const override {
        OffThreadReads += InMainThread() ? 0 : 1;
        return TForm::ClientWidth();
    }
    int ClientHeight() const override {
        OffThreadReads += InMainThread() ? 0 : 1;
        return TForm::ClientHeight();
    }

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        OffThreadReads += InMainThread() ? 0 : 1;
        return TForm::WndProc(message, wParam, lParam);
    }
};

// A label that counts its paints on other threads.
class TCountingLabel : public TLabel {
public:
    TCountingLabel(TForm& form, int left, int top, const std::string& text) : TLabel(&form) {
        SetParent(&form);
        SetCaption(text);
        SetBounds(left, top, Width(), Height());
    }
    std::atomic<int> OffThreadPaints{0};
    void Paint(HDC dc) override {
        OffThreadPaints += InMainThread() ? 0 : 1;
        TLabel::Paint(dc);
    }
};

// A windowless patch of one colour; while it is being freed it can wait for
// a signal, so that the test knows where its destructor stands.
class TPatch : public TGraphicControl {
public:
    TPatch(TForm& form, const RECT& bounds, COLORREF colour) : TGraphicControl(&form), Colour_(colour) {
        SetParent(&form);
        SetBounds(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
    }
    ~TPatch() override {
        Freeing = true;
        if (OnFreeing)
            OnFreeing();
    }
    std::atomic<int> OffThreadPaints{0};
    std::atomic<int> PaintsWhileFreed{0};
    std::atomic<bool> Freeing{false};
    std::function<void()> OnFreeing;
    void Paint(HDC dc) override {
        OffThreadPaints += InMainThread() ? 0 : 1;
        PaintsWhileFreed += Freeing ? 1 : 0;
        TScopedBrush brush(CreateSolidBrush(Colour_));
        RECT all{0, 0, Width(), Height()};
        FillRect(dc, &all, brush.Get());
    }

private:
    COLORREF Colour_;
};

// An asynchronous animator with a transparent animation at the given place,
// painted once by the window thread (as a shown form paints it).
TParkingAnimator* AsyncAbove(TForm& form, const RECT& bounds) {
    auto* animator = new TParkingAnimator(&form);
    animator->SetParent(&form);
    animator->SetAutoSize(false);
    animator->SetBounds(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
    animator->SetAsyncDrawing(true);
    Load(*animator, TransparentAnimation(4, 32));
    return animator;
}

void ShowAndPaint(TForm& form) {
    form.Show();
    UpdateWindow(form.Handle());
    Application->ProcessMessages();
}

// A shown form with an asynchronous animator whose worker is stopped in its
// image paint, holding the animator's locks and inside the form's gate.
struct TParkedInPaint {
    TApplication Application;
    TCountingForm Form;
    TParkingAnimator* Animator;
    bool Parked;
    TParkedInPaint() : Animator(AsyncAbove(Form, {10, 10, 42, 42})) {
        Application.Initialize();
        ShowAndPaint(Form);
        Animator->ParkNextWorkerPaint();
        Animator->SetAnimate(true);
        Parked = Animator->WaitParked();
    }
};

// What the screen shows of a control, read back from its parent's window.
std::vector<COLORREF> ScreenPixels(const TControl& control) {
    TCapture capture(control.Width(), control.Height(), RGB(1, 2, 3));
    TScopedGetDC dc(control.Parent()->Handle());
    BitBlt(capture.DC(), 0, 0, control.Width(), control.Height(), dc.Get(), control.Left(), control.Top(), SRCCOPY);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < control.Height(); ++y)
        for (int x = 0; x < control.Width(); ++x)
            pixels.push_back(capture.At(x, y));
    return pixels;
}

}  // namespace

// The window thread runs the tick of a synchronised animator beneath an
// asynchronous transparent one and so repaints the one above, whose worker
// is in its paint: that paint must not need anything of the animator
// beneath (its canvas), or each waits for the other for ever.
TEST(AnimatorAmongControls, SynchronisedTickBeneathAnAsyncTransparentAnimatorEndsItsRepaint) {
    TApplication application;
    application.Initialize();
    TCountingForm form;
    auto* beneath = new TJvGIFAnimator(&form);
    beneath->SetParent(&form);
    beneath->SetAutoSize(false);
    beneath->SetBounds(10, 10, 60, 60);
    Load(*beneath, Animation({0, 0, 0}, 60));
    TParkingAnimator* above = AsyncAbove(form, {40, 30, 100, 90});
    ShowAndPaint(form);
    above->ParkNextWorkerPaint();
    above->SetAnimate(true);
    ASSERT_TRUE(above->WaitParked()) << "the worker of the animator above never painted";
    // Released once the window thread, inside the tick beneath, paints the one above.
    ResetEvent(above->WindowThreadPaint());
    std::thread releaser([above] {
        WaitForSingleObject(above->WindowThreadPaint(), 10000);
        above->Release();
    });
    {
        const TDeadlockWatch watch("the tick beneath and the worker above wait for each other", 20000);
        beneath->AdvanceFrame(nullptr);
    }
    releaser.join();
    EXPECT_EQ(beneath->FrameIndex(), 1);
    EXPECT_EQ(WaitForSingleObject(above->WindowThreadPaint(), 0), WAIT_OBJECT_0)
        << "the tick beneath did not repaint the animator above";
    above->SetAnimate(false);
}

// The worker's paint reads nothing of the form or of the siblings: what lies
// beneath comes from the picture the window thread keeps. A sibling beneath
// that is freed while the worker paints is therefore never painted by it, not
// even while its destructor runs.
TEST(AnimatorAmongControls, WorkerPaintReadsNothingOfTheFormOrTheSiblingsEvenOneBeingFreed) {
    TApplication application;
    application.Initialize();
    TCountingForm form;
    auto* label = new TCountingLabel(form, 30, 40, "Instalacja SQL Server");
    auto* patch = new TPatch(form, {20, 20, 60, 60}, RGB(250, 250, 0));
    TParkingAnimator* animator = AsyncAbove(form, {10, 10, 170, 90});
    ShowAndPaint(form);
    form.OffThreadReads = 0;
    animator->SetAnimate(true);
    ASSERT_TRUE(WaitWithoutServing([&] { return animator->WorkerPaints >= 3; })) << "the worker does not paint";
    EXPECT_EQ(form.OffThreadReads.load(), 0) << "the worker asked the form";
    EXPECT_EQ(label->OffThreadPaints.load(), 0) << "the worker painted the label";
    EXPECT_EQ(patch->OffThreadPaints.load(), 0) << "the worker painted the patch";

    // Freed while the worker is stopped in its paint; the worker goes on
    // while the destructor runs, and the destructor waits until the worker's
    // paint is over.
    animator->ParkNextWorkerPaint();
    ASSERT_TRUE(animator->WaitParked());
    const int paints = animator->WorkerPaints;
    std::atomic<int> paintsWhileFreed{0};
    patch->OnFreeing = [&] {
        animator->Release();
        WaitWithoutServing([&] { return animator->WorkerPaints > paints; });
        paintsWhileFreed = patch->PaintsWhileFreed.load();
    };
    delete patch;
    EXPECT_EQ(paintsWhileFreed.load(), 0) << "the worker painted the patch while it was being freed";
    EXPECT_EQ(form.OffThreadReads.load(), 0);
    animator->SetAnimate(false);
}

// What the worker paints is what the window thread paints for the same
// frame, pixel for pixel, over a label, a synchronised animator and the form.
TEST(AnimatorAmongControls, WorkerPaintsTheSamePixelsAsTheWindowThread) {
    TApplication application;
    application.Initialize();
    TCountingForm form;
    new TCountingLabel(form, 12, 14, "Trwa instalacja");
    auto* beneath = new TJvGIFAnimator(&form);
    beneath->SetParent(&form);
    beneath->SetAutoSize(false);
    beneath->SetBounds(50, 40, 40, 40);
    Load(*beneath, Animation({0, 0}, 40));
    TParkingAnimator* above = AsyncAbove(form, {8, 8, 72, 72});
    above->SetCenter(true);
    ShowAndPaint(form);
    std::atomic<int> raised{0};
    above->OnFrameChanged = [&](TComponent*) { ++raised; };
    above->SetAnimate(true);
    // Each tick stops in the event it hands to the window thread, before its
    // paint; serving it lets the worker paint that frame and stop in the next.
    for (int frame = 1; frame <= 2; ++frame) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        ASSERT_TRUE(WaitForQueuedCalls(1));
        const int paints = above->WorkerPaints;
        CheckSynchronize();
        ASSERT_TRUE(WaitWithoutServing([&] { return above->WorkerPaints > paints; }));
        ASSERT_TRUE(WaitForQueuedCalls(1));
        const std::vector<COLORREF> byWorker = ScreenPixels(*above);
        int beneathShows = 0;
        for (COLORREF pixel : byWorker)
            beneathShows += pixel != FormColour && pixel != RGB(200, 40, 40) && pixel != RGB(40, 40, 200) &&
                            pixel != RGB(240, 200, 40);
        EXPECT_GT(beneathShows, 0) << "neither the label nor the animator beneath shows through";
        // The same frame, painted again by the window thread.
        above->SetFrameIndex(frame);
        above->Repaint();
        EXPECT_EQ(ScreenPixels(*above), byWorker);
        above->SetFrameIndex(frame + 1);
    }
    above->SetAnimate(false);
}

// A picture change told on the window thread while the worker is inside its
// image paint is told from outside any paint: it invalidates the control.
TEST(AnimatorAmongControls, PictureChangeOnTheWindowThreadDuringAWorkerPaintInvalidates) {
    TParkedInPaint parked;
    ASSERT_TRUE(parked.Parked);
    TForm& form = parked.Form;
    TParkingAnimator* animator = parked.Animator;
    ValidateRect(form.Handle(), nullptr);
    animator->NotifyPictureChanged();
    RECT invalid{};
    EXPECT_TRUE(GetUpdateRect(form.Handle(), &invalid, FALSE)) << "not invalidated";
    EXPECT_EQ(invalid.left, 10);
    EXPECT_EQ(invalid.bottom, 42);
    animator->Release();
    animator->SetAnimate(false);
}

// While a worker paints through the form (inside the form's worker-paint
// gate), the window thread changes the form's controls, which closes the
// gate and waits for that paint; a call handed to the window thread that
// changes them too must wait as well, not run inside that wait and find the
// gate as good as closed.
TEST(AnimatorAmongControls, ControlsChangedByAQueuedCallWaitForTheWorkersPaintToo) {
    TParkedInPaint parked;
    ASSERT_TRUE(parked.Parked);
    TForm& form = parked.Form;
    TParkingAnimator* animator = parked.Animator;
    std::atomic<bool> callRan{false}, changedWhilePainting{false};
    std::thread caller([&] {
        Synchronize([&] {
            new TPatch(form, {60, 60, 70, 70}, RGB(0, 0, 0));
            changedWhilePainting = animator->Parked();
            callRan = true;
        });
    });
    ASSERT_TRUE(WaitForQueuedCalls(1));
    // Lets the worker go once the window thread waits for it: the gate then
    // turns new painters away (or, in a wait that serves calls, the call ran).
    std::thread releaser([&] {
        for (const DWORD start = GetTickCount(); !callRan && GetTickCount() - start < 5000; Sleep(1)) {
            if (!form.TryEnterWorkerPaint())
                break;
            form.LeaveWorkerPaint();
        }
        animator->Release();
    });
    new TPatch(form, {80, 80, 90, 90}, RGB(0, 0, 0));
    releaser.join();
    EXPECT_TRUE(PumpUntil([&] { return callRan.load(); }, 10000));
    caller.join();
    EXPECT_FALSE(changedWhilePainting) << "the controls changed while the worker painted through the form";
    animator->SetAnimate(false);
}

// Two overlapping animators in mixed modes with a label beneath, siblings
// freed while they play at varying points of their ticks: nothing hangs or
// fails, and threads and handles come back to their counts.
TEST(AnimatorAmongControlsStress, ThousandCyclesOfOverlappingAnimatorsWithSiblingsFreedWhileTheyPlay) {
    TApplication application;
    application.Initialize();
    TCountingForm form;
    ShowAndPaint(form);
    const gifwriter::Bytes opaque = Animation({0, 0}, 24);
    const gifwriter::Bytes transparent = TransparentAnimation(2, 24);
    std::atomic<int> errors{0};
    application.OnException = [&](const std::exception&) { ++errors; };
    auto cycle = [&](int i) {
        auto* label = new TLabel(&form);
        label->SetParent(&form);
        label->SetCaption("Proszę czekać");
        label->SetBounds(4, 10, label->Width(), label->Height());
        auto* beneath = new TJvGIFAnimator(&form);
        beneath->SetParent(&form);
        beneath->SetAutoSize(false);
        beneath->SetBounds(0, 0, 24, 24);
        beneath->SetAsyncDrawing(i % 3 == 1);
        beneath->SetThreaded(i % 3 != 2);
        Load(*beneath, opaque);
        auto* above = new TJvGIFAnimator(&form);
        above->SetParent(&form);
        above->SetAutoSize(false);
        above->SetBounds(12, 6, 24, 24);
        above->SetAsyncDrawing(true);
        Load(*above, transparent);
        if (i % 2)
            above->OnFrameChanged = [](TComponent*) {};
        if (i % 4 == 0) {
            // Painted by the window thread first: the worker paints from its first tick.
            UpdateWindow(form.Handle());
        }
        beneath->SetAnimate(true);
        above->SetAnimate(true);
        switch (i % 4) {
        case 1:
            if (i % 2)
                WaitForQueuedCalls(1);  // a tick waits in its event
            break;
        case 2:
            Application->ProcessMessages();
            break;
        case 3:
            Sleep(static_cast<DWORD>(i % 3));  // somewhere in a tick
            break;
        default:
            break;
        }
        // Siblings go while the animator above plays.
        delete label;
        if (i % 2)
            delete beneath;
        if (i % 5 == 0)
            Application->ProcessMessages();
        delete above;
        if (!(i % 2))
            delete beneath;
    };
    for (int i = 0; i < 12; ++i)
        cycle(i);  // creates what lives for the whole process, in every mode
    Application->ProcessMessages();
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    const DWORD start = GetTickCount();
    for (int i = 0; i < 1000; ++i)
        cycle(i);
    Application->ProcessMessages();
    std::printf("1,000 cycles in %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ(errors.load(), 0);
    EXPECT_TRUE(WaitForThreadCount(threads));
    EXPECT_EQ(HandleCount(), handles);
}
