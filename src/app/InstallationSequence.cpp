#include "app/uFoMain.h"

// The setup launcher replaces this stand-in.
void RunInstallationSequence(TFoMain&) {}
