#include "app/uFoMain.h"

TFoMain* FoMain = nullptr;
void (*InstallationSequence)(TFoMain& owner) = RunInstallationSequence;

const TStoredComponent& TFoMain::Definition() {
    static const TStoredComponent definition{
        "TFoMain",
        "FoMain",
        {
            {"Left", 425},
            {"Top", 240},
            {"Width", 687},
            {"Height", 274},
            {"BorderIcons", IdentSet({"biSystemMenu"})},
            {"BorderStyle", Ident("bsSizeable")},
            {"Caption", "Kantrel"},
            {"Color", Ident("clBtnFace")},
            {"Font.Charset", Ident("EASTEUROPE_CHARSET")},
            {"Font.Color", Ident("clWindowText")},
            {"Font.Height", -11},
            {"Font.Name", "MS Sans Serif"},
            {"Font.Style", IdentSet({})},
            {"Position", Ident("poScreenCenter")},
            {"PixelsPerInch", 96},
            {"TextHeight", 13},
        },
        {
            {"TLabel",
             "Label1",
             {
                 {"Left", 16},
                 {"Top", 16},
                 {"Width", 137},
                 {"Height", 13},
                 {"Caption", "Podaj hasło użytkownika 'sa'"},
             },
             {}},
            {"TLabel",
             "Label2",
             {
                 {"Left", 16},
                 {"Top", 64},
                 {"Width", 44},
                 {"Height", 13},
                 {"Caption", "Uwaga!"},
                 {"Font.Charset", Ident("EASTEUROPE_CHARSET")},
                 {"Font.Color", Ident("clWindowText")},
                 {"Font.Height", -11},
                 {"Font.Name", "MS Sans Serif"},
                 {"Font.Style", IdentSet({"fsBold"})},
                 {"ParentFont", Ident("False")},
             },
             {}},
            {"TLabel",
             "Label3",
             {
                 {"Left", 16},
                 {"Top", 80},
                 {"Width", 623},
                 {"Height", 52},
                 {"Caption",
                  "Jeśli serwer SQL nie został poprawnie zainstalowany przez instalator ARVELO to "
                  "najprawdopodobniej przyczyną była zbyt mała złożoność naszego domyślnego hasła dla "
                  "użytkonika 'sa'.\r\n"
                  "Prosimy więc o podanie hasła zgodnego z polityką haseł w domenie i podanie go potem w "
                  "oknie konfiguracji połączenia w aplikacji ARVELO."},
                 {"WordWrap", Ident("True")},
             },
             {}},
            {"TEdit",
             "edPass",
             {
                 {"Left", 16},
                 {"Top", 32},
                 {"Width", 137},
                 {"Height", 21},
                 {"MaxLength", 0},
                 {"PasswordChar", ""},
                 {"TabOrder", 0},
                 {"Text", "qwzqwz"},
                 {"OnKeyPress", Ident("edPassKeyPress")},
             },
             {}},
            {"TButton",
             "btnOK",
             {
                 {"Left", 528},
                 {"Top", 192},
                 {"Width", 131},
                 {"Height", 25},
                 {"Caption", "Rozpocznij instalację"},
                 {"TabOrder", 1},
                 {"OnClick", Ident("btnOKClick")},
             },
             {}},
        }};
    return definition;
}

TFoMain::TFoMain(TComponent* owner) : TForm(owner) {
    DefineMethod("edPassKeyPress", TKeyPressEvent([this](TComponent* sender, wchar_t& key) {
                     edPassKeyPress(sender, key);
                 }));
    DefineMethod("btnOKClick", TNotifyEvent([this](TComponent* sender) { btnOKClick(sender); }));
    ReadDefinition(Definition());
    Label1 = &Component<TLabel>("Label1");
    Label2 = &Component<TLabel>("Label2");
    Label3 = &Component<TLabel>("Label3");
    edPass = &Component<TEdit>("edPass");
    btnOK = &Component<TButton>("btnOK");
}

void TFoMain::edPassKeyPress(TComponent*, wchar_t& key) {
    // Spaces cannot be typed into the password.
    if (key == L' ')
        key = 0;
}

void TFoMain::btnOKClick(TComponent*) { InstallationSequence(*this); }
