#pragma once
// TWinControl: a control that owns a window (system classes such as EDIT
// are subclassed) and is the parent of other controls.

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "win/CriticalSection.h"

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

    // The window, created (with the parents') when first needed; on the
    // window thread only (a worker never creates a window).
    HWND Handle();
    bool HandleAllocated() const { return Handle_.load() != nullptr; }
    // The window if it exists, else null; never creates it.
    HWND ExistingHandle() const { return Handle_.load(); }
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

    // Paints the visible windowless children that meet the area, bottom
    // first, each through its WM_PAINT with the DC clipped to its bounds and
    // the origin at its corner; from `first` upwards when given. Paint code
    // takes a DC so that it serves the screen and off-screen bitmaps alike.
    void PaintControls(HDC dc, const RECT& area, TControl* first = nullptr);
    // Paints the control's own content (not its children); the default has
    // none.
    virtual void PaintWindow(HDC dc) { (void)dc; }
    // Through the control's own message handling.
    LRESULT Perform(UINT message, WPARAM wParam, LPARAM lParam) override { return WndProc(message, wParam, lParam); }

    // A worker thread that paints a windowless child of this control (an
    // animator drawing on its timer's thread) draws through this control's
    // window, and does so only between TryEnterWorkerPaint and
    // LeaveWorkerPaint (TWorkerPaintEntry). The window thread closes the gate
    // while it changes the list of controls or the window and when the
    // control begins to be destroyed; a worker only tries it and skips its
    // paint rather than wait for the window thread. Inside, the worker still
    // finds out whether the window exists and the control is being destroyed;
    // it reads nothing else of this control.
    bool TryEnterWorkerPaint() { return TryAcquireSRWLockShared(&WorkerPaintGate_) != FALSE; }
    void LeaveWorkerPaint() { ReleaseSRWLockShared(&WorkerPaintGate_); }

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

    std::atomic<HWND> Handle_{nullptr};
    bool Subclassed_ = false;
    std::vector<TControl*> Controls_;
    int TabOrder_ = -1;
    bool TabStop_ = false;
    int ControlId_ = 0;
    bool Aligning_ = false;
    SRWLOCK WorkerPaintGate_ = SRWLOCK_INIT;
    int WorkerPaintClosed_ = 0;  // window thread only: the gate is recursive there

protected:
    // The window thread's side of the gate: recursive; waits for a worker's
    // paint under way. The wait serves no synchronised call: a painting
    // worker waits for nothing of the window thread, and a call served here
    // could change what the gate is closed for.
    void CloseWorkerPaint();
    void OpenWorkerPaint();
    using TWorkerPaintClosed = TScopedLock<TWinControl, &TWinControl::CloseWorkerPaint, &TWinControl::OpenWorkerPaint>;
};

// A worker's paint through a control's window: held when it could enter.
using TWorkerPaintEntry = TScopedTryLock<TWinControl, &TWinControl::TryEnterWorkerPaint, &TWinControl::LeaveWorkerPaint>;

// Reports an error escaping a message handler; defined by the application.
void HandleWindowException(TComponent* sender);
