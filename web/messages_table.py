#!/usr/bin/env python3
"""Writes the page's table of the library's messages and their English from
the README's section "What the library prints", so the translations have one
source.

    messages_table.py README.md OUTPUT.js
"""
import json
import re
import sys

SECTION = "## What the library prints"
# | `korean` | english | printed |
ROW = re.compile(r"^\| `(?P<korean>[^`]+)` \| (?P<english>[^|]+?) \| (?P<printed>[^|]+?) \|$")


def message_rows(readme_text):
    start = readme_text.find(SECTION + "\n")
    if start < 0:
        raise SystemExit(f"README has no section {SECTION!r}")
    section = readme_text[start + len(SECTION):]
    end = section.find("\n## ")
    if end >= 0:
        section = section[:end]
    rows = []
    for line in section.splitlines():
        match = ROW.match(line)
        if match:
            rows.append({
                "korean": match["korean"],
                "english": match["english"],
                "printed": match["printed"].replace("`", ""),
            })
    if not rows:
        raise SystemExit(f"README's section {SECTION!r} has no table of messages")
    return rows


def main():
    readme, output = sys.argv[1:3]
    with open(readme, encoding="utf-8") as file:
        rows = message_rows(file.read())
    table = json.dumps(rows, ensure_ascii=False, indent=1)
    with open(output, "w", encoding="utf-8") as file:
        file.write("// Written at build time from README.md, section \"What the library prints\".\n"
                   "// korean: the message without its newline, %d where a signed decimal goes;\n"
                   "// english: the same in English, an upper-case word where each number goes.\n"
                   f"const TINTWELL_MESSAGES = {table};\n")


if __name__ == "__main__":
    main()
