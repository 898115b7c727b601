// Kantrel's entry point.

#include <windows.h>

#include "app/uFoMain.h"
#include "controls/JvGIFCtrl.h"
#include "ui/Application.h"
#include "ui/Forms.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    TApplication application;
    try {
        Application->Initialize();
        // Classes that stored definitions may name beyond the standard ones.
        RegisterAnimatedImageControls();
        Application->SetTitle("Kantrel");
        Application->CreateForm(FoMain);
        OpenProgramLog(*FoMain);
        Application->Run();
    } catch (...) {
        Application->HandleException(nullptr);
        return 1;
    }
    return 0;
}
