#!/usr/bin/env python3
"""Writes the fuzz regression inputs of this folder; each file is named after
the fault it guards against. Run from anywhere: python3 make_regressions.py"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def screen(width, height, colors=2, background=0):
    """Header, logical screen descriptor and a global table of grey entries."""
    bits = max(colors.bit_length() - 1, 1)
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | (bits - 1), background, 0)
    for i in range(1 << bits):
        out += bytes([i * 255 // ((1 << bits) - 1)] * 3)
    return out


def image(width, height, data, left=0, top=0, packed=0, code_size=2):
    """Image descriptor, code size and the data in one sub-block."""
    out = b"\x2c" + struct.pack("<HHHHB", left, top, width, height, packed) + bytes([code_size])
    return out + bytes([len(data)]) + data + b"\x00"


# Codes 4 (clear), 1, 5 (end) at 3 bits: one pixel of index 1.
ONE_PIXEL = bytes([0x4C, 0x01])

INPUTS = {
    # A few bytes declaring 65535 x 65535 pixels: refused, never an abort.
    "frame-size-65535x65535.gif": screen(65535, 65535) + image(65535, 65535, ONE_PIXEL) + b"\x3b",
    # Width 0 is replaced by the logical width, which is 0 too: an empty
    # pixel buffer that must not be written.
    "zero-width-frame-rows.gif": screen(0, 5) + image(0, 5, ONE_PIXEL) + b"\x3b",
    # An application block whose size byte claims 255 bytes of identifier.
    "application-block-size-255.gif": screen(1, 1)
    + b"\x21\xff\xff" + b"NETSCAPE2.0" + b"\x03\x01\x00\x00\x00"
    + image(1, 1, ONE_PIXEL) + b"\x3b",
    # The stored form with a length prefix of 2 GB in front of a tiny stream.
    "data-length-prefix-2gb.bin": struct.pack("<i", 0x7FFFFFFF) + screen(1, 1) + b"\x3b",
    # A negative length prefix.
    "data-length-prefix-negative.bin": struct.pack("<i", -5) + screen(1, 1) + b"\x3b",
    # The last sub-block claims more bytes than the file has.
    "sub-block-beyond-end.gif": screen(4, 4) + b"\x2c" + struct.pack("<HHHHB", 0, 0, 4, 4, 0)
    + b"\x02\xff\x4c\x01",
    # Code size byte 12: the decoder must clamp it, not index past its tables.
    "code-size-12.gif": screen(2, 2) + image(2, 2, b"\xff\xff\xff\xff", code_size=12) + b"\x3b",
}

for name, data in INPUTS.items():
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
print("wrote %d inputs to %s" % (len(INPUTS), HERE))
