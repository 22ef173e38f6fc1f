// tintwell: the command-line host. It reads the command line, loads the
// editing library at run time, and carries out one form of the command:
// one picture, a batch, raw, demo, or what the library is.
#include "main.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "batch.h"
#include "command_line.h"
#include "demo.h"
#include "edit_picture.h"
#include "edits.h"
#include "exit_status.h"
#include "format.h"
#include "help.h"
#include "host_messages.h"
#include "module_loader.h"
#include "module_resources.h"
#include "report.h"

namespace tintwell_cli {
namespace {

std::unique_ptr<Module> OpenLibrary(const Command& command) {
    const std::string path = command.module_path.value_or(DefaultModulePath());
    std::string error;
    std::unique_ptr<Module> module = Module::Load(path, error);
    if (!module) ReportError(MessageOf(text::kLibraryNotLoaded, error));
    return module;
}

int ShowVersion(const Command& command) {
    const std::unique_ptr<Module> module = OpenLibrary(command);
    Say(MessageOf(text::kProgramVersion, TINTWELL_VERSION));
    if (!module) return kExitModuleFailed;
    Say(MessageOf(text::kLibraryPath, module->path()));
    return PrintLibraryVersion(*module) ? kExitSuccess : kExitModuleFailed;
}

int ShowModuleInfo(const Command& command) {
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    return PrintModuleInfo(*module) ? kExitSuccess : kExitModuleFailed;
}

int RunRaw(const Command& command) {
    const PictureEdit edit = command.Picture();
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    for (const Message& warning : NameWarnings(edit)) ReportWarning(warning);
    const Outcome outcome = CallWithNames(module->entry(), edit, command.call);
    ReportPicture(outcome, edit, command.call);
    return outcome.ExitStatus();
}

int RunDemoCommand(const Command& command) {
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    return RunDemo(module->entry(), command.files.empty() ? "tintwell-demo" : command.files[0], command.call);
}

int RunEdit(const Command& command) {
    std::optional<BatchPlan> plan;
    if (command.form == Form::kBatch) {
        Message problem;
        plan = PlanBatch(command, problem);
        if (!plan) return ReportUsageError(problem);
    }
    const std::optional<std::string> warning = AmountWarning(command.edit, command.amount);
    if (warning && !command.batch_picture) ReportWarning(MessageOf(text::kSystemWords, *warning));
    const std::unique_ptr<Module> module = OpenLibrary(command);
    if (!module) return kExitModuleFailed;
    if (plan) return RunBatch(*module, *plan);
    const PictureEdit edit = command.Picture();
    const Outcome outcome = EditPicture(module->entry(), edit, command.call);
    ReportPicture(outcome, edit, command.call);
    return outcome.ExitStatus();
}

}  // namespace

int Main(const std::vector<std::string>& arguments) {
    const std::variant<Command, Message> read = ReadCommandLine(arguments);
    if (const Message* problem = std::get_if<Message>(&read)) return ReportUsageError(*problem);
    const Command& command = std::get<Command>(read);
    // A report for scripts is English throughout, its lines on stderr too:
    // a message built in another language could not be put back.
    if (command.call.json_report) pattern_translator = nullptr;
    switch (command.form) {
    case Form::kHelp: PrintHelp(); return kExitSuccess;
    case Form::kVersion: return ShowVersion(command);
    case Form::kModuleInfo: return ShowModuleInfo(command);
    case Form::kRaw: return RunRaw(command);
    case Form::kDemo: return RunDemoCommand(command);
    case Form::kPicture:
    case Form::kBatch: return RunEdit(command);
    }
    return kExitUsage;
}

int RefuseArgument(int index) { return ReportUsageError(MessageOf(text::kNotUtf16Argument, index)); }

}  // namespace tintwell_cli
