#pragma once
// Colours and fonts on the Windows side.

#include <windows.h>

#include <functional>
#include <string>

#include "rtl/Colors.h"
#include "ui/ScopedWin.h"
#include "ui/StoredDefinition.h"

class TReader;

// System colours resolved to RGB; other values pass through.
COLORREF ColorToRGB(TColor color);
// Colours in stored definitions: a number or a name such as clBtnFace.
TColor ReadColor(const TReader& reader, const TStoredValue& value);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font by name and pixel height (negative: character height, as in
// LOGFONT); the GDI font is made on first use and remade after a change.
class TFont {
public:
    const std::string& Name() const { return Name_; }
    void SetName(std::string name);
    int Height() const { return Height_; }
    void SetHeight(int height);
    unsigned Style() const { return Style_; }
    void SetStyle(unsigned style);
    TColor Color() const { return Color_; }
    void SetColor(TColor color);
    int Charset() const { return Charset_; }
    void SetCharset(int charset);

    void Assign(const TFont& other);
    HFONT Handle() const;

    // Sub-properties such as "Height" of a stored "Font.Height".
    bool ReadProperty(const TReader& reader, const std::string& name, const TStoredValue& value);

    std::function<void()> OnChange;

private:
    void Changed();

    std::string Name_ = "MS Sans Serif";
    int Height_ = -11;
    unsigned Style_ = 0;
    TColor Color_ = clWindowText;
    int Charset_ = DEFAULT_CHARSET;
    mutable TScopedFont Handle_;
};
