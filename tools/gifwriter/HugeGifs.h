#pragma once
// Two tiny GIFs that declare sizes past the program's memory limits: the
// Windows tools' tests check what they report, scripts/hugegifs.sh how much
// memory the tools take on them.

#include "GifWriter.h"

namespace gifwriter {

// 70 frames of 65535 x 4000 over a 256-colour table, each a few bytes of LZW:
// under 2 KB that declare 18 GB of 8-bit pixels.
Bytes SeventyHugeFrames();
// A logical screen of 18900 x 18900 with one 1 x 1 frame: 43 bytes.
Bytes HugeScreen();

// A 64 x 64 screen that shows the corner of one frame of 12000 x 12000 at
// (0, 0), keyed on index 0, over a table of 2, 4 or 256 colours (HugeFrameColor):
// the rows under the screen are coded, the rest is left to the decoder,
// which fills it with index 0. A few KB that declare 144 million pixels.
constexpr int HugeFrameScreen = 64, HugeFrameSize = 12000;
Bytes HugeFrame(int colours);
// The index of the frame's pixel (x, y) on the screen; 0 is the key.
uint8_t HugeFrameIndex(int x, int y, int colours);
Rgb HugeFrameColor(int index);

}  // namespace gifwriter
