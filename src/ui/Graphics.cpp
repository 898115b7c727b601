#include "ui/Graphics.h"

#include "ui/Reader.h"

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

bool ReadFontProperty(TFont& font, const TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "Name") {
        font.SetName(reader.AsString(value));
    } else if (name == "Height") {
        font.SetHeight(reader.AsInt(value));
    } else if (name == "Color") {
        font.SetColor(ReadColor(reader, value));
    } else if (name == "Charset") {
        static const struct {
            const char* Name;
            int Charset;
        } charsets[] = {{"ANSI_CHARSET", ANSI_CHARSET},
                        {"DEFAULT_CHARSET", DEFAULT_CHARSET},
                        {"EASTEUROPE_CHARSET", EASTEUROPE_CHARSET}};
        if (std::holds_alternative<std::int64_t>(value)) {
            font.SetCharset(reader.AsInt(value));
            return true;
        }
        const std::string& ident = reader.AsIdent(value);
        for (const auto& entry : charsets)
            if (ident == entry.Name) {
                font.SetCharset(entry.Charset);
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
        font.SetStyle(style);
    } else {
        return false;
    }
    return true;
}
