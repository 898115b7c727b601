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

}  // namespace gifwriter
