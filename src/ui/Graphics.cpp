#include "ui/Graphics.h"

#include <cstring>

#include "ui/Reader.h"
#include "ui/WinText.h"

COLORREF ColorToRGB(TColor color) {
    if (IsSystemColor(color))
        return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0xFFFFFF);
}

TColor ReadColor(const TReader& reader, const TStoredValue& value) {
    if (std::holds_alternative<std::int64_t>(value))
        return static_cast<TColor>(reader.AsInteger(value));
    static const struct {
        const char* Name;
        TColor Color;
    } names[] = {
        {"clBlack", clBlack},         {"clWhite", clWhite},   {"clNone", clNone},
        {"clDefault", clDefault},     {"clWindow", clWindow}, {"clWindowText", clWindowText},
        {"clBtnFace", clBtnFace},     {"clBtnText", clBtnText},
    };
    const std::string& name = reader.AsIdent(value);
    for (const auto& entry : names)
        if (name == entry.Name)
            return entry.Color;
    reader.InvalidValue();
}

void TFont::SetName(std::string name) {
    if (name != Name_) {
        Name_ = std::move(name);
        Changed();
    }
}

void TFont::SetHeight(int height) {
    if (height != Height_) {
        Height_ = height;
        Changed();
    }
}

void TFont::SetStyle(unsigned style) {
    if (style != Style_) {
        Style_ = style;
        Changed();
    }
}

void TFont::SetColor(TColor color) {
    if (color != Color_) {
        Color_ = color;
        Changed();
    }
}

void TFont::SetCharset(int charset) {
    if (charset != Charset_) {
        Charset_ = charset;
        Changed();
    }
}

void TFont::Assign(const TFont& other) {
    Name_ = other.Name_;
    Height_ = other.Height_;
    Style_ = other.Style_;
    Color_ = other.Color_;
    Charset_ = other.Charset_;
    Changed();
}

void TFont::Changed() {
    Handle_.Reset();
    if (OnChange)
        OnChange();
}

HFONT TFont::Handle() const {
    if (!Handle_) {
        LOGFONTW font{};
        font.lfHeight = Height_;
        font.lfWeight = (Style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (Style_ & fsItalic) ? TRUE : FALSE;
        font.lfUnderline = (Style_ & fsUnderline) ? TRUE : FALSE;
        font.lfStrikeOut = (Style_ & fsStrikeOut) ? TRUE : FALSE;
        font.lfCharSet = static_cast<BYTE>(Charset_);
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = DEFAULT_QUALITY;
        font.lfPitchAndFamily = DEFAULT_PITCH;
        const std::wstring face = Utf8ToWide(Name_);
        wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
        Handle_.Reset(CreateFontIndirectW(&font));
    }
    return Handle_.Get();
}

bool TFont::ReadProperty(const TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "Name") {
        SetName(reader.AsString(value));
    } else if (name == "Height") {
        SetHeight(reader.AsInt(value));
    } else if (name == "Color") {
        SetColor(ReadColor(reader, value));
    } else if (name == "Charset") {
        static const struct {
            const char* Name;
            int Charset;
        } charsets[] = {{"ANSI_CHARSET", ANSI_CHARSET},
                        {"DEFAULT_CHARSET", DEFAULT_CHARSET},
                        {"EASTEUROPE_CHARSET", EASTEUROPE_CHARSET}};
        if (std::holds_alternative<std::int64_t>(value)) {
            SetCharset(reader.AsInt(value));
            return true;
        }
        const std::string& ident = reader.AsIdent(value);
        for (const auto& entry : charsets)
            if (ident == entry.Name) {
                SetCharset(entry.Charset);
                return true;
            }
        reader.InvalidValue();
    } else if (name == "Style") {
        unsigned style = 0;
        for (const std::string& item : reader.AsSet(value)) {
            if (item == "fsBold")
                style |= fsBold;
            else if (item == "fsItalic")
                style |= fsItalic;
            else if (item == "fsUnderline")
                style |= fsUnderline;
            else if (item == "fsStrikeOut")
                style |= fsStrikeOut;
            else
                reader.InvalidValue();
        }
        SetStyle(style);
    } else {
        return false;
    }
    return true;
}
