#include "help.h"

#include <iostream>
#include <string>

#include "edits.h"
#include "safe_output.h"

namespace tintwell_cli {
namespace {

void PrintUsage(std::ostream& out) {
    out << "Usage: tintwell [OPTION]... EDIT [AMOUNT] [--] INPUT OUTPUT\n"
           "       tintwell [OPTION]... read [--] INPUT\n"
           "       tintwell [OPTION]... EDIT [AMOUNT] (--out-dir DIR | --in-place) [-j N] [--] FILE...\n"
           "       tintwell [OPTION]... read -j N [--] FILE...\n"
           "       tintwell [OPTION]... raw FUNCTION AMOUNT [--] INPUT [OUTPUT]\n"
           "       tintwell [OPTION]... demo [DIR]\n"
           "       tintwell [--module PATH] --version | --module-info\n"
           "       tintwell --help\n";
}

}  // namespace

void PrintHelp() {
    PrintUsage(std::cout);
    std::cout << "\nEdits a 24-bit BMP picture through the KorvaneTintwell library. The library\n"
                 "prints its own progress messages (in Korean) on stdout; -q hides them.\n\n"
                 "EDIT is a name or its number:\n";
    for (const EditInfo& edit : AllEdits()) {
        std::string words = std::string(edit.name) + " | " + std::to_string(edit.function);
        if (edit.needs_amount()) words += " AMOUNT";
        std::cout << "  " << words << std::string(words.size() < 24 ? 24 - words.size() : 1, ' ') << edit.summary
                  << "\n";
    }
    std::cout << "\nAMOUNT is a decimal integer from -2147483648 to 2147483647, passed on as it\n"
                 "is: the edits use its low 8 bits (300 acts as 44, -1 as 255), noise uses the\n"
                 "whole value as its bound. An amount that acts as another gets a warning.\n"
                 "\n"
                 "Before the call, tintwell checks that each input is a whole 24-bit\n"
                 "uncompressed BMP picture with the 54-byte header and bottom-up rows, the one\n"
                 "layout the library edits correctly; anything else is refused with the reason\n"
                 "and nothing is written. The library writes a temporary file beside OUTPUT,\n"
                 "which replaces OUTPUT only when the edit succeeded, so no failure or kill\n"
                 "loses a picture. A replaced OUTPUT keeps\n"
              << kReplacementKeeps
              << ";\n"
                 "a new one gets what any new file gets in its directory. Bytes after the\n"
                 "pixels are kept, and an input that changed while it was read is never\n"
                 "called written.\n"
                 "\n"
                 "INPUT may be - (stdin), a pipe or a FIFO: it is read once into a private\n"
                 "file under $TMPDIR (else /tmp) and checked there. OUTPUT may be - (stdout) or\n"
                 "a descriptor (/dev/stdout, /dev/fd/N): the picture is written where it\n"
                 "stands, never reopened, and the library's messages go to stderr.\n"
                 "\n"
                 "raw passes any FUNCTION and AMOUNT to the library exactly: no check, no\n"
                 "temporary, the names as given, no bytes after the pixels kept; without\n"
                 "OUTPUT the library gets no output name.\n"
                 "\n"
                 "The FILE... form edits many pictures, N at a time, each in a process of its\n"
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
                 "have stopped.\n"
                 "\n"
                 "demo writes a sample picture, its nine edits and index.html into DIR\n"
                 "(default tintwell-demo), and editor.html, the page that edits any picture\n"
                 "in a browser, when the web page is built (make web) or installed. DIR must\n"
                 "be new or empty: demo replaces nothing and writes through no link.\n"
                 "\nOptions, before EDIT or anywhere after EDIT [AMOUNT]:\n"
                 "  --force        edit (or read) an input that the check refuses: its bytes\n"
                 "                 go to the library as they are; nothing else changes\n"
                 "  --sync         flush the edited picture and its directory to the disk\n"
                 "                 before and after it replaces OUTPUT (off by default)\n"
                 "  -q, --quiet    hide the library's messages; failures still get their line\n"
                 "                 on stderr\n"
                 "  --report=json  print one JSON object per picture on stdout (input, output,\n"
                 "                 file, kind, result, exit_status, message), in every form;\n"
                 "                 the library's messages go to stderr\n"
                 "  --             end of options: after EDIT [AMOUNT], every word is a file name\n"
                 "Options before EDIT only:\n"
                 "  --module PATH  load this library instead of the one beside the program\n"
                 "  --help         show this help\n"
                 "  --version      show the program's version and the library it loads, with\n"
                 "                 the version the library carries\n"
                 "  --module-info  show the library's version block, type library and string\n"
                 "                 table, read from the library itself\n"
                 "\nExit status: 0 when the library returns 999 or 0; 1 for a usage error;\n"
                 "2 for any other result code (one line on stderr says what it means);\n"
                 "3 when the library cannot be loaded; 4 when tintwell refused a file (one\n"
                 "line on stderr names it and says why) and wrote nothing; 5 when the input\n"
                 "changed while it was being edited, and nothing was written.\n"
                 "Result codes: 999 written, 0 read only, 123 input not opened or read,\n"
                 "-1 pixel buffer not allocated, 432 function not between 1 and 10,\n"
                 "124 output not opened or written.\n";
}

}  // namespace tintwell_cli
