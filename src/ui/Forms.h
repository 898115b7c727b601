#pragma once
// Forms (top-level windows built from stored definitions) and the
// application object: hidden main window, message loop, error reporting and
// message boxes.
//
// A window of the program derives from TForm: its constructor defines the
// handlers the definition names (DefineMethod), calls ReadDefinition with
// the stored definition and then picks its components by name
// (Component<TEdit>("edPass")). See src/app/uFoMain.cpp.

#include <windows.h>
// TApplication::MessageBox is ours; the W function is called by its name.
#undef MessageBox

#include <exception>
#include <string>

#include "ui/Controls.h"

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
    void WMActivate(WORD state);
    void WMSetFocus();
    HWND FocusTarget();
    void PlaceForShow();
    RECT FrameExtent() const;

    TFormBorderStyle BorderStyle_ = bsSizeable;
    unsigned BorderIcons_ = biSystemMenu | biMinimize | biMaximize;
    TPosition Position_ = poDesigned;
    int PixelsPerInch_ = 96;
    int TextHeight_ = 13;
    int StoredClientWidth_ = -1;
    int StoredClientHeight_ = -1;
    bool Placed_ = false;
    HWND FocusedWindow_ = nullptr;
};

class TApplication : public TComponent {
public:
    // The first application object becomes the global Application.
    explicit TApplication(TComponent* owner = nullptr);
    ~TApplication() override;
    const char* ClassName() const override { return "TApplication"; }

    // Creates the hidden main window that owns message boxes.
    void Initialize();
    HWND Handle() const { return Handle_; }
    const std::string& Title() const { return Title_; }
    void SetTitle(const std::string& title);
    // The application's icon: MAINICON of the program file when it has one.
    HICON Icon(bool small) const;

    // Creates a form owned by the application; the first becomes MainForm.
    template <class T>
    void CreateForm(T*& reference) {
        T* form = new T(this);
        reference = form;
        if (!MainForm_)
            MainForm_ = form;
    }
    TForm* MainForm() const { return MainForm_; }
    bool ShowMainForm = true;

    // Shows the main form and handles messages until Terminated.
    void Run();
    // Handles every pending message, then returns; a quit message only sets
    // Terminated.
    void ProcessMessages();
    // Handles one message, waiting for one when none is pending.
    void HandleMessage();
    // Asks the message loop to end (after any running handler returns).
    void Terminate();
    bool Terminated() const { return Terminated_; }

    // The central error reporting: called inside a catch block, shows the
    // current error unless it is a silent abort.
    void HandleException(TComponent* sender);
    void ShowException(const std::exception& error);

    // A message box owned by the hidden main window: every other window of
    // the program is disabled while it is open; afterwards the previously
    // active window and its focused control come back. Returns the button.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

private:
    friend class TForm;
    bool ProcessMessage(MSG& message);
    bool IsDialogKey(MSG& message);
    void FormDestroyed(TForm* form);
    static LRESULT CALLBACK AppWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Handle_ = nullptr;
    std::string Title_;
    TForm* MainForm_ = nullptr;
    bool Terminated_ = false;
};

extern TApplication* Application;
