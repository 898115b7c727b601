#include "ui/Forms.h"

#include <atomic>

#include "ui/Application.h"
#include "ui/Reader.h"

// ---- TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetVisible(false);
    SetParentFont(false);
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    {
        // Waits for a worker's paint under way; later ones see the state.
        TWorkerPaintClosed closed(*this);
        Destroying();
    }
    if (Application)
        Application->FormDestroyed(this);
    DestroyHandle();
}

void TForm::ReadDefinition(const TStoredComponent& definition) {
    TReader::ReadRoot(*this, definition);
    HandleNeeded();
}

void TForm::Loaded() {
    TWinControl::Loaded();
    if (StoredClientWidth_ >= 0 || StoredClientHeight_ >= 0)
        SetClientSize(StoredClientWidth_ >= 0 ? StoredClientWidth_ : ClientWidth(),
                      StoredClientHeight_ >= 0 ? StoredClientHeight_ : ClientHeight());
    // The layout is stored at PixelsPerInch; the screen may have more.
    const int screen = ScreenPixelsPerInch();
    if (screen > 0 && screen != PixelsPerInch_) {
        const int clientWidth = ClientWidth();
        const int clientHeight = ClientHeight();
        ChangeScale(screen, PixelsPerInch_);
        SetClientSize(MulDiv(clientWidth, screen, PixelsPerInch_), MulDiv(clientHeight, screen, PixelsPerInch_));
        PixelsPerInch_ = screen;
    }
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
    BorderStyle_ = style;
    if (HandleAllocated()) {
        TCreateParams params;
        CreateParams(params);
        SetWindowLongPtrW(Handle(), GWL_STYLE, static_cast<LONG_PTR>(params.Style | (Visible() ? WS_VISIBLE : 0)));
        SetWindowLongPtrW(Handle(), GWL_EXSTYLE, static_cast<LONG_PTR>(params.ExStyle));
        SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
}

void TForm::SetBorderIcons(unsigned icons) {
    BorderIcons_ = icons;
    SetBorderStyle(BorderStyle_);
}

void TForm::CreateParams(TCreateParams& params) const {
    TWinControl::CreateParams(params);
    params.WindowClass = L"KantrelForm";
    params.Style = WS_CLIPCHILDREN;
    params.ExStyle = WS_EX_CONTROLPARENT;
    switch (BorderStyle_) {
    case bsNone:
        params.Style |= WS_POPUP;
        break;
    case bsSingle:
        params.Style |= WS_CAPTION | WS_BORDER;
        break;
    case bsSizeable:
        params.Style |= WS_CAPTION | WS_THICKFRAME;
        break;
    case bsDialog:
        params.Style |= WS_POPUP | WS_CAPTION;
        params.ExStyle |= WS_EX_DLGMODALFRAME;
        break;
    case bsToolWindow:
        params.Style |= WS_CAPTION;
        params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    case bsSizeToolWin:
        params.Style |= WS_CAPTION | WS_THICKFRAME;
        params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    }
    if (BorderStyle_ != bsNone && (BorderIcons_ & biSystemMenu)) {
        params.Style |= WS_SYSMENU;
        if (BorderStyle_ == bsSingle || BorderStyle_ == bsSizeable) {
            if (BorderIcons_ & biMinimize)
                params.Style |= WS_MINIMIZEBOX;
            if (BorderIcons_ & biMaximize)
                params.Style |= WS_MAXIMIZEBOX;
        }
    }
    if (!Enabled())
        params.Style |= WS_DISABLED;
    // The first form of the application is its main form and has the
    // taskbar button; the others belong to the hidden main window.
    const bool mainForm = Application && Owner() == Application &&
                          (!Application->MainForm() || Application->MainForm() == this);
    if (mainForm || !Application || !Application->Handle()) {
        params.WndParent = nullptr;
        params.ExStyle |= WS_EX_APPWINDOW;
    } else {
        params.WndParent = Application->Handle();
    }
}

void TForm::HandleCreated() {
    if (Application) {
        SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Application->Icon(false)));
        SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Application->Icon(true)));
    }
}

namespace {

// Changes whenever the system's window metrics may have changed.
std::atomic<unsigned> FrameMetrics{0};

}  // namespace

// The border and title bar around the client area, for the form's styles.
// Kept until the styles or the system's metrics change: Wine measures the
// caption and menu fonts on every AdjustWindowRectEx, and each paint of a
// control that copies the form's background asks for the client size.
RECT TForm::FrameExtent() const {
    TCreateParams params;
    CreateParams(params);
    const unsigned metrics = FrameMetrics.load();
    TFrameCache& cache = FrameCache_;
    if (!cache.Valid || cache.Style != params.Style || cache.ExStyle != params.ExStyle || cache.Metrics != metrics) {
        RECT frame{0, 0, 0, 0};
        AdjustWindowRectEx(&frame, params.Style, FALSE, params.ExStyle);
        cache = TFrameCache{true, params.Style, params.ExStyle, metrics, frame};
    }
    return cache.Frame;
}

int TForm::ClientWidth() const {
    const RECT frame = FrameExtent();
    return Width() - (frame.right - frame.left);
}

int TForm::ClientHeight() const {
    const RECT frame = FrameExtent();
    return Height() - (frame.bottom - frame.top);
}

void TForm::SetClientSize(int width, int height) {
    RECT frame{0, 0, width, height};
    TCreateParams params;
    CreateParams(params);
    AdjustWindowRectEx(&frame, params.Style, FALSE, params.ExStyle);
    SetBounds(Left(), Top(), frame.right - frame.left, frame.bottom - frame.top);
}

void TForm::Show() { SetVisible(true); }

void TForm::VisibleChanged() {
    if (!Visible()) {
        if (HandleAllocated())
            ShowWindow(Handle(), SW_HIDE);
        return;
    }
    HandleNeeded();
    if (!Placed_) {
        PlaceForShow();
        Placed_ = true;
    }
    ShowWindow(Handle(), SW_SHOW);
}

void TForm::PlaceForShow() {
    switch (Position_) {
    case poDesigned:
        break;
    case poScreenCenter:
        CenterOver(nullptr);
        break;
    case poMainFormCenter:
        CenterOver(Application && Application->MainForm() != this ? Application->MainForm() : nullptr);
        break;
    case poOwnerFormCenter:
        CenterOver(dynamic_cast<TForm*>(Owner()));
        break;
    }
}

void TForm::CenterOver(TForm* form) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (form && form->HandleAllocated())
        GetWindowRect(form->Handle(), &area);
    const int left = area.left + (area.right - area.left - Width()) / 2;
    const int top = area.top + (area.bottom - area.top - Height()) / 2;
    SetBounds(left, top, Width(), Height());
}

void TForm::Close() {
    if (Application && Application->MainForm() == this)
        Application->Terminate();
    else
        Hide();
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        WMPaint();
        return 0;
    case WM_ERASEBKGND:
        WMEraseBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_ACTIVATE:
        WMActivate(LOWORD(wParam));
        return 0;
    case WM_SETFOCUS:
        WMSetFocus();
        return 0;
    case WM_QUERYNEWPALETTE:
        return RealizeControlPalettes(false) ? TRUE : FALSE;
    case WM_SETTINGCHANGE:
    case WM_DPICHANGED:
    case WM_THEMECHANGED:
        // Border and caption sizes may have changed for every form.
        FrameMetrics.fetch_add(1);
        return TWinControl::WndProc(message, wParam, lParam);
    case WM_PALETTECHANGED:
        // Another window realised its palette: ours go to the background.
        if (reinterpret_cast<HWND>(wParam) != Handle())
            RealizeControlPalettes(true);
        return 0;
    default:
        return TWinControl::WndProc(message, wParam, lParam);
    }
}

void TForm::WMPaint() {
    TScopedPaint paint(Handle());
    PaintControls(paint.Get(), paint.Area());
}

void TForm::WMEraseBackground(HDC dc) {
    // Also sent by a control that copies what lies behind it into a picture
    // of its own: no window needed.
    const RECT client{0, 0, ClientWidth(), ClientHeight()};
    TScopedBrush brush(CreateSolidBrush(ColorToRGB(Color())));
    FillRect(dc, &client, brush.Get());
}

bool TForm::RealizeControlPalettes(bool background) {
    if (!HandleAllocated())
        return false;
    bool realized = false;
    TScopedGetDC dc(Handle());
    for (int i = 0; i < ControlCount(); ++i) {
        TControl* control = Controls(i);
        HPALETTE palette = control->GetPalette();
        if (!palette)
            continue;
        TScopedSelectPalette selected(dc.Get(), palette, background, true);
        const UINT changed = RealizePalette(dc.Get());
        if (changed != 0 && changed != GDI_ERROR) {
            control->Invalidate();
            realized = true;
        }
    }
    return realized;
}

TForm* GetParentForm(TControl* control) {
    while (control && control->Parent())
        control = control->Parent();
    return dynamic_cast<TForm*>(control);
}

void TForm::ControlFocused(TWinControl* control) { FocusedWindow_ = control->Handle(); }

HWND TForm::FocusTarget() {
    if (FocusedWindow_ && IsWindow(FocusedWindow_) && IsChild(Handle(), FocusedWindow_) &&
        IsWindowVisible(FocusedWindow_) && IsWindowEnabled(FocusedWindow_))
        return FocusedWindow_;
    // Otherwise the first control in tab order that can take the focus.
    TWinControl* first = nullptr;
    for (int i = 0; i < ControlCount(); ++i) {
        auto* control = dynamic_cast<TWinControl*>(Controls(i));
        if (control && control->TabStop() && control->CanFocus() && (!first || control->TabOrder() < first->TabOrder()))
            first = control;
    }
    return first ? first->Handle() : nullptr;
}

void TForm::WMActivate(WORD state) {
    Active_ = state != WA_INACTIVE;
    if (state == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(Handle(), focus))
            FocusedWindow_ = focus;
        return;
    }
    if (IsIconic(Handle()))
        return;
    HWND target = FocusTarget();
    ::SetFocus(target ? target : Handle());
}

void TForm::WMSetFocus() {
    if (HWND target = FocusTarget())
        ::SetFocus(target);
}

bool TForm::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "BorderStyle") {
        static const char* const names[] = {"bsNone",   "bsSingle",     "bsSizeable",
                                            "bsDialog", "bsToolWindow", "bsSizeToolWin"};
        const std::string& ident = reader.AsIdent(value);
        for (int i = 0; i < 6; ++i)
            if (ident == names[i]) {
                SetBorderStyle(static_cast<TFormBorderStyle>(i));
                return true;
            }
        reader.InvalidValue();
    } else if (name == "BorderIcons") {
        unsigned icons = 0;
        for (const std::string& item : reader.AsSet(value)) {
            if (item == "biSystemMenu")
                icons |= biSystemMenu;
            else if (item == "biMinimize")
                icons |= biMinimize;
            else if (item == "biMaximize")
                icons |= biMaximize;
            else if (item == "biHelp")
                icons |= biHelp;
            else
                reader.InvalidValue();
        }
        SetBorderIcons(icons);
    } else if (name == "Position") {
        const std::string& ident = reader.AsIdent(value);
        if (ident == "poDesigned")
            Position_ = poDesigned;
        else if (ident == "poScreenCenter")
            Position_ = poScreenCenter;
        else if (ident == "poMainFormCenter")
            Position_ = poMainFormCenter;
        else if (ident == "poOwnerFormCenter")
            Position_ = poOwnerFormCenter;
        else
            reader.InvalidValue();
    } else if (name == "ClientWidth") {
        StoredClientWidth_ = reader.AsInt(value);
    } else if (name == "ClientHeight") {
        StoredClientHeight_ = reader.AsInt(value);
    } else if (name == "PixelsPerInch") {
        PixelsPerInch_ = reader.AsInt(value);
        if (PixelsPerInch_ <= 0)
            reader.InvalidValue();
    } else if (name == "TextHeight") {
        TextHeight_ = reader.AsInt(value);
    } else {
        return TWinControl::ReadProperty(reader, name, value);
    }
    return true;
}
