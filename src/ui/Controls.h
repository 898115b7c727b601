#pragma once
// The control base: TControl (position, size, text, colour, font, parent)
// and TGraphicControl (windowless, painted by its parent through the
// parent's DC). The windowed control is in WinControl.h.

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/Component.h"
#include "ui/Graphics.h"

class TWinControl;

// Docking to an edge of the parent's client area: aligned controls are laid
// out edge by edge (top, bottom, left, right) in the order of their
// positions, then alClient takes what is left.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

enum TControlStyleFlag : unsigned {
    csOpaque = 1,  // covers every pixel of its bounds: nothing of the parent is painted beneath
    csCaptureMouse = 2,
    csClickEvents = 4,
    csDoubleClicks = 8,
    csReplicatable = 16,
};

enum TControlStateFlag : unsigned {
    csPaintCopy = 1,  // being painted as a copy into another control's picture
};

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;
    const char* ClassName() const override { return "TControl"; }

    TWinControl* Parent() const { return Parent_; }
    virtual void SetParent(TWinControl* parent);
    void SetParentComponent(TComponent* parent) override;

    int Left() const { return Left_; }
    int Top() const { return Top_; }
    int Width() const { return Width_; }
    int Height() const { return Height_; }
    virtual void SetBounds(int left, int top, int width, int height);
    RECT BoundsRect() const { return RECT{Left_, Top_, Left_ + Width_, Top_ + Height_}; }
    TAlign Align() const { return Align_; }
    void SetAlign(TAlign align);
    virtual int ClientWidth() const { return Width_; }
    virtual int ClientHeight() const { return Height_; }

    bool Visible() const { return Visible_; }
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return Enabled_; }
    void SetEnabled(bool enabled);

    // The control's text: a label's or button's caption, an edit's content.
    virtual std::string Text() const { return Text_; }
    virtual void SetText(const std::string& text);
    std::string Caption() const { return Text(); }
    void SetCaption(const std::string& caption) { SetText(caption); }

    // Colour and font fall back to the parent's while the Parent* switches
    // are on; setting them switches that off.
    TColor Color() const;
    void SetColor(TColor color);
    bool ParentColor() const { return ParentColor_; }
    void SetParentColor(bool parentColor);
    const TFont& Font() const;
    TFont& OwnFont() { return Font_; }
    bool ParentFont() const { return ParentFont_; }
    void SetParentFont(bool parentFont);

    // Repaint the control's area with the next paint.
    virtual void Invalidate();
    // Paint what is invalid in the parent now.
    void Update();
    // Repaint now. An opaque windowless control is painted at once into a
    // DC of its parent clipped to its bounds, together with the windowless
    // siblings stacked above it; anything else is invalidated and updated.
    virtual void Repaint();
    // Delivers a message to the control's own handling, synchronously; a
    // windowless control handles WM_PAINT with the DC in wParam.
    virtual LRESULT Perform(UINT message, WPARAM wParam, LPARAM lParam);

    unsigned ControlStyle() const { return ControlStyle_; }
    void SetControlStyle(unsigned style) { ControlStyle_ = style; }
    // Read by worker threads too.
    unsigned ControlState() const { return ControlState_.load(); }
    void SetControlState(unsigned state) { ControlState_.store(state); }

    // Size to content: while on, CanAutoSize adjusts every new size, and
    // AdjustSize fits the control to its content.
    bool AutoSize() const { return AutoSize_; }
    virtual void SetAutoSize(bool autoSize);
    // May change a proposed size; false leaves it as proposed.
    virtual bool CanAutoSize(int& width, int& height) {
        (void)width;
        (void)height;
        return false;
    }
    // The palette the control's picture needs, or null.
    virtual HPALETTE GetPalette() { return nullptr; }

    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

    // Scales position, size and an own font by multiplier / divisor.
    virtual void ChangeScale(int multiplier, int divisor);

protected:
    // Notifications after a change; the defaults repaint.
    virtual void TextChanged() { Invalidate(); }
    virtual void ColorChanged() { Invalidate(); }
    virtual void FontChanged() { Invalidate(); }
    virtual void EnabledChanged() { Invalidate(); }
    virtual void VisibleChanged();
    virtual void BoundsChanged();

    // Updates the fields after the window moved by itself (no notification).
    void StoreBounds(int left, int top, int width, int height);
    // Fits the control to its content; the default does nothing.
    virtual void AdjustSize() {}

    std::string Text_;

private:
    friend class TWinControl;
    TWinControl* Parent_ = nullptr;
    // A worker that paints the control reads its place, visibility and
    // colour while the window thread may change them.
    std::atomic<int> Left_{0};
    std::atomic<int> Top_{0};
    std::atomic<int> Width_{0};
    std::atomic<int> Height_{0};
    std::atomic<bool> Visible_{true};
    bool Enabled_ = true;
    TAlign Align_ = alNone;
    std::atomic<TColor> Color_{clBtnFace};
    std::atomic<bool> ParentColor_{false};
    TFont Font_;
    bool ParentFont_ = true;
    bool AutoSize_ = false;
    unsigned ControlStyle_ = 0;
    std::atomic<unsigned> ControlState_{0};
};

// A control without a window of its own: its parent paints it with the
// parent's DC, origin moved to the control's corner and clipped to its bounds.
class TGraphicControl : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TGraphicControl"; }
    // WM_PAINT with the DC in wParam: Paint with the canvas locked and bound
    // to that DC for the length of the paint, on whichever thread delivers it.
    LRESULT Perform(UINT message, WPARAM wParam, LPARAM lParam) override;
    virtual void Paint(HDC dc) = 0;
    // Has no surface of its own: bound to a DC only while a paint runs. Its
    // lock serialises paints of the control across threads.
    TCanvas& Canvas() { return Canvas_; }

private:
    TCanvas Canvas_;
};

// The screen's pixels per inch (system DPI).
int ScreenPixelsPerInch();
