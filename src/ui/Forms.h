#pragma once
// Forms: top-level windows built from stored definitions. The application
// object is in Application.h.
//
// A window of the program derives from TForm: its constructor defines the
// handlers the definition names (DefineMethod), calls ReadDefinition with
// the stored definition and then picks its components by name
// (Component<TEdit>("edPass")). See src/app/uFoMain.cpp.

#include <windows.h>

#include <string>

#include "ui/WinControl.h"

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
enum TPosition {
    poDesigned,         // the stored Left and Top
    poScreenCenter,     // centred on the screen
    poMainFormCenter,   // centred over the application's main form
    poOwnerFormCenter,  // centred over the owning form
};

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;
    const char* ClassName() const override { return "TForm"; }

    TFormBorderStyle BorderStyle() const { return BorderStyle_; }
    void SetBorderStyle(TFormBorderStyle style);
    unsigned BorderIcons() const { return BorderIcons_; }
    void SetBorderIcons(unsigned icons);
    TPosition Position() const { return Position_; }
    void SetPosition(TPosition position) { Position_ = position; }
    int PixelsPerInch() const { return PixelsPerInch_; }

    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientSize(int width, int height);

    // Makes the form visible without making it modal; the first time it is
    // placed as Position says.
    void Show();
    // The close box: the main form asks the application to end, others hide.
    void Close();
    // Centres the form over another form, or on the screen when null.
    void CenterOver(TForm* form);
    // The form has been activated and not deactivated since.
    bool Active() const { return Active_; }

    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

protected:
    // Applies the stored definition, scales it for the screen's DPI and
    // creates the (hidden) window. Descendants call it at the end of their
    // constructor, after defining their handlers.
    void ReadDefinition(const TStoredComponent& definition);

    void CreateParams(TCreateParams& params) const override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Loaded() override;
    void HandleCreated() override;
    void VisibleChanged() override;
    void ControlFocused(TWinControl* control) override;

private:
    void WMPaint();
    void WMEraseBackground(HDC dc);
    // Realises the palettes of the controls; true when one changed colours.
    bool RealizeControlPalettes(bool background);
    void WMActivate(WORD state);
    void WMSetFocus();
    HWND FocusTarget();
    void PlaceForShow();
    RECT FrameExtent() const;

    // FrameExtent's last answer and the styles and system metrics it was
    // for; window thread only.
    struct TFrameCache {
        bool Valid = false;
        DWORD Style = 0;
        DWORD ExStyle = 0;
        unsigned Metrics = 0;
        RECT Frame{};
    };
    mutable TFrameCache FrameCache_;

    TFormBorderStyle BorderStyle_ = bsSizeable;
    unsigned BorderIcons_ = biSystemMenu | biMinimize | biMaximize;
    TPosition Position_ = poDesigned;
    int PixelsPerInch_ = 96;
    int TextHeight_ = 13;
    int StoredClientWidth_ = -1;
    int StoredClientHeight_ = -1;
    bool Placed_ = false;
    bool Active_ = false;
    HWND FocusedWindow_ = nullptr;
};

// The form a control sits on (the control itself when it is a form), or
// null.
TForm* GetParentForm(TControl* control);
