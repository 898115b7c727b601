#pragma once
// The splash window: a borderless please-wait panel of three lines around the
// animation strip, shown while SQL Server setup runs. No logic of its own.

#include "controls/JvGIFCtrl.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"

class TFoSplash : public TForm {
public:
    // Builds the window and its components, hidden.
    explicit TFoSplash(TComponent* owner);
    ~TFoSplash() override;
    const char* ClassName() const override { return "TFoSplash"; }

    static const TStoredComponent& Definition();

    TLabel* Label2;
    TLabel* Label1;
    TJvGIFAnimator* JvGIFAnimator1;
    TLabel* Label3;
};

// The splash window while one exists.
extern TFoSplash* FoSplash;
