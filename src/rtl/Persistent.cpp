#include "rtl/Persistent.h"

#include "rtl/Errors.h"

void TPersistent::Assign(TPersistent* source) {
    if (source)
        source->AssignTo(this);
    else
        AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) {
    dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
    RaiseAssignError(source ? source->ClassName() : "nil", ClassName());
}
