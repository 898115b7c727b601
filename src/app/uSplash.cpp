#include "app/uSplash.h"

#include "app/SplashAnimation.h"
#include "ui/Reader.h"

TFoSplash* FoSplash = nullptr;

namespace {

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
            {"TJvGIFAnimator",
             "JvGIFAnimator1",
             {
                 {"Left", 0},
                 {"Top", 49},
                 {"Width", 413},
                 {"Height", 50},
                 {"Animate", Ident("True")},
                 {"Center", Ident("True")},
                 {"FrameIndex", 8},
                 {"Align", Ident("alTop")},
                 {"Image.Data", TStoredBytes(SplashAnimationData, SplashAnimationData + SplashAnimationSize)},
             },
             {}},
            Band("Label3", 99, 16, "Nie należy przerywać tego procesu", -13),
        }};
    return definition;
}

TFoSplash::TFoSplash(TComponent* owner) : TForm(owner) {
    ReadDefinition(Definition());
    Label2 = &Component<TLabel>("Label2");
    Label1 = &Component<TLabel>("Label1");
    JvGIFAnimator1 = &Component<TJvGIFAnimator>("JvGIFAnimator1");
    Label3 = &Component<TLabel>("Label3");
}

TFoSplash::~TFoSplash() {
    if (FoSplash == this)
        FoSplash = nullptr;
}
