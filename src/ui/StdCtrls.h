#pragma once
// Standard controls: the windowless label, the single-line edit field and the
// push button.

#include "ui/WinControl.h"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// Static text painted by its parent.
class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent* owner);
    const char* ClassName() const override { return "TLabel"; }

    TAlignment Alignment() const { return Alignment_; }
    void SetAlignment(TAlignment alignment);
    TTextLayout Layout() const { return Layout_; }
    void SetLayout(TTextLayout layout);
    bool WordWrap() const { return WordWrap_; }
    void SetWordWrap(bool wordWrap);
    // Transparent: the parent's surface shows through; otherwise the label
    // fills its bounds with Color (the parent's while ParentColor is on).
    bool Transparent() const { return Transparent_; }
    void SetTransparent(bool transparent);
    void Paint(HDC dc) override;
    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

protected:
    void Loaded() override;
    void TextChanged() override;
    void FontChanged() override;

private:
    // With AutoSize on (the default) the label fits itself to its text:
    // width and height for one line, the height alone when it wraps. Stored
    // bounds were measured with the designer's fonts; a substituted font may
    // need more room.
    void AdjustSize() override;
    UINT TextFormat() const;

    TAlignment Alignment_ = taLeftJustify;
    TTextLayout Layout_ = tlTop;
    bool WordWrap_ = false;
    bool Transparent_ = false;
};

// A single-line EDIT control. OnKeyPress sees every typed character before it
// is inserted; text that arrives by pasting does not pass through it.
class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* owner);
    const char* ClassName() const override { return "TEdit"; }

    // 0: no limit (beyond the system's own).
    int MaxLength() const { return MaxLength_; }
    void SetMaxLength(int maxLength);
    // 0: the text is shown in clear.
    wchar_t PasswordChar() const { return PasswordChar_; }
    void SetPasswordChar(wchar_t passwordChar);
    // Entering the field by keyboard or by the window's activation selects
    // its whole text.
    bool AutoSelect() const { return AutoSelect_; }
    void SetAutoSelect(bool autoSelect) { AutoSelect_ = autoSelect; }

    TKeyPressEvent OnKeyPress;

    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

protected:
    void CreateParams(TCreateParams& params) const override;
    void HandleCreated() override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    virtual void KeyPress(wchar_t& key);

private:
    int MaxLength_ = 0;
    wchar_t PasswordChar_ = 0;
    bool AutoSelect_ = true;
};

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    const char* ClassName() const override { return "TButton"; }

    // Runs OnClick as a press of the button does.
    virtual void Click();
    TNotifyEvent OnClick;

    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

protected:
    void CreateParams(TCreateParams& params) const override;
    void CommandNotify(WORD code) override;
};
