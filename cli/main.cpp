// tintwell: the command-line host. It loads the editing library at run time,
// passes it one edit, and turns the result code into an exit status.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch.h"
#include "command_line.h"
#include "command_words.h"
#include "demo.h"
#include "edits.h"
#include "exit_status.h"
#include "library_call.h"
#include "module_loader.h"
#include "module_resources.h"
#include "utf16.h"

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
                 "which replaces OUTPUT (keeping "
              << kReplacementKeeps
              << ") only\n"
                 "when the edit succeeded, so no failure or kill loses a picture.\n"
                 "\n"
                 "raw passes any FUNCTION and AMOUNT to the library exactly: no check, no\n"
                 "temporary; without OUTPUT the library gets no output name.\n"
                 "\n"
                 "The FILE... form edits many pictures, N at a time, each in a process of its\n"
                 "own; each picture's messages are printed together, in input order, then a\n"
                 "summary on stderr. Its options may stand anywhere after EDIT [AMOUNT]:\n"
                 "  --out-dir DIR  write each output into DIR under its input's file name\n"
                 "                 (never over an input)\n"
                 "  --in-place     write each output over its input\n"
                 "  -j N           edit N pictures at a time (default: the number of processors)\n"
                 "read takes -j alone and checks every picture. A batch exits with status 2 when\n"
                 "any call failed, else 4 when any picture was refused.\n"
                 "\n"
                 "demo writes a sample picture, its nine edits and index.html into DIR\n"
                 "(default tintwell-demo), and editor.html, the page that edits any picture\n"
                 "in a browser, when the web page is built (make web) or installed.\n"
                 "\nOptions, before EDIT or anywhere after EDIT [AMOUNT]:\n"
                 "  --force        edit (or read) an input that the check refuses, or that is\n"
                 "                 not a regular file; nothing else changes\n"
                 "  --sync         flush the edited picture and its directory to the disk\n"
                 "                 before and after it replaces OUTPUT (off by default)\n"
                 "  -q, --quiet    hide the library's messages; failures still get their line\n"
                 "                 on stderr\n"
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
                 "line on stderr names it and says why) and wrote nothing.\n"
                 "Result codes: 999 written, 0 read only, 123 input not opened or read,\n"
                 "-1 pixel buffer not allocated, 432 function not between 1 and 10,\n"
                 "124 output not opened or written.\n";
}

int UsageError(const std::string& problem) {
    std::cerr << "tintwell: " << problem << "\nTry 'tintwell --help' for more information.\n";
    return kExitUsage;
}

struct ParsedCommand {
    std::optional<std::string> module_path;
    CallOptions call;
    std::vector<std::string> words;  // from EDIT on
    bool help = false;
    bool version = false;
    bool module_info = false;
    bool batch_picture = false;  // one picture of a batch: its warning was given
};

// Reads the options before EDIT; `arguments` has no program name.
std::optional<ParsedCommand> ParseOptions(const std::vector<std::string>& arguments, std::string& problem) {
    ParsedCommand command;
    std::size_t i = 0;
    const std::size_t argc = arguments.size();
    for (; i < argc; ++i) {
        const std::string& word = arguments[i];
        if (word == "--") {
            ++i;
            break;
        }
        if (word.size() < 2 || word.front() != '-') break;
        if (word == "--help") {
            command.help = true;
        } else if (word == "--version") {
            command.version = true;
        } else if (word == "--module-info") {
            command.module_info = true;
        } else if (word == kBatchPictureOption) {
            command.batch_picture = true;
        } else if (word == "--module") {
            if (i + 1 >= argc) {
                problem = "--module needs a PATH";
                return std::nullopt;
            }
            command.module_path = arguments[++i];
        } else if (!ReadCallOption(word, command.call)) {
            problem = "unknown option '" + word + "'";
            return std::nullopt;
        }
    }
    for (; i < argc; ++i) command.words.push_back(arguments[i]);
    return command;
}

std::unique_ptr<Module> OpenLibrary(const ParsedCommand& command) {
    const std::string path = command.module_path.value_or(DefaultModulePath());
    std::string error;
    std::unique_ptr<Module> module = Module::Load(path, error);
    if (!module) std::cerr << "tintwell: cannot load the library: " << error << "\n";
    return module;
}

// The single-picture form: exactly INPUT, and OUTPUT when the edit writes.
std::optional<PictureEdit> BuildEdit(const EditAndAmount& edit, const CommandWords& words, std::string& problem) {
    const std::size_t wanted = edit.edit.writes_output ? 2 : 1;
    if (words.files.size() != wanted) {
        problem = std::string(edit.edit.name) + (wanted == 2 ? " needs INPUT and OUTPUT, " : " needs INPUT alone, ") +
                  FileCount(words.files.size());
        return std::nullopt;
    }
    for (const std::string& name : words.files) {
        if (!IsValidFileName(name, problem)) return std::nullopt;
    }
    return PictureEdit{edit.edit.function, edit.amount, words.files[0],
                       wanted == 2 ? std::optional(words.files[1]) : std::nullopt};
}

// raw FUNCTION AMOUNT [--] INPUT [OUTPUT]: the library exactly.
int RunRaw(const ParsedCommand& command, std::string& problem) {
    const std::vector<std::string>& words = command.words;
    const std::optional<std::int32_t> function = words.size() > 1 ? ParseInt32(words[1]) : std::nullopt;
    const std::optional<std::int32_t> amount = words.size() > 2 ? ParseInt32(words[2]) : std::nullopt;
    if (words.size() < 4) return UsageError("raw needs FUNCTION AMOUNT INPUT [OUTPUT]");
    if (!function || !amount) return UsageError("FUNCTION and AMOUNT must be integers from -2147483648 to 2147483647");
    const std::optional<CommandWords> read = ReadCommandWords(words, 3, command.call, problem);
    if (!read) return UsageError(problem);
    if (read->IsBatch()) return UsageError("raw edits one picture: it takes no --out-dir, --in-place or -j");
    if (read->files.empty() || read->files.size() > 2) {
        return UsageError("raw needs FUNCTION AMOUNT INPUT [OUTPUT], " + FileCount(read->files.size()));
    }
    for (const std::string& name : read->files) {
        if (!IsValidFileName(name, problem)) return UsageError(problem);
    }
    const PictureEdit edit{*function, *amount, read->files[0],
                           read->files.size() == 2 ? std::optional(read->files[1]) : std::nullopt};
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    return ExitStatusOf(CallWithNames(module->entry(), edit, read->call));
}

int RunDemoCommand(const ParsedCommand& command, std::string& problem) {
    const std::optional<CommandWords> read = ReadCommandWords(command.words, 1, command.call, problem);
    if (!read) return UsageError(problem);
    if (read->IsBatch()) return UsageError("demo takes no --out-dir, --in-place or -j");
    if (read->files.size() > 1) return UsageError("demo takes at most one DIR, " + FileCount(read->files.size()));
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    return RunDemo(module->entry(), read->files.empty() ? "tintwell-demo" : read->files[0], read->call);
}

int RunEdit(const ParsedCommand& command, std::string& problem) {
    const std::optional<EditAndAmount> edit = ReadEditAndAmount(command.words, problem);
    if (!edit) return UsageError(problem);
    const std::optional<CommandWords> read = ReadCommandWords(command.words, edit->next, command.call, problem);
    if (!read) return UsageError(problem);
    std::optional<BatchPlan> plan;
    std::optional<PictureEdit> single;
    if (read->IsBatch()) {
        plan = PlanBatch(*edit, *read, problem);
    } else {
        single = BuildEdit(*edit, *read, problem);
    }
    if (!plan && !single) return UsageError(problem);
    const std::optional<std::string> warning = AmountWarning(edit->edit, edit->amount);
    if (warning && !command.batch_picture) {
        std::cerr << "tintwell: warning: " << *warning << "\n";
    }
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    if (plan) return RunBatch(*module, *plan);
    return ExitStatusOf(EditPicture(module->entry(), *single, read->call));
}

}  // namespace

int Main(const std::vector<std::string>& arguments) {
    std::string problem;
    const std::optional<ParsedCommand> command = ParseOptions(arguments, problem);
    if (!command) return UsageError(problem);
    if (command->help) {
        PrintHelp();
        return kExitSuccess;
    }
    if (command->version) {
        const std::unique_ptr<Module> module = OpenLibrary(*command);
        std::cout << "tintwell " << TINTWELL_VERSION << "\n";
        if (!module) return kExitModuleFailed;
        std::cout << "library: " << module->path() << "\n";
        return PrintLibraryVersion(*module) ? kExitSuccess : kExitModuleFailed;
    }
    if (command->module_info) {
        const std::unique_ptr<Module> module = OpenLibrary(*command);
        if (!module) return kExitModuleFailed;
        return PrintModuleInfo(*module) ? kExitSuccess : kExitModuleFailed;
    }
    if (command->words.empty()) return UsageError("no edit given");
    if (command->words[0] == "raw") return RunRaw(*command, problem);
    if (command->words[0] == "demo") return RunDemoCommand(*command, problem);
    return RunEdit(*command, problem);
}

}  // namespace tintwell_cli

#if !defined(_WIN32)
int main(int argc, char** argv) { return tintwell_cli::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
