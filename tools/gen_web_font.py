#!/usr/bin/env python3
"""Writes the live page's 5x7 font (resources/web/app.js, the FONT table) from the window's
display glyphs (widgets/lcdglyphs_5x7.cpp), so that both draw the same dots. Each glyph becomes
seven rows from the top, two hex digits each, bit 4 the leftmost dot.

usage: tools/gen_web_font.py [--check]   (--check: exit 1 if app.js is not up to date)
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
GLYPHS = ROOT / "widgets" / "lcdglyphs_5x7.cpp"
PAGE = ROOT / "resources" / "web" / "app.js"
FIRST, LAST = 32, 126
PER_LINE = 6
INDENT = " " * 8


def glyph_rows():
    rows = {}
    # The printable ASCII table only: the display's other tables reuse some codes.
    source = GLYPHS.read_text()
    start = source.index("kAscii[] = {")
    ascii_table = source[start:source.index("};", start)]
    for code, pattern in re.findall(r'\{\s*(\d+),\s*"([.#|]+)"\}', ascii_table):
        code = int(code)
        if FIRST <= code <= LAST:
            rows[code] = pattern.split("|")
    missing = [c for c in range(FIRST, LAST + 1) if c not in rows]
    if missing:
        sys.exit(f"gen_web_font: {GLYPHS} lacks the glyphs of codes {missing}")
    return rows


def hex_of(rows):
    return "".join(f"{int(row.replace('#', '1').replace('.', '0'), 2):02x}" for row in rows)


def table():
    rows = glyph_rows()
    entries = [f"'{hex_of(rows[c])}'," for c in range(FIRST, LAST + 1)]
    lines = [INDENT + " ".join(entries[i:i + PER_LINE]) for i in range(0, len(entries), PER_LINE)]
    return "\n".join(lines) + "\n"


def main():
    page = PAGE.read_text()
    match = re.search(r"(const FONT = Object\.freeze\(\[\n)(.*?)(\s*\]\);)", page, re.S)
    if not match:
        sys.exit(f"gen_web_font: no FONT table in {PAGE}")
    updated = page[:match.start(2)] + table().rstrip("\n") + page[match.end(2):]
    if "--check" in sys.argv[1:]:
        if updated != page:
            sys.exit(f"gen_web_font: {PAGE} is not up to date (run tools/gen_web_font.py)")
        return
    PAGE.write_text(updated)


if __name__ == "__main__":
    main()
