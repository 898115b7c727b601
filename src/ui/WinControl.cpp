#include "ui/WinControl.h"

#include <commctrl.h>

#include <algorithm>
#include <set>

#include "rtl/Errors.h"
#include "ui/Reader.h"
#include "ui/Synchronize.h"
#include "win/WinText.h"

namespace {

// Our windows carry their control in this property.
constexpr const wchar_t* ControlProperty = L"Kantrel.Control";
constexpr UINT_PTR SubclassId = 1;

}  // namespace


TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    {
        // Waits for a worker's paint under way; later ones see the state.
        TWorkerPaintClosed closed(*this);
        Destroying();
    }
    DestroyHandle();
    while (!Controls_.empty())
        Controls_.back()->SetParent(nullptr);
}

TWinControl* TWinControl::FromHandle(HWND window) {
    return window ? static_cast<TWinControl*>(GetPropW(window, ControlProperty)) : nullptr;
}

TControl* TWinControl::Controls(int index) const {
    if (index < 0 || index >= ControlCount())
        RaiseListIndexError(index);
    return Controls_[static_cast<size_t>(index)];
}

void TWinControl::SetParent(TWinControl* parent) {
    if (parent == Parent())
        return;
    DestroyHandle();
    TControl::SetParent(parent);
    if (parent && parent->HandleAllocated())
        CreateHandle();
}

void TWinControl::CloseWorkerPaint() {
    if (WorkerPaintClosed_ == 0)
        AcquireSRWLockExclusive(&WorkerPaintGate_);
    ++WorkerPaintClosed_;
}

void TWinControl::OpenWorkerPaint() {
    if (--WorkerPaintClosed_ == 0)
        ReleaseSRWLockExclusive(&WorkerPaintGate_);
}

void TWinControl::InsertControl(TControl* control) {
    TWorkerPaintClosed closed(*this);
    Controls_.push_back(control);
    if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
        windowed->TabOrder_ = static_cast<int>(TabList().size()) - 1;
        windowed->ControlId_ = 100 + static_cast<int>(Controls_.size());
    }
}

void TWinControl::RemoveControl(TControl* control) {
    TWorkerPaintClosed closed(*this);
    auto it = std::find(Controls_.begin(), Controls_.end(), control);
    if (it != Controls_.end())
        Controls_.erase(it);
}

std::vector<TWinControl*> TWinControl::TabList() const {
    std::vector<TWinControl*> list;
    for (TControl* control : Controls_)
        if (auto* windowed = dynamic_cast<TWinControl*>(control))
            list.push_back(windowed);
    std::stable_sort(list.begin(), list.end(),
                     [](const TWinControl* a, const TWinControl* b) { return a->TabOrder_ < b->TabOrder_; });
    return list;
}

void TWinControl::SetTabOrder(int order) {
    if (!Parent()) {
        TabOrder_ = order;
        return;
    }
    // Moves this control to that place; the others keep their sequence.
    std::vector<TWinControl*> list = Parent()->TabList();
    list.erase(std::find(list.begin(), list.end(), this));
    const size_t place = std::clamp<size_t>(order < 0 ? list.size() : static_cast<size_t>(order), 0, list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(place), this);
    for (size_t i = 0; i < list.size(); ++i)
        list[i]->TabOrder_ = static_cast<int>(i);
    Parent()->ArrangeTabOrder();
}

void TWinControl::ArrangeTabOrder() {
    if (!Handle_)
        return;
    HWND after = HWND_TOP;
    for (TWinControl* control : TabList()) {
        if (!control->Handle_)
            continue;
        SetWindowPos(control->Handle_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control->Handle_;
    }
}

void TWinControl::SetTabStop(bool tabStop) {
    if (tabStop == TabStop_)
        return;
    TabStop_ = tabStop;
    if (Handle_) {
        LONG_PTR style = GetWindowLongPtrW(Handle_, GWL_STYLE);
        style = tabStop ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        SetWindowLongPtrW(Handle_, GWL_STYLE, style);
    }
}

bool TWinControl::Focused() const { return Handle_ && GetFocus() == Handle_; }

bool TWinControl::CanFocus() const {
    for (const TControl* control = this; control; control = control->Parent())
        if (!control->Visible() || !control->Enabled())
            return false;
    return true;
}

void TWinControl::SetFocus() { ::SetFocus(Handle()); }

HWND TWinControl::Handle() {
    if (!Handle_)
        CreateHandle();
    return Handle_;
}

void TWinControl::CreateParams(TCreateParams& params) const {
    params.WindowClass = L"KantrelControl";
    params.Caption = Utf8ToWide(Text_);
    params.Style = WS_CHILD | WS_CLIPSIBLINGS;
    if (Visible())
        params.Style |= WS_VISIBLE;
    if (TabStop_)
        params.Style |= WS_TABSTOP;
    if (!Enabled())
        params.Style |= WS_DISABLED;
    params.X = Left();
    params.Y = Top();
    params.Width = Width();
    params.Height = Height();
    params.WndParent = Parent() ? Parent()->ExistingHandle() : nullptr;
}

namespace {

void RegisterOwnClass(const std::wstring& name, WNDPROC procedure) {
    static std::set<std::wstring> registered;
    if (registered.count(name))
        return;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.lpszClassName = name.c_str();
    if (!RegisterClassExW(&windowClass))
        throw Exception(Format("Cannot register the window class %s", WideToUtf8(name).c_str()));
    registered.insert(name);
}

}  // namespace

void TWinControl::CreateHandle() {
    if (Handle_)
        return;
    // A window belongs to the thread that creates it: a worker's would die
    // with the worker, and its messages would wait for it.
    if (!InMainThread())
        throw EInvalidOperation(Format("Cannot create the window of %s on a worker thread", Name().c_str()));
    if (Parent() && !Parent()->HandleAllocated()) {
        Parent()->CreateHandle();  // creates this control's window too
        if (Handle_)
            return;
    }
    TCreateParams params;
    CreateParams(params);
    if (!params.SystemClass)
        RegisterOwnClass(params.WindowClass, StdWndProc);
    const auto menu = (params.Style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId_)) : nullptr;
    HWND window = CreateWindowExW(params.ExStyle, params.WindowClass.c_str(), params.Caption.c_str(), params.Style,
                                  params.X, params.Y, params.Width, params.Height, params.WndParent, menu,
                                  GetModuleHandleW(nullptr), params.SystemClass ? nullptr : this);
    if (!window)
        throw Exception(Format("Cannot create the window of %s", Name().c_str()));
    if (params.SystemClass) {
        Bind(window);
        SetWindowSubclass(window, SubclassProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
        Subclassed_ = true;
    }
    // The window may differ from the request (minimum sizes, DPI).
    RECT bounds;
    GetWindowRect(Handle_, &bounds);
    if (params.Style & WS_CHILD)
        MapWindowPoints(nullptr, params.WndParent, reinterpret_cast<POINT*>(&bounds), 2);
    StoreBounds(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
    SendMessageW(Handle_, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
    for (TWinControl* control : TabList())
        control->CreateHandle();
    ArrangeTabOrder();
    HandleCreated();
}

void TWinControl::DestroyHandle() {
    if (!Handle_)
        return;
    TWorkerPaintClosed closed(*this);
    DestroyWindow(Handle_);
    if (Handle_)
        Unbind();
}

void TWinControl::Bind(HWND window) {
    Handle_ = window;
    SetPropW(window, ControlProperty, this);
}

void TWinControl::Unbind() {
    if (!Handle_)
        return;
    if (Subclassed_)
        RemoveWindowSubclass(Handle_, SubclassProc, SubclassId);
    RemovePropW(Handle_, ControlProperty);
    Subclassed_ = false;
    Handle_ = nullptr;
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        static_cast<TWinControl*>(create->lpCreateParams)->Bind(window);
    }
    TWinControl* control = FromHandle(window);
    if (!control)
        return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = control->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        control->Unbind();
    return result;
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
    auto* control = reinterpret_cast<TWinControl*>(data);
    if (control->Handle_ != window)
        return DefSubclassProc(window, message, wParam, lParam);
    const LRESULT result = control->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        control->Unbind();
    return result;
}

LRESULT TWinControl::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    // No C++ error may cross the system's frames.
    try {
        return WndProc(message, wParam, lParam);
    } catch (...) {
        HandleWindowException(this);
        return 0;
    }
}

LRESULT TWinControl::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
    return Subclassed_ ? DefSubclassProc(Handle_, message, wParam, lParam)
                       : DefWindowProcW(Handle_, message, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam) {
            WMCommand(wParam, lParam);
            return 0;
        }
        break;
    case WM_WINDOWPOSCHANGED:
        WMWindowPosChanged();
        break;
    case WM_SIZE:
        WMSize();
        break;
    case WM_SETFOCUS: {
        TWinControl* top = this;
        while (top->Parent())
            top = top->Parent();
        if (top != this)
            top->ControlFocused(this);
        break;
    }
    case WM_DESTROY:
        // The text outlives the window.
        Text_ = Text();
        break;
    default:
        break;
    }
    return DefaultHandler(message, wParam, lParam);
}

void TWinControl::WMCommand(WPARAM wParam, LPARAM lParam) {
    TWinControl* control = FromHandle(reinterpret_cast<HWND>(lParam));
    if (control && control->Parent() == this)
        control->CommandNotify(HIWORD(wParam));
}

void TWinControl::WMWindowPosChanged() {
    RECT bounds;
    GetWindowRect(Handle_, &bounds);
    if (Parent() && Parent()->Handle_)
        MapWindowPoints(nullptr, Parent()->Handle_, reinterpret_cast<POINT*>(&bounds), 2);
    StoreBounds(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
}

std::string TWinControl::Text() const {
    if (!Handle_)
        return Text_;
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(Handle_)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(Handle_, text.data(), static_cast<int>(text.size()))));
    return WideToUtf8(text);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (!Handle_) {
        TControl::SetBounds(left, top, width, height);
        return;
    }
    // The fields follow from WM_WINDOWPOSCHANGED.
    SetWindowPos(Handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (Align() != alNone && Parent())
        Parent()->AlignControls();
}

void TWinControl::Invalidate() {
    if (Handle_)
        InvalidateRect(Handle_, nullptr, TRUE);
}

void TWinControl::ChangeScale(int multiplier, int divisor) {
    TControl::ChangeScale(multiplier, divisor);
    for (TControl* control : Controls_)
        control->ChangeScale(multiplier, divisor);
}

bool TWinControl::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "TabOrder")
        SetTabOrder(reader.AsInt(value));
    else if (name == "TabStop")
        SetTabStop(reader.AsBoolean(value));
    else
        return TControl::ReadProperty(reader, name, value);
    return true;
}

void TWinControl::PaintControls(HDC dc, const RECT& area, TControl* first) {
    auto from = Controls_.begin();
    if (first)
        from = std::find(Controls_.begin(), Controls_.end(), first);
    for (auto it = from; it != Controls_.end(); ++it) {
        auto* graphic = dynamic_cast<TGraphicControl*>(*it);
        if (!graphic || !graphic->Visible())
            continue;
        const RECT bounds = graphic->BoundsRect();
        RECT common;
        if (!IntersectRect(&common, &bounds, &area))
            continue;
        TScopedSaveDC saved(dc);
        IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
        POINT origin;
        GetWindowOrgEx(dc, &origin);
        SetWindowOrgEx(dc, origin.x - bounds.left, origin.y - bounds.top, nullptr);
        graphic->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    }
}

void TWinControl::TextChanged() {
    if (Handle_)
        SetWindowTextW(Handle_, Utf8ToWide(Text_).c_str());
}

void TWinControl::FontChanged() {
    if (Handle_)
        SendMessageW(Handle_, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), TRUE);
    for (TControl* control : Controls_)
        if (control->ParentFont())
            control->FontChanged();
}

void TWinControl::ColorChanged() {
    Invalidate();
    for (TControl* control : Controls_)
        if (control->ParentColor())
            control->ColorChanged();
}

void TWinControl::EnabledChanged() {
    if (Handle_)
        EnableWindow(Handle_, Enabled());
}

void TWinControl::VisibleChanged() {
    if (Handle_)
        ShowWindow(Handle_, Visible() ? SW_SHOW : SW_HIDE);
}

void TWinControl::BoundsChanged() {
    // With a window, WM_SIZE does it.
    if (!Handle_)
        AlignControls();
}

void TWinControl::WMSize() { AlignControls(); }

void TWinControl::Loaded() {
    TControl::Loaded();
    AlignControls();
}

void TWinControl::AlignControls() {
    if (Aligning_ || IsLoading() || IsDestroying())
        return;
    Aligning_ = true;
    RECT rest{0, 0, ClientWidth(), ClientHeight()};
    auto place = [&](TAlign align) {
        std::vector<TControl*> aligned;
        for (TControl* control : Controls_)
            if (control->Align_ == align && control->Visible())
                aligned.push_back(control);
        // Stacked in the order of their positions, first created first on a tie.
        std::stable_sort(aligned.begin(), aligned.end(), [align](const TControl* a, const TControl* b) {
            switch (align) {
            case alBottom:
                return a->Top_ + a->Height_ > b->Top_ + b->Height_;
            case alLeft:
                return a->Left_ < b->Left_;
            case alRight:
                return a->Left_ + a->Width_ > b->Left_ + b->Width_;
            default:
                return a->Top_ < b->Top_;
            }
        });
        for (TControl* control : aligned) {
            const int width = control->Width_;
            const int height = control->Height_;
            switch (align) {
            case alTop:
                control->SetBounds(rest.left, rest.top, rest.right - rest.left, height);
                rest.top += height;
                break;
            case alBottom:
                rest.bottom -= height;
                control->SetBounds(rest.left, rest.bottom, rest.right - rest.left, height);
                break;
            case alLeft:
                control->SetBounds(rest.left, rest.top, width, rest.bottom - rest.top);
                rest.left += width;
                break;
            case alRight:
                rest.right -= width;
                control->SetBounds(rest.right, rest.top, width, rest.bottom - rest.top);
                break;
            default:
                control->SetBounds(rest.left, rest.top, rest.right - rest.left, rest.bottom - rest.top);
                break;
            }
        }
    };
    try {
        for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient})
            place(align);
    } catch (...) {
        Aligning_ = false;
        throw;
    }
    Aligning_ = false;
}
