#!/usr/bin/env python3
"""Writes tables from the catalogs in po/.

From the catalog of the library's messages, po/library-messages.po (msgid
is what the library prints, byte for byte, msgstr its English):

    po_tables.py CATALOG cpp OUTPUT.h       the host's table (C++)
    po_tables.py CATALOG js OUTPUT.js       the web page's table
    po_tables.py CATALOG markdown           the README's table, on stdout

From a language's catalog of the host's lines, for tintwell.exe, which
carries its catalogs inside (Windows has no gettext of its own):

    po_tables.py ko.po translations OUTPUT.h
"""
import json
import os
import sys


def unquote(text):
    """The PO string "..." as text: its escapes are C's."""
    out, at = [], 0
    body = text[1:-1]
    escapes = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}
    while at < len(body):
        if body[at] == "\\":
            out.append(escapes[body[at + 1]])
            at += 2
        else:
            out.append(body[at])
            at += 1
    return "".join(out)


def entries(path):
    """(msgid, msgstr, comment) of every message, the header and fuzzy or
    untranslated messages left out."""
    found, current, field = [], {}, None
    with open(path, encoding="utf-8") as catalog:
        lines = catalog.read().splitlines() + [""]
    for line in lines:
        if not line.strip():
            if current.get("msgid") and current.get("msgstr") and not current.get("fuzzy"):
                found.append((current["msgid"], current["msgstr"], current.get("comment", "")))
            current, field = {}, None
        elif line.startswith("#."):
            current["comment"] = line[2:].strip()
        elif line.startswith("#,"):
            current["fuzzy"] = "fuzzy" in line
        elif line.startswith("#"):
            continue
        elif line.startswith(("msgid ", "msgstr ")):
            field, _, quoted = line.partition(" ")
            current[field] = unquote(quoted)
        elif line.startswith('"') and field:
            current[field] += unquote(line)
    return found


def c_string(text):
    return json.dumps(text, ensure_ascii=False)


def write_cpp(rows, output):
    lines = ["// Written at build time from po/library-messages.po: what the library",
             "// prints, byte for byte, and its English.",
             "#pragma once", "", "#include \"library_messages.h\"", "",
             "namespace tintwell_cli {", "",
             "inline constexpr LibraryMessageText kLibraryMessageTable[] = {"]
    for printed, english, _ in rows:
        lines.append(f"    {{{c_string(printed)}, {c_string(english)}}},")
    lines += ["};", "", "}  // namespace tintwell_cli", ""]
    with open(output, "w", encoding="utf-8") as file:
        file.write("\n".join(lines))


def write_translations(rows, output, language):
    """A language's translations, sorted by their English for a binary search."""
    lines = ["// Written at build time from a catalog in po/: the host's English lines",
             "// and their translations, sorted by the English (bytes).",
             "#pragma once", "", "#include <string_view>", "#include <utility>", "",
             "namespace tintwell_cli {", "",
             f"inline constexpr std::pair<std::string_view, std::string_view> kTranslations_{language}[] = {{"]
    for english, translated, _ in sorted(rows, key=lambda row: row[0].encode("utf-8")):
        lines.append(f"    {{{c_string(english)}, {c_string(translated)}}},")
    lines += ["};", "", "}  // namespace tintwell_cli", ""]
    with open(output, "w", encoding="utf-8") as file:
        file.write("\n".join(lines))


def write_js(rows, output):
    table = [{"korean": printed.rstrip("\n"), "english": english.rstrip("\n"), "printed": when}
             for printed, english, when in rows]
    with open(output, "w", encoding="utf-8") as file:
        file.write("// Written at build time from po/library-messages.po.\n"
                   "// korean: the message without its newline, %d where a signed decimal goes;\n"
                   "// english: the same in English, its numbers (%d) in the same order.\n"
                   f"const TINTWELL_MESSAGES = {json.dumps(table, ensure_ascii=False, indent=1)};\n")


def markdown(rows):
    lines = ["| message (exact UTF-8 bytes) | in English | printed |", "|---|---|---|"]
    for printed, english, when in rows:
        lines.append(f"| `{printed.rstrip(chr(10))}` | {english.rstrip(chr(10))} | {when} |")
    return "\n".join(lines) + "\n"


def main():
    catalog, kind = sys.argv[1:3]
    rows = entries(catalog)
    if not rows:
        raise SystemExit(f"{catalog}: no messages")
    if kind == "cpp":
        write_cpp(rows, sys.argv[3])
    elif kind == "translations":
        write_translations(rows, sys.argv[3], os.path.basename(catalog).removesuffix(".po"))
    elif kind == "js":
        write_js(rows, sys.argv[3])
    elif kind == "markdown":
        sys.stdout.write(markdown(rows))
    else:
        raise SystemExit(f"unknown table kind {kind!r}")


if __name__ == "__main__":
    main()
