// btnOKClick's installation sequence on the real windows: the launcher's
// logic (SetupLauncher) with the main window, the splash window and the
// Win32 process calls as its platform.

#include <memory>

#include "app/KantrelLog.h"
#include "app/SetupLauncherWin.h"
#include "app/uFoMain.h"
#include "app/uSplash.h"
#include "ui/Application.h"

namespace {

class TSplashWindow : public TLauncherSplash {
public:
    TSplashWindow() : Form_(std::make_unique<TFoSplash>(nullptr)), Previous_(FoSplash) { FoSplash = Form_.get(); }
    ~TSplashWindow() override {
        Form_.reset();
        FoSplash = Previous_;
    }
    void Show() override { Form_->Show(); }

private:
    std::unique_ptr<TFoSplash> Form_;
    TFoSplash* Previous_;
};

// One log for the whole run of the program, every sequence in it.
TKantrelLog& ProgramLog() {
    static TWin32LauncherFiles files;
    static TKantrelLog log(files);
    return log;
}

class TMainWindowPlatform : public TWin32LauncherPlatform {
public:
    explicit TMainWindowPlatform(TFoMain& owner) : Owner_(owner) {}

    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        return Application->MessageBox(text, caption, style);
    }
    void ProcessMessages() override { Application->ProcessMessages(); }
    std::unique_ptr<TLauncherSplash> CreateSplash() override { return std::make_unique<TSplashWindow>(); }
    void SetStartEnabled(bool enabled) override { Owner_.btnOK->SetEnabled(enabled); }
    std::string PasswordText() override { return Owner_.edPass->Text(); }
    void FocusPassword() override { Owner_.edPass->SetFocus(); }
    TKantrelLog& Log() override { return ProgramLog(); }

private:
    TFoMain& Owner_;
};

}  // namespace

void OpenProgramLog(TFoMain& owner) {
    TMainWindowPlatform platform(owner);
    OpenKantrelLog(platform);
}

void RunInstallationSequence(TFoMain& owner) {
    TMainWindowPlatform platform(owner);
    RunInstallationSequence(static_cast<TLauncherPlatform&>(platform));
}
