#include "ui/StdCtrls.h"

#include "ui/Reader.h"
#include "win/WinText.h"

// ---- TLabel

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
    SetParentColor(true);
    SetAutoSize(true);
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetAlignment(TAlignment alignment) {
    if (alignment != Alignment_) {
        Alignment_ = alignment;
        Invalidate();
    }
}

void TLabel::SetLayout(TTextLayout layout) {
    if (layout != Layout_) {
        Layout_ = layout;
        Invalidate();
    }
}

void TLabel::SetWordWrap(bool wordWrap) {
    if (wordWrap != WordWrap_) {
        WordWrap_ = wordWrap;
        AdjustSize();
        Invalidate();
    }
}

void TLabel::Loaded() {
    TGraphicControl::Loaded();
    AdjustSize();
}

void TLabel::TextChanged() {
    AdjustSize();
    Invalidate();
}

void TLabel::FontChanged() {
    AdjustSize();
    Invalidate();
}

UINT TLabel::TextFormat() const {
    UINT format = DT_NOPREFIX | DT_EXPANDTABS;
    format |= WordWrap_ ? DT_WORDBREAK : DT_SINGLELINE;
    if (Alignment_ == taCenter)
        format |= DT_CENTER;
    else if (Alignment_ == taRightJustify)
        format |= DT_RIGHT;
    return format;
}

void TLabel::AdjustSize() {
    if (!AutoSize() || IsLoading() || IsDestroying())
        return;
    std::wstring text = Utf8ToWide(Text());
    if (text.empty())
        text = L" ";  // an empty label keeps one line's height
    TScopedGetDC screen(nullptr);
    TScopedSelect font(screen.Get(), Font().Handle());
    RECT measured{0, 0, WordWrap_ ? Width() : 0, 0};
    DrawTextW(screen.Get(), text.c_str(), static_cast<int>(text.size()), &measured, TextFormat() | DT_CALCRECT);
    const int height = measured.bottom - measured.top;
    if (WordWrap_)
        SetBounds(Left(), Top(), Width(), height);
    else
        SetBounds(Left(), Top(), measured.right - measured.left, height);
}

void TLabel::SetTransparent(bool transparent) {
    if (transparent != Transparent_) {
        Transparent_ = transparent;
        Invalidate();
    }
}

void TLabel::Paint(HDC dc) {
    RECT bounds{0, 0, Width(), Height()};
    if (!Transparent_) {
        TScopedBrush brush(CreateSolidBrush(ColorToRGB(Color())));
        FillRect(dc, &bounds, brush.Get());
    }
    const std::wstring text = Utf8ToWide(Text());
    if (text.empty())
        return;
    TScopedSelect font(dc, Font().Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Enabled() ? ColorToRGB(Font().Color()) : GetSysColor(COLOR_GRAYTEXT));
    const UINT format = TextFormat();
    if (Layout_ != tlTop) {
        // DT_VCENTER only serves single lines: measure, then place the block.
        RECT measured = bounds;
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, format | DT_CALCRECT);
        const int height = measured.bottom - measured.top;
        const int spare = bounds.bottom - height;
        bounds.top = Layout_ == tlCenter ? spare / 2 : spare;
        bounds.bottom = bounds.top + height;
    }
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds, format);
}

bool TLabel::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "WordWrap") {
        SetWordWrap(reader.AsBoolean(value));
    } else if (name == "AutoSize") {
        SetAutoSize(reader.AsBoolean(value));
    } else if (name == "Transparent") {
        SetTransparent(reader.AsBoolean(value));
    } else if (name == "Alignment") {
        const std::string& ident = reader.AsIdent(value);
        if (ident == "taLeftJustify")
            SetAlignment(taLeftJustify);
        else if (ident == "taRightJustify")
            SetAlignment(taRightJustify);
        else if (ident == "taCenter")
            SetAlignment(taCenter);
        else
            reader.InvalidValue();
    } else if (name == "Layout") {
        const std::string& ident = reader.AsIdent(value);
        if (ident == "tlTop")
            SetLayout(tlTop);
        else if (ident == "tlCenter")
            SetLayout(tlCenter);
        else if (ident == "tlBottom")
            SetLayout(tlBottom);
        else
            reader.InvalidValue();
    } else {
        return TGraphicControl::ReadProperty(reader, name, value);
    }
    return true;
}

// ---- TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 121, 21);
    SetTabStop(true);
    SetColor(clWindow);
}

void TEdit::SetMaxLength(int maxLength) {
    MaxLength_ = maxLength;
    if (HandleAllocated())
        SendMessageW(Handle(), EM_SETLIMITTEXT, static_cast<WPARAM>(maxLength), 0);
}

void TEdit::SetPasswordChar(wchar_t passwordChar) {
    PasswordChar_ = passwordChar;
    if (HandleAllocated()) {
        SendMessageW(Handle(), EM_SETPASSWORDCHAR, passwordChar, 0);
        Invalidate();
    }
}

void TEdit::CreateParams(TCreateParams& params) const {
    TWinControl::CreateParams(params);
    params.WindowClass = L"EDIT";
    params.SystemClass = true;
    params.Style |= ES_AUTOHSCROLL | ES_LEFT;
    params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TEdit::HandleCreated() {
    // 0 lifts the default limit to the largest the system allows.
    SendMessageW(Handle(), EM_SETLIMITTEXT, static_cast<WPARAM>(MaxLength_), 0);
    SendMessageW(Handle(), EM_SETPASSWORDCHAR, PasswordChar_, 0);
}

LRESULT TEdit::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR) {
        auto key = static_cast<wchar_t>(wParam);
        KeyPress(key);
        if (key == 0)
            return 0;
        wParam = key;
    } else if (message == WM_SETFOCUS && AutoSelect_ && !(GetKeyState(VK_LBUTTON) & 0x8000)) {
        const LRESULT result = TWinControl::WndProc(message, wParam, lParam);
        SendMessageW(Handle(), EM_SETSEL, 0, -1);
        return result;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

void TEdit::KeyPress(wchar_t& key) {
    if (OnKeyPress)
        OnKeyPress(this, key);
}

bool TEdit::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "Text") {
        SetText(reader.AsString(value));
    } else if (name == "MaxLength") {
        SetMaxLength(reader.AsInt(value));
    } else if (name == "PasswordChar") {
        const std::wstring text = Utf8ToWide(reader.AsString(value));
        if (text.size() > 1)
            reader.InvalidValue();
        SetPasswordChar(text.empty() ? 0 : text[0]);
    } else if (name == "AutoSelect") {
        SetAutoSelect(reader.AsBoolean(value));
    } else if (name == "OnKeyPress") {
        OnKeyPress = reader.AsKeyPressEvent(value);
    } else if (name == "Caption") {
        return false;  // an edit has Text, not Caption
    } else {
        return TWinControl::ReadProperty(reader, name, value);
    }
    return true;
}

// ---- TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 75, 25);
    SetTabStop(true);
}

void TButton::CreateParams(TCreateParams& params) const {
    TWinControl::CreateParams(params);
    params.WindowClass = L"BUTTON";
    params.SystemClass = true;
    params.Style |= BS_PUSHBUTTON;
}

void TButton::CommandNotify(WORD code) {
    if (code == BN_CLICKED)
        Click();
}

void TButton::Click() {
    if (OnClick)
        OnClick(this);
}

bool TButton::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "OnClick")
        OnClick = reader.AsNotifyEvent(value);
    else
        return TWinControl::ReadProperty(reader, name, value);
    return true;
}
