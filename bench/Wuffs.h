#pragma once
// wuffs' GIF decoder as a benchmark peer (built only when gifbench finds
// ../shared/peers/wuffs; KANTREL_BENCH_WUFFS is then defined).

#include "Peers.h"

#include <functional>
#include <string>
#include <vector>

#ifdef KANTREL_BENCH_WUFFS

// Untimed set-up for one file: the decoder, one 8-bit indexed buffer of the
// logical screen's size with its palette, and the work buffer, all allocated
// here. The timed work initialises the decoder the fastest way (internal
// buffers left uninitialised) and decodes every frame into that buffer.
std::function<bool()> PrepareWuffs(const Bytes& file);

// The indices of a single-frame file inside the frame's rectangle, top row
// first, decoded into a zero-filled screen buffer. False (with wuffs' error)
// when the file is not one frame that wuffs decodes whole.
struct WuffsFrame {
    int width = 0, height = 0;
    std::vector<uint8_t> indices;
};
bool WuffsSingleFrame(const Bytes& file, WuffsFrame& frame, std::string& error);

#endif
