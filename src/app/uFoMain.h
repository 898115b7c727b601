#pragma once
// The main window: the password of the SQL Server login "sa" and the button
// that starts the installation.

#include "ui/Forms.h"
#include "ui/StdCtrls.h"

class TFoMain : public TForm {
public:
    explicit TFoMain(TComponent* owner);
    const char* ClassName() const override { return "TFoMain"; }

    // The stored definition the window is built from.
    static const TStoredComponent& Definition();

    TLabel* Label1;
    TLabel* Label2;
    TLabel* Label3;
    TEdit* edPass;
    TButton* btnOK;

    void edPassKeyPress(TComponent* sender, wchar_t& key);
    void btnOKClick(TComponent* sender);
};

extern TFoMain* FoMain;

// The installation sequence, run by btnOKClick with the main window as its
// owner; it reads the password from edPass itself.
void RunInstallationSequence(TFoMain& owner);
// Starts Kantrel's log of this run of the program (the sequence starts it
// when it has not been).
void OpenProgramLog(TFoMain& owner);
// What btnOKClick calls: RunInstallationSequence, unless a test puts its own
// routine here.
extern void (*InstallationSequence)(TFoMain& owner);
