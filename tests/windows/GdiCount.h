#pragma once
// The number of GDI objects (DCs included) the process holds.

#include <windows.h>

#include <cstdint>

inline int GdiObjectCount() {
    SetLastError(0);
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return static_cast<int>(reported);
    // Wine has no count, but it accepts a handle's bare 16-bit table index,
    // so the live entries can be counted.
    int count = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
            ++count;
    return count;
}
