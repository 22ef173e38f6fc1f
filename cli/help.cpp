#include "help.h"

#include <cstdio>
#include <string>

#include "edits.h"
#include "format.h"
#include "language.h"
#include "report.h"
#include "safe_output.h"

namespace tintwell_cli {
namespace {

// Each paragraph is one message of the catalogs, translated whole.
constexpr std::string_view kUsage =
    N_("Usage: tintwell [OPTION]... EDIT [AMOUNT] [--] INPUT OUTPUT\n"
       "       tintwell [OPTION]... read [--] INPUT\n"
       "       tintwell [OPTION]... EDIT [AMOUNT] (--out-dir DIR | --in-place) [-j N] [--] FILE...\n"
       "       tintwell [OPTION]... read -j N [--] FILE...\n"
       "       tintwell [OPTION]... raw FUNCTION AMOUNT [--] INPUT [OUTPUT]\n"
       "       tintwell [OPTION]... demo [DIR]\n"
       "       tintwell [--module PATH] --version | --module-info\n"
       "       tintwell --help\n");

constexpr std::string_view kAbout =
    N_("Edits a BMP picture through the KorvaneTintwell library. The library\n"
       "prints its own progress messages in Korean; tintwell shows each on stdout in\n"
       "the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): Korean as the\n"
       "library prints it under a Korean locale, English under any other.\n"
       "--library-text shows them as the library prints them; -q hides them.\n"
       "read then says what the picture is and whether tintwell can edit it.\n\n"
       "EDIT is a name or its number:\n");

// {0}: what a replaced OUTPUT keeps.
constexpr std::string_view kChecksAndSafety =
    N_("AMOUNT is a decimal integer from -2147483648 to 2147483647, passed on as it\n"
       "is: the edits use its low 8 bits (300 acts as 44, -1 as 255), noise uses the\n"
       "whole value as its bound. An amount that acts as another gets a warning.\n"
       "\n"
       "The library reads one layout: 24 bits per pixel behind a 54-byte header.\n"
       "tintwell gives it every other BMP it can keep exactly as a private 24-bit\n"
       "copy and puts the edit back into the picture's own kind: OS/2 and V2 to V5\n"
       "headers, top-down rows, 16 and 32 bits with masks of 1 to 8 bits a channel\n"
       "(each widened to 8 bits, edited, narrowed back; alpha and unused bits kept),\n"
       "and 1, 2, 4 and 8 bits, RLE4 and RLE8 included, whose palette is edited (the\n"
       "library's messages then describe one row of the palette's colours).\n"
       "Refused, with the reason and nothing written: embedded JPEG or PNG, 64 bits,\n"
       "OS/2 Huffman and RLE24, masks wider than 8 bits, damaged RLE, files cut\n"
       "short; convert IN BMP3:OUT (or gm convert IN BMP3:OUT) converts them.\n"
       "Noise on a palette is refused unless --to-24-bit.\n"
       "\n"
       "The library writes a temporary file beside OUTPUT, which replaces OUTPUT\n"
       "only when the edit succeeded, so no failure or kill loses a picture. A\n"
       "replaced OUTPUT keeps\n"
       "{0};\n"
       "a new one gets what any new file gets in its directory. Bytes after the\n"
       "pixels are kept, and an input that changed while it was read is never\n"
       "called written.\n");

constexpr std::string_view kParagraphs[] = {
    N_("INPUT may be - (stdin), a pipe or a FIFO: it is read once into a private\n"
       "file under $TMPDIR (else /tmp) and checked there. OUTPUT may be - (stdout) or\n"
       "a descriptor (/dev/stdout, /dev/fd/N): the picture is written where it\n"
       "stands, never reopened, and the library's messages go to stderr.\n"),
    N_("raw passes any FUNCTION and AMOUNT to the library exactly: no check, no\n"
       "temporary, the names as given, no bytes after the pixels kept, and the\n"
       "library's messages as it prints them; without OUTPUT the library gets no\n"
       "output name.\n"),
    N_("The FILE... form edits many pictures, N at a time, each in a process of its\n"
       "own; each picture's messages are printed together, in input order, then a\n"
       "summary on stderr. Its options may stand anywhere after EDIT [AMOUNT]:\n"
       "  --out-dir DIR  write each output into DIR under its input's file name\n"
       "                 (never over an input, never two into one file, whatever\n"
       "                 links lead there)\n"
       "  --in-place     write each output over its input\n"
       "  -j N           edit N pictures at a time (default: the number of processors)\n"
       "read takes -j alone and checks every picture. A batch exits with status 2 when\n"
       "any call failed, else 5 when any input changed, else 4 when any picture was\n"
       "refused. SIGTERM, SIGINT or SIGHUP stops it: the pictures being edited are\n"
       "left as they were, no more start, and tintwell ends by that signal once they\n"
       "have stopped.\n"),
    N_("demo writes a sample picture, its nine edits and index.html into DIR\n"
       "(default tintwell-demo), and editor.html, the page that edits any picture\n"
       "in a browser, when the web page is built (make web) or installed. DIR must\n"
       "be new or empty: demo replaces nothing and writes through no link.\n"),
    N_("Options, before EDIT or anywhere after EDIT [AMOUNT]:\n"
       "  --force        skip the check: the library edits the input's bytes as a\n"
       "                 24-bit picture behind a 54-byte header, whatever it is\n"
       "                 (a picture of another kind comes out garbled)\n"
       "  --to-24-bit    write a paletted picture as a 24-bit one, so that noise\n"
       "                 can give each pixel a colour of its own\n"
       "  --sync         flush the edited picture and its directory to the disk\n"
       "                 before and after it replaces OUTPUT (off by default)\n"
       "  -q, --quiet    hide the library's messages; failures still get their line\n"
       "                 on stderr\n"
       "  --library-text  show the library's messages as it prints them (in Korean),\n"
       "                 byte for byte, whatever the language\n"
       "  --report=json  print one JSON object per picture on stdout (input, output,\n"
       "                 file, kind, result, exit_status, message, reason, picture),\n"
       "                 in every form; the library's messages and what read finds\n"
       "                 go to stderr; the host's lines are in English, as the\n"
       "                 report is\n"
       "  --             end of options: after EDIT [AMOUNT], every word is a file name\n"
       "Options before EDIT only:\n"
       "  --module PATH  load this library instead of the one beside the program\n"
       "  --help         show this help\n"
       "  --version      show the program's version and the library it loads, with\n"
       "                 the version the library carries\n"
       "  --module-info  show the library's version block, type library and string\n"
       "                 table, read from the library itself\n"),
    N_("Exit status: 0 when the library returns 999 or 0; 1 for a usage error;\n"
       "2 for any other result code (one line on stderr says what it means);\n"
       "3 when the library cannot be loaded; 4 when tintwell refused a file (one\n"
       "line on stderr names it and says why) and wrote nothing; 5 when the input\n"
       "changed while it was being edited, and nothing was written.\n"
       "Result codes: 999 written, 0 read only, 123 input not opened or read,\n"
       "-1 pixel buffer not allocated, 432 function not between 1 and 10,\n"
       "124 output not opened or written.\n"),
};

}  // namespace

void PrintHelp() {
    std::string help;
    help.append(Translated(kUsage)).append("\n").append(Translated(kAbout));
    for (const EditInfo& edit : AllEdits()) {
        std::string words = std::string(edit.name) + " | " + std::to_string(edit.function);
        if (edit.needs_amount()) words += " AMOUNT";
        help.append("  ").append(words).append(words.size() < 24 ? 24 - words.size() : 1, ' ');
        help.append(Translated(edit.summary)).append("\n");
    }
    help.append("\n").append(Format(kChecksAndSafety, Translated(kReplacementKeeps)));
    for (const std::string_view paragraph : kParagraphs) help.append("\n").append(Translated(paragraph));
    Write(stdout, help);
}

}  // namespace tintwell_cli
