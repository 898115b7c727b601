#include "ui/Controls.h"

#include "ui/Reader.h"
#include "ui/WinControl.h"

int ScreenPixelsPerInch() {
    TScopedGetDC screen(nullptr);
    return GetDeviceCaps(screen.Get(), LOGPIXELSY);
}

// ---- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {
    Font_.OnChange = [this] {
        ParentFont_ = false;
        FontChanged();
    };
}

TControl::~TControl() {
    Destroying();
    if (Parent_)
        SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == Parent_)
        return;
    if (Parent_) {
        Invalidate();
        Parent_->RemoveControl(this);
    }
    Parent_ = parent;
    if (Parent_) {
        Parent_->InsertControl(this);
        Invalidate();
    }
}

void TControl::SetParentComponent(TComponent* parent) {
    if (auto* control = dynamic_cast<TWinControl*>(parent))
        SetParent(control);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (AutoSize_)
        CanAutoSize(width, height);
    if (left == Left_ && top == Top_ && width == Width_ && height == Height_)
        return;
    Invalidate();
    StoreBounds(left, top, width, height);
    BoundsChanged();
    if (Align_ != alNone && Parent_)
        Parent_->AlignControls();
}

void TControl::SetAlign(TAlign align) {
    if (align != Align_) {
        Align_ = align;
        if (Parent_)
            Parent_->AlignControls();
    }
}

void TControl::StoreBounds(int left, int top, int width, int height) {
    Left_ = left;
    Top_ = top;
    Width_ = width;
    Height_ = height;
}

void TControl::BoundsChanged() { Invalidate(); }

void TControl::SetVisible(bool visible) {
    if (visible != Visible_) {
        Visible_ = visible;
        VisibleChanged();
    }
}

void TControl::VisibleChanged() {
    Invalidate();
    if (Align_ != alNone && Parent_)
        Parent_->AlignControls();
}

void TControl::SetEnabled(bool enabled) {
    if (enabled != Enabled_) {
        Enabled_ = enabled;
        EnabledChanged();
    }
}

void TControl::SetText(const std::string& text) {
    if (text != Text()) {
        Text_ = text;
        TextChanged();
    }
}

TColor TControl::Color() const { return ParentColor_ && Parent_ ? Parent_->Color() : Color_.load(); }

void TControl::SetColor(TColor color) {
    if (color != Color_ || ParentColor_) {
        Color_ = color;
        ParentColor_ = false;
        ColorChanged();
    }
}

void TControl::SetParentColor(bool parentColor) {
    if (parentColor != ParentColor_) {
        ParentColor_ = parentColor;
        ColorChanged();
    }
}

const TFont& TControl::Font() const { return ParentFont_ && Parent_ ? Parent_->Font() : Font_; }

void TControl::SetParentFont(bool parentFont) {
    if (parentFont != ParentFont_) {
        ParentFont_ = parentFont;
        FontChanged();
    }
}

void TControl::Invalidate() {
    if (Parent_ && Parent_->HandleAllocated()) {
        const RECT bounds = BoundsRect();
        // Beneath an opaque control the background is not erased.
        InvalidateRect(Parent_->Handle_, &bounds, (ControlStyle_ & csOpaque) == 0);
    }
}

void TControl::Update() {
    if (Parent_ && Parent_->HandleAllocated())
        UpdateWindow(Parent_->Handle_);
}

void TControl::Repaint() {
    if (!Visible_ || !Parent_ || !Parent_->HandleAllocated())
        return;
    if (ControlStyle_ & csOpaque) {
        TScopedGetDC dc(Parent_->Handle_);
        IntersectClipRect(dc.Get(), Left_, Top_, Left_ + Width_, Top_ + Height_);
        Parent_->PaintControls(dc.Get(), BoundsRect(), this);
    } else {
        Invalidate();
        Update();
    }
}

LRESULT TControl::Perform(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)message;
    (void)wParam;
    (void)lParam;
    return 0;
}

LRESULT TGraphicControl::Perform(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT || !wParam)
        return TControl::Perform(message, wParam, lParam);
    // A plain wait: a worker that paints this control holds the lock only
    // while it makes pixels, never while it waits for the window thread.
    TCanvasLock lock(Canvas_);
    // Bound for this paint only, also when it fails.
    struct TBinding {
        TCanvas& Canvas;
        ~TBinding() { Canvas.SetHandle(nullptr); }
    } binding{Canvas_};
    Canvas_.SetHandle(reinterpret_cast<HDC>(wParam));
    Paint(reinterpret_cast<HDC>(wParam));
    return 0;
}

void TControl::SetAutoSize(bool autoSize) {
    if (autoSize != AutoSize_) {
        AutoSize_ = autoSize;
        AdjustSize();
    }
}

void TControl::ChangeScale(int multiplier, int divisor) {
    SetBounds(MulDiv(Left_, multiplier, divisor), MulDiv(Top_, multiplier, divisor),
              MulDiv(Width_, multiplier, divisor), MulDiv(Height_, multiplier, divisor));
    if (!ParentFont_)
        Font_.SetHeight(MulDiv(Font_.Height(), multiplier, divisor));
}

bool TControl::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "Left")
        SetBounds(reader.AsInt(value), Top_, Width_, Height_);
    else if (name == "Top")
        SetBounds(Left_, reader.AsInt(value), Width_, Height_);
    else if (name == "Width")
        SetBounds(Left_, Top_, reader.AsInt(value), Height_);
    else if (name == "Height")
        SetBounds(Left_, Top_, Width_, reader.AsInt(value));
    else if (name == "Caption")
        SetText(reader.AsString(value));
    else if (name == "Visible")
        SetVisible(reader.AsBoolean(value));
    else if (name == "Enabled")
        SetEnabled(reader.AsBoolean(value));
    else if (name == "Color")
        SetColor(ReadColor(reader, value));
    else if (name == "Align") {
        static const char* const names[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};
        const std::string& ident = reader.AsIdent(value);
        int index = 0;
        while (index < 6 && ident != names[index])
            ++index;
        if (index == 6)
            reader.InvalidValue();
        SetAlign(static_cast<TAlign>(index));
    } else if (name == "ParentColor")
        SetParentColor(reader.AsBoolean(value));
    else if (name == "ParentFont")
        SetParentFont(reader.AsBoolean(value));
    else if (name.rfind("Font.", 0) == 0)
        return ReadFontProperty(Font_, reader, name.substr(5), value);
    else
        return TComponent::ReadProperty(reader, name, value);
    return true;
}
