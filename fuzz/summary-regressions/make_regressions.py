#!/usr/bin/env python3
"""Writes the summary fuzzer's regression inputs of this folder; each file is
named after the fault it guards against. Run from anywhere:
python3 make_regressions.py"""

import os

HERE = os.path.dirname(os.path.abspath(__file__))

FAILED = (
    "Overall summary:\r\n"
    "  Final result:                  Failed: see details below\r\n"
    "  Exit code (Decimal):           -2061893606\r\n"
    "  Exit message:                  Wait on the Database Engine recovery handle failed.\r\n"
    "  Log with failure:              C:\\Program Files\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log\\"
    "20240506_120003\\Detail.txt\r\n"
    "\r\n"
    "Detailed results:\r\n"
    "  Feature:                       Database Engine Services\r\n"
    "  Status:                        Failed: see logs for details\r\n"
    "  Reason for failure:            An error occurred during the setup process of the feature.\r\n"
    "  Error description:             Wait on the Database Engine recovery handle failed.\r\n"
)


def utf16le(text, bom=True):
    return (b"\xff\xfe" if bom else b"") + text.encode("utf-16-le", "surrogatepass")


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# A UTF-16 summary of odd length whose last whole unit opens a surrogate pair.
write("utf16-odd-length-cut-pair.txt", utf16le(FAILED + "  Exit message: \ud83d") + b"\x3d")
# UTF-16 without a byte-order mark: strictly UTF-8, full of NULs, no label.
write("utf16-without-bom-nul-bytes.txt", utf16le(FAILED, bom=False))
# A NUL inside a value, which would end a message box's text there.
write("nul-in-a-value.txt", b"  Final result: Failed\r\n  Exit message: before\x00after\r\n")
# A value of 600 characters of two bytes each, to be cut at 500.
write("value-over-500-characters.txt", ("  Exit message: " + "\u0105" * 600 + "\r\n").encode("utf-8"))
# A three-byte character cut by the end of the input (odd length: a head).
write("utf8-cut-at-the-end.txt", FAILED.encode("utf-8") + b"\xe2\x82")
# Overlong forms and an encoded surrogate: not UTF-8, so the ANSI code page.
write("overlong-and-surrogate-utf8.txt", b"  Final result: \xc0\xaf\xed\xa0\x80 Failed\r\n")
# Labels with nothing around them, fields of a feature without a feature,
# bare CR line ends, an exit code past 32 bits.
write("labels-without-values.txt",
      b":\r:::\r  Status: Failed\r  Feature:\r  Status:\r  Exit code (Decimal): -99999999999\r Final result:\r")
# setup's words echoing the password, which the log must mask.
write("password-in-values.txt", ("  Final result: Failed\r\n  Exit message: Zq#9\u0105 Zq#9\u0105Zq#9\u0105\r\n"
                                 "  Feature: Zq#9\u0105\r\n  Status: Zq#9\u0105\r\n").encode("utf-8"))
