// tintwell: the command-line host. It loads the editing library at run time,
// passes it one edit, and turns the result code into an exit status.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch.h"
#include "demo.h"
#include "edits.h"
#include "exit_status.h"
#include "module_loader.h"
#include "library_note_reader.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

void PrintUsage(std::ostream& out) {
    out << "Usage: tintwell [--module PATH] EDIT [AMOUNT] INPUT OUTPUT\n"
           "       tintwell [--module PATH] read INPUT\n"
           "       tintwell [--module PATH] EDIT [AMOUNT] (--out-dir DIR | --in-place) [-j N] [--] FILE...\n"
           "       tintwell [--module PATH] read -j N [--] FILE...\n"
           "       tintwell [--module PATH] raw FUNCTION AMOUNT INPUT [OUTPUT]\n"
           "       tintwell [--module PATH] demo [DIR]\n"
           "       tintwell [--module PATH] --version | --module-info\n"
           "       tintwell --help\n";
}

void PrintHelp() {
    PrintUsage(std::cout);
    std::cout << "\nEdits a 24-bit BMP picture through the KorvaneTintwell library. The library\n"
                 "prints its own progress messages (in Korean) on stdout.\n\nEDIT is a name or its number:\n";
    for (const EditInfo& edit : AllEdits()) {
        std::string words = std::string(edit.name) + " | " + std::to_string(edit.function);
        if (edit.needs_amount) words += " AMOUNT";
        std::cout << "  " << words << std::string(words.size() < 24 ? 24 - words.size() : 1, ' ') << edit.summary
                  << "\n";
    }
    std::cout << "\nAMOUNT is a decimal integer from -2147483648 to 2147483647; the edits use its\n"
                 "low 8 bits (300 acts as 44, -1 as 255), noise uses the whole value as its bound.\n"
                 "\n"
                 "raw passes any FUNCTION and AMOUNT through untouched; without OUTPUT the\n"
                 "library gets no output name.\n"
                 "\n"
                 "The FILE... form edits many pictures, N at a time, each in a process of its\n"
                 "own; each picture's messages are printed together, in input order, then a\n"
                 "summary on stderr. Its options may stand anywhere after EDIT [AMOUNT]:\n"
                 "  --out-dir DIR  write each output into DIR under its input's file name\n"
                 "                 (never over an input)\n"
                 "  --in-place     write each output over its input\n"
                 "  -j N           edit N pictures at a time (default: the number of processors)\n"
                 "read takes -j alone. A batch exits with status 2 when any picture failed.\n"
                 "\n"
                 "demo writes a sample picture, its nine edits and index.html into DIR\n"
                 "(default tintwell-demo), and editor.html, the page that edits any picture\n"
                 "in a browser, when the web page is built (make web) or installed.\n"
                 "\nOptions:\n"
                 "  --module PATH  load this library instead of the one beside the program\n"
                 "  --help         show this help\n"
                 "  --version      show the program's version and the library it loads, with\n"
                 "                 the version the library carries\n"
                 "  --module-info  show the library's version block, type library and string\n"
                 "                 table, read from the library itself\n"
                 "  --             end of options\n"
                 "\nExit status: 0 when the library returns 999 or 0; 1 for a usage error;\n"
                 "2 for any other result code (one line on stderr says what it means);\n"
                 "3 when the library cannot be loaded.\n"
                 "Result codes: 999 written, 0 read only, 123 input not opened or read,\n"
                 "-1 pixel buffer not allocated, 432 function not between 1 and 10,\n"
                 "124 output not opened or written.\n";
}

int UsageError(const std::string& problem) {
    std::cerr << "tintwell: " << problem << "\n";
    PrintUsage(std::cerr);
    std::cerr << "Try 'tintwell --help' for more information.\n";
    return kExitUsage;
}

// One call of the library, with the arguments exactly as they will be passed.
struct Call {
    std::int32_t function = 0;
    std::int32_t amount = 0;
    std::u16string input;
    std::optional<std::u16string> output;
};

struct ParsedCommand {
    std::optional<std::string> module_path;
    std::vector<std::string> words;
    bool help = false;
    bool version = false;
    bool module_info = false;
};

std::optional<ParsedCommand> ParseOptions(int argc, char** argv, std::string& problem) {
    ParsedCommand command;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            ++i;
            break;
        }
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) break;
        if (word == "--help") {
            command.help = true;
        } else if (word == "--version") {
            command.version = true;
        } else if (word == "--module-info") {
            command.module_info = true;
        } else if (word == "--module") {
            if (i + 1 >= argc) {
                problem = "--module needs a PATH";
                return std::nullopt;
            }
            command.module_path = argv[++i];
        } else {
            problem = "unknown option '" + word + "'";
            return std::nullopt;
        }
    }
    for (; i < argc; ++i) command.words.emplace_back(argv[i]);
    return command;
}

std::optional<std::u16string> FileNameArgument(const std::string& name, std::string& problem) {
    std::optional<std::u16string> converted = Utf8ToUtf16(name);
    if (!converted) problem = "file name is not valid UTF-8: '" + name + "'";
    return converted;
}

// Turns the words after the options into one call; sets `problem` when
// they cannot be passed faithfully.
std::optional<Call> BuildCall(const std::vector<std::string>& words, std::string& problem) {
    Call call;
    std::size_t next = 1;
    std::size_t names_wanted = 2;
    if (words[0] == "raw") {
        if (words.size() < 4 || words.size() > 5) {
            problem = "raw needs FUNCTION AMOUNT INPUT [OUTPUT]";
            return std::nullopt;
        }
        const std::optional<std::int32_t> function = ParseInt32(words[1]);
        const std::optional<std::int32_t> amount = ParseInt32(words[2]);
        if (!function || !amount) {
            problem = "FUNCTION and AMOUNT must be integers from -2147483648 to 2147483647";
            return std::nullopt;
        }
        call.function = *function;
        call.amount = *amount;
        next = 3;
        names_wanted = words.size() - 3;
    } else {
        const std::optional<EditInfo> edit = FindEdit(words[0]);
        if (!edit) {
            problem = "unknown edit '" + words[0] + "'";
            return std::nullopt;
        }
        call.function = edit->function;
        if (edit->needs_amount) {
            const std::optional<std::int32_t> amount =
                words.size() > 1 ? ParseInt32(words[1]) : std::nullopt;
            if (!amount) {
                problem = std::string(edit->name) + " needs an AMOUNT, an integer from -2147483648 to 2147483647";
                return std::nullopt;
            }
            call.amount = *amount;
            next = 2;
        }
        names_wanted = edit->writes_output ? 2 : 1;
        if (words.size() - next != names_wanted) {
            problem = std::string(edit->name) + (names_wanted == 2 ? " needs INPUT and OUTPUT" : " needs INPUT alone");
            return std::nullopt;
        }
    }
    std::optional<std::u16string> input = FileNameArgument(words[next], problem);
    if (!input) return std::nullopt;
    call.input = std::move(*input);
    if (names_wanted == 2) {
        call.output = FileNameArgument(words[next + 1], problem);
        if (!call.output) return std::nullopt;
    }
    return call;
}

std::unique_ptr<Module> OpenLibrary(const ParsedCommand& command) {
    const std::string path = command.module_path.value_or(DefaultModulePath());
    std::string error;
    std::unique_ptr<Module> module = Module::Load(path, error);
    if (!module) std::cerr << "tintwell: cannot load the library: " << error << "\n";
    return module;
}

int RunCall(const Module& module, const Call& call) {
    const auto* input = reinterpret_cast<const TintwellChar16*>(call.input.c_str());
    const auto* output = call.output ? reinterpret_cast<const TintwellChar16*>(call.output->c_str()) : nullptr;
    const std::int32_t result = module.entry()(input, output, call.amount, call.function);
    std::fflush(stdout);
    if (IsSuccess(result)) return kExitSuccess;
    std::cerr << "tintwell: result " << result << ": " << ResultMeaning(result) << "\n";
    return kExitEditFailed;
}

int Main(int argc, char** argv) {
    std::string problem;
    const std::optional<ParsedCommand> command = ParseOptions(argc, argv, problem);
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
    const std::vector<std::string>& words = command->words;
    if (words.empty()) return UsageError("no edit given");

    if (words[0] == "demo") {
        if (words.size() > 2) return UsageError("demo takes at most one DIR");
        const std::unique_ptr<Module> module = OpenLibrary(*command);
        if (!module) return kExitModuleFailed;
        return RunDemo(module->entry(), words.size() == 2 ? words[1] : "tintwell-demo");
    }
    if (IsBatchCommand(words)) {
        const std::optional<BatchPlan> plan = PlanBatch(words, problem);
        if (!plan) return UsageError(problem);
        const std::unique_ptr<Module> module = OpenLibrary(*command);
        if (!module) return kExitModuleFailed;
        return RunBatch(module->entry(), *plan);
    }
    const std::optional<Call> call = BuildCall(words, problem);
    if (!call) return UsageError(problem);
    const std::unique_ptr<Module> module = OpenLibrary(*command);
    if (!module) return kExitModuleFailed;
    return RunCall(*module, *call);
}

}  // namespace
}  // namespace tintwell_cli

int main(int argc, char** argv) { return tintwell_cli::Main(argc, argv); }
