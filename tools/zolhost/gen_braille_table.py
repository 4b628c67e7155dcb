#!/usr/bin/env python3
"""Writes tools/common/computer_braille_table.h from a liblouis 8-dot computer braille table.

The header holds:
  kComputerBrailleDots[c]   dot pattern of the Latin-1 character c (all 256 must be defined)
  kComputerBrailleMoreDots  {code point, dot pattern} for the other characters the table
                            defines, sorted by code point (the braille patterns block
                            U+2800..U+28FF is left out: its cells are the code point's low byte)
  kComputerBrailleChars[d]  printable code point read back from the dot pattern d, 0 where the
                            table reads back none (patterns that only control characters use)
Dot patterns use bit 0 for dot 1 up to bit 7 for dot 8.

Forward: the first definition of a character that is not marked "nofor".
Backward: the first definition of that pattern that is not marked "noback".

The build uses the committed header; run this script again only to follow a new table:
  apt-get install liblouis-data
  tools/zolhost/gen_braille_table.py
"""

import argparse
import os
import sys

CHARACTER_OPCODES = {
    "space", "punctuation", "sign", "math", "letter", "lowercase", "uppercase", "digit",
}
SIMPLE_ESCAPES = {"\\": "\\", "f": "\f", "n": "\n", "r": "\r", "s": " ", "t": "\t",
                  "v": "\v", "e": "\x1b"}


def unescape(text):
    """Decodes liblouis escapes (\\xhhhh, \\s, \\t, ...) in a character operand."""
    out = []
    i = 0
    while i < len(text):
        ch = text[i]
        if ch != "\\" or i + 1 == len(text):
            out.append(ch)
            i += 1
            continue
        kind = text[i + 1]
        digits = {"x": 4, "y": 5, "z": 8}.get(kind)
        if digits:
            out.append(chr(int(text[i + 2:i + 2 + digits], 16)))
            i += 2 + digits
        elif kind in SIMPLE_ESCAPES:
            out.append(SIMPLE_ESCAPES[kind])
            i += 2
        else:
            raise ValueError("unknown escape in %r" % text)
    return "".join(out)


def dots_to_bits(dots):
    """'1247' -> 0x4B; '0' -> 0. None for several cells or dots beyond 8."""
    if dots == "0":
        return 0
    bits = 0
    for d in dots:
        if d not in "12345678":
            return None
        bits |= 1 << (int(d) - 1)
    return bits


def read_table(directory, name, definitions):
    """Appends (character, bits, forward, backward) for each one-cell character definition."""
    with open(os.path.join(directory, name), encoding="utf-8") as table:
        for line in table:
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            forward = backward = True
            if fields[0] in ("noback", "nofor"):
                forward = fields[0] != "nofor"
                backward = fields[0] != "noback"
                fields = fields[1:]
            if fields[0] == "include":
                read_table(directory, fields[1], definitions)
                continue
            if fields[0] not in CHARACTER_OPCODES or len(fields) < 3:
                continue
            chars = unescape(fields[1])
            bits = dots_to_bits(fields[2])
            if len(chars) == 1 and bits is not None:
                definitions.append((ord(chars), bits, forward, backward))


def is_braille_pattern(code):
    return 0x2800 <= code <= 0x28FF


def is_control(code):
    return code < 0x20 or 0x7F <= code <= 0x9F


def build_maps(definitions):
    """Returns (Latin-1 dots, {other code point: dots}, code point of each pattern)."""
    dots = [None] * 256
    more = {}
    for code, bits, forward, _ in definitions:
        if not forward or is_braille_pattern(code) or code > 0xFFFF:
            continue
        if code < 256:
            if dots[code] is None:
                dots[code] = bits
        else:
            more.setdefault(code, bits)
    chars = [0] * 256
    for code, bits, _, backward in definitions:
        if (backward and not is_braille_pattern(code) and not is_control(code)
                and code <= 0xFFFF and chars[bits] == 0):
            chars[bits] = code
    return dots, more, chars


def format_table(name, comment, values, ctype, digits):
    lines = ["// " + comment, "inline constexpr %s %s[256] = {" % (ctype, name)]
    for row in range(0, 256, 8):
        cells = ", ".join("0x%0*X" % (digits, v) for v in values[row:row + 8])
        lines.append("    %s,  // 0x%02X" % (cells, row))
    lines.append("};")
    return "\n".join(lines)


def format_pairs(name, comment, more):
    lines = ["// " + comment,
             "inline constexpr CodePointDots %s[%d] = {" % (name, len(more))]
    for code in sorted(more):
        lines.append("    {0x%04X, 0x%02X}," % (code, more[code]))
    lines.append("};")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tables", default="/usr/share/liblouis/tables")
    parser.add_argument("--table", default="en-us-comp8-ext.utb")
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--output",
                        default=os.path.join(here, "..", "common", "computer_braille_table.h"))
    args = parser.parse_args()

    definitions = []
    read_table(args.tables, args.table, definitions)
    dots, more, chars = build_maps(definitions)
    missing = [c for c in range(256) if dots[c] is None]
    if missing:
        sys.exit("%s: no dots for the Latin-1 characters %s" % (args.table, missing))

    header = "\n".join([
        "// Generated by tools/zolhost/gen_braille_table.py from liblouis's %s" % args.table,
        "// (LGPL-2.1-or-later, see THIRD-PARTY-NOTICES). Do not edit; run the script again.",
        "#ifndef ZOL_TOOLS_COMMON_COMPUTER_BRAILLE_TABLE_H",
        "#define ZOL_TOOLS_COMMON_COMPUTER_BRAILLE_TABLE_H",
        "",
        "#include <cstdint>",
        "",
        "namespace zol {",
        "",
        "// clang-format off",
        "struct CodePointDots {",
        "  uint16_t codePoint;",
        "  uint8_t dots;",
        "};",
        "",
        format_table("kComputerBrailleDots",
                     "Dot pattern of each Latin-1 character (bit 0 = dot 1 ... bit 7 = dot 8).",
                     dots, "uint8_t", 2),
        "",
        format_pairs("kComputerBrailleMoreDots",
                     "Dot patterns of the other characters the table defines, by code point.",
                     more),
        "",
        format_table("kComputerBrailleChars",
                     "Printable character read back from each dot pattern; 0 where there is none.",
                     chars, "uint16_t", 4),
        "// clang-format on",
        "",
        "}  // namespace zol",
        "",
        "#endif  // ZOL_TOOLS_COMMON_COMPUTER_BRAILLE_TABLE_H",
        "",
    ])
    with open(args.output, "w", encoding="utf-8") as out:
        out.write(header)


if __name__ == "__main__":
    main()
