#pragma once
// Controls: TControl (position, size, text, colour, font), TGraphicControl
// (windowless, painted by its parent through the parent's DC) and
// TWinControl (owns a window; system classes such as EDIT are subclassed).

#include <windows.h>

#include <string>
#include <vector>

#include "ui/Component.h"
#include "ui/Graphics.h"

class TWinControl;

// Docking to an edge of the parent's client area: aligned controls are laid
// out edge by edge (top, bottom, left, right) in the order of their
// positions, then alClient takes what is left.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

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

    std::string Text_;

private:
    friend class TWinControl;
    TWinControl* Parent_ = nullptr;
    int Left_ = 0;
    int Top_ = 0;
    int Width_ = 0;
    int Height_ = 0;
    bool Visible_ = true;
    bool Enabled_ = true;
    TAlign Align_ = alNone;
    TColor Color_ = clBtnFace;
    bool ParentColor_ = false;
    TFont Font_;
    bool ParentFont_ = true;
};

// A control without a window of its own: its parent paints it with the
// parent's DC, origin moved to the control's corner and clipped to its bounds.
class TGraphicControl : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TGraphicControl"; }
    virtual void Paint(HDC dc) = 0;
};

// What CreateWnd passes to CreateWindowExW.
struct TCreateParams {
    std::wstring WindowClass;
    bool SystemClass = false;  // a class of the system (EDIT, BUTTON): subclassed
    std::wstring Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;
    const char* ClassName() const override { return "TWinControl"; }

    // The window, created (with the parents') when first needed.
    HWND Handle();
    bool HandleAllocated() const { return Handle_ != nullptr; }
    void HandleNeeded() { Handle(); }
    // Our control behind a window, or null for any other window.
    static TWinControl* FromHandle(HWND window);
    void SetParent(TWinControl* parent) override;

    int ControlCount() const { return static_cast<int>(Controls_.size()); }
    TControl* Controls(int index) const;

    // Position in the parent's tab order; windows are stacked in that order,
    // which is the order the dialog keys follow.
    int TabOrder() const { return TabOrder_; }
    void SetTabOrder(int order);
    bool TabStop() const { return TabStop_; }
    void SetTabStop(bool tabStop);
    bool Focused() const;
    void SetFocus();
    bool CanFocus() const;

    std::string Text() const override;
    void SetBounds(int left, int top, int width, int height) override;
    void Invalidate() override;
    void ChangeScale(int multiplier, int divisor) override;
    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

    // Lays out the aligned children in the client area.
    void AlignControls();

    // Paints the windowless children that meet the area; paint code takes a
    // DC so that it serves the screen and off-screen bitmaps alike.
    void PaintControls(HDC dc, const RECT& area);

protected:
    virtual void CreateParams(TCreateParams& params) const;
    void CreateHandle();
    void DestroyHandle();
    // The first window message handler of every control; one handler per
    // message, everything else goes to DefaultHandler.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_COMMAND notifications the parent hands back to the control.
    virtual void CommandNotify(WORD code) { (void)code; }
    // After the window and its children exist.
    virtual void HandleCreated() {}
    // Told to the top-level control when one of its controls takes the focus.
    virtual void ControlFocused(TWinControl* control) { (void)control; }

    void TextChanged() override;
    void FontChanged() override;
    void ColorChanged() override;
    void EnabledChanged() override;
    void VisibleChanged() override;
    void BoundsChanged() override;
    void Loaded() override;

private:
    friend class TControl;
    static LRESULT CALLBACK StdWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    // Runs WndProc; an error that escapes goes to the central error reporting.
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void Bind(HWND window);
    void Unbind();
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    std::vector<TWinControl*> TabList() const;
    void ArrangeTabOrder();
    void WMCommand(WPARAM wParam, LPARAM lParam);
    void WMWindowPosChanged();
    void WMSize();

    HWND Handle_ = nullptr;
    bool Subclassed_ = false;
    std::vector<TControl*> Controls_;
    int TabOrder_ = -1;
    bool TabStop_ = false;
    int ControlId_ = 0;
    bool Aligning_ = false;
};

// Reports an error escaping a message handler; defined by the application.
void HandleWindowException(TComponent* sender);
// The screen's pixels per inch (system DPI).
int ScreenPixelsPerInch();
