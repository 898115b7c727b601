// TJvGIFAnimator's painting: what lies behind the control, the composed
// picture of the current frame (JvGIFCompose.h) and its place in the client
// area. Runs inside the buffered paint of TJvImageControl; what lies behind
// is copied from the parent and the siblings on the window thread only (a
// worker draws the picture of it that the window thread keeps).

#include "controls/JvGIFCtrl.h"

#include "ui/WinControl.h"
#include "win/ScopedWin.h"

void TJvGIFAnimator::RenderContent() {
    PaintBackgroundAndImage();
    if (Image_->Transparent() || Image_->Empty())
        PaintDesignOutline();
}

void TJvGIFAnimator::RenderBackground() {
    TJvImageControl::RenderBackground();
    if (Image_->Transparent() || Image_->Empty())
        CopyParentBackground(this, Canvas());
}

void TJvGIFAnimator::RenderImage() {
    if (Image_->Empty() || Image_->LogicalWidth() <= 0 || Image_->LogicalHeight() <= 0)
        return;
    // A logical screen too large for memory: no picture, and that is said once.
    if (!ComposedLimit_.Fits(Image_->LogicalWidth(), Image_->LogicalHeight()))
        return;
    ComposedLimit_.Paint([&] {
        TColor transparentColor = clNone;
        TBitmap* picture = ComposeFrame(FrameIndex_.load(), transparentColor);
        const TRect rect = PictureRect(ClientWidth(), ClientHeight(), picture->Width(), picture->Height(),
                                       Center_.load(), Stretch_.load());
        DrawComposedPicture(Canvas(), rect, *picture, transparentColor, Transparent_.load());
    });
}

TBitmap* TJvGIFAnimator::ComposeFrame(int index, TColor& transparentColor) {
    return Composition_.ComposeFrame(*Image_, index, transparentColor, Transparent_.load());
}

namespace {

// Sets a paint-copy state for one scope, also when the paint fails.
class TPaintCopy {
public:
    explicit TPaintCopy(TControl& control) : Control_(control) {
        Control_.SetControlState(Control_.ControlState() | csPaintCopy);
    }
    ~TPaintCopy() { Control_.SetControlState(Control_.ControlState() & ~csPaintCopy); }
    TPaintCopy(const TPaintCopy&) = delete;
    TPaintCopy& operator=(const TPaintCopy&) = delete;

private:
    TControl& Control_;
};

bool Intersect(const RECT& a, const RECT& b) {
    RECT common;
    return IntersectRect(&common, &a, &b) != FALSE;
}

}  // namespace

void TJvGIFAnimator::CopyParentBackground(TControl* control, TCanvas& canvas) {
    if (!control || !control->Parent())
        return;
    TWinControl& parent = *control->Parent();
    const int count = parent.ControlCount();
    HDC dc = canvas.Handle();
    TPaintCopy parentCopy(parent);
    POINT origin;
    GetViewportOrgEx(dc, &origin);
    origin.x -= control->Left();
    origin.y -= control->Top();
    const RECT self = control->BoundsRect();
    {
        TScopedSaveDC saved(dc);
        SetViewportOrgEx(dc, origin.x, origin.y, nullptr);
        IntersectClipRect(dc, 0, 0, parent.ClientWidth(), parent.ClientHeight());
        parent.Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        parent.PaintWindow(dc);
    }
    // Only the windowless siblings stacked beneath the control.
    for (int i = 0; i < count; ++i) {
        TControl* sibling = parent.Controls(i);
        if (sibling == control)
            break;
        if (!sibling || dynamic_cast<TWinControl*>(sibling) || !sibling->Visible() ||
            !Intersect(sibling->BoundsRect(), self))
            continue;
        TPaintCopy siblingCopy(*sibling);
        TScopedSaveDC saved(dc);
        SetViewportOrgEx(dc, sibling->Left() + origin.x, sibling->Top() + origin.y, nullptr);
        IntersectClipRect(dc, 0, 0, sibling->Width(), sibling->Height());
        sibling->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    }
}
