#include "app/uSplash.h"

#include "ui/Reader.h"
#include "ui/ScopedWin.h"

TFoSplash* FoSplash = nullptr;

namespace {

// Holds the animation strip's place until the GIF animator takes it: shows
// the window's background, as the animation's transparent pixels will.
class TStripPlaceholder : public TGraphicControl {
public:
    explicit TStripPlaceholder(TComponent* owner) : TGraphicControl(owner) { SetParentColor(true); }
    const char* ClassName() const override { return "TStripPlaceholder"; }
    void Paint(HDC dc) override {
        const RECT bounds{0, 0, Width(), Height()};
        TScopedBrush brush(CreateSolidBrush(ColorToRGB(Color())));
        FillRect(dc, &bounds, brush.Get());
    }
};

// One band of text, centred both ways, black on the window's background; the
// Central European character set, so that the font has the Polish letters.
TStoredComponent Band(const char* name, int top, int height, const char* caption, int fontHeight) {
    return {"TLabel",
            name,
            {
                {"Left", 0},
                {"Top", top},
                {"Width", 413},
                {"Height", height},
                {"Align", Ident("alTop")},
                {"Alignment", Ident("taCenter")},
                {"AutoSize", Ident("False")},
                {"Caption", caption},
                {"Font.Charset", Ident("EASTEUROPE_CHARSET")},
                {"Font.Color", Ident("clBlack")},
                {"Font.Height", fontHeight},
                {"Font.Name", "MS Sans Serif"},
                {"Font.Style", IdentSet({})},
                {"ParentFont", Ident("False")},
                {"Layout", Ident("tlCenter")},
            },
            {}};
}

}  // namespace

const TStoredComponent& TFoSplash::Definition() {
    static const TStoredComponent definition{
        "TFoSplash",
        "FoSplash",
        {
            {"Left", 437},
            {"Top", 347},
            {"BorderStyle", Ident("bsNone")},
            {"Caption", "FoSplash"},
            {"ClientHeight", 129},
            {"ClientWidth", 413},
            {"Color", 14079702},
            {"Font.Charset", Ident("EASTEUROPE_CHARSET")},
            {"Font.Color", Ident("clWindowText")},
            {"Font.Height", -11},
            {"Font.Name", "MS Sans Serif"},
            {"Font.Style", IdentSet({})},
            {"Position", Ident("poMainFormCenter")},
            {"PixelsPerInch", 96},
            {"TextHeight", 13},
        },
        {
            Band("Label2", 0, 20, "Trwa instalacja SQLServer", -16),
            Band("Label1", 20, 29, "Proszę czekać...", -23),
            {"TStripPlaceholder",
             "JvGIFAnimator1",
             {
                 {"Left", 0},
                 {"Top", 49},
                 {"Width", 413},
                 {"Height", 50},
                 {"Align", Ident("alTop")},
             },
             {}},
            Band("Label3", 99, 16, "Nie należy przerywać tego procesu", -13),
        }};
    return definition;
}

TFoSplash::TFoSplash(TComponent* owner) : TForm(owner) {
    static const bool registered = [] {
        RegisterComponentClass("TStripPlaceholder", [](TComponent* o) { return new TStripPlaceholder(o); });
        return true;
    }();
    (void)registered;
    ReadDefinition(Definition());
    Label2 = &Component<TLabel>("Label2");
    Label1 = &Component<TLabel>("Label1");
    JvGIFAnimator1 = &Component<TControl>("JvGIFAnimator1");
    Label3 = &Component<TLabel>("Label3");
}

TFoSplash::~TFoSplash() {
    if (FoSplash == this)
        FoSplash = nullptr;
}
