#include "command_line.h"

#include <filesystem>
#include <system_error>

#include "format.h"
#include "host_messages.h"
#include "shown_name.h"
#include "stream_names.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

constexpr std::string_view kOutDirOption = "--out-dir";
constexpr std::string_view kInPlaceOption = "--in-place";
constexpr std::string_view kJobsOption = "-j";
constexpr std::string_view kEndOfOptions = "--";
constexpr std::string_view kJsonReportOption = "--report=json";

using Problem = std::optional<Message>;

// A word read as an option: it starts with '-' and is more than "-" alone,
// which names stdin.
bool LooksLikeOption(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

// Takes `word` into `options` when it is --force, --sync, -q, --quiet, --to-24-bit
// or --library-text,
// which may stand before EDIT as well as after it.
bool ReadCallOption(std::string_view word, CallOptions& options) {
    if (word == "--force") {
        options.check = false;
    } else if (word == "--sync") {
        options.sync = true;
    } else if (word == "-q" || word == "--quiet") {
        options.quiet = true;
    } else if (word == "--to-24-bit") {
        options.to_24_bit = true;
    } else if (word == "--library-text") {
        options.library_text = true;
    } else if (word == kJsonReportOption) {
        options.json_report = true;
    } else {
        return false;
    }
    return true;
}

// "got 1 file", "got no file", "got 3 files": for arity errors.
std::string FileCount(std::size_t count) {
    if (count == 0) return Format(text::kNoFileCounted);
    if (count == 1) return Format(text::kOneFileCounted);
    return Format(text::kFilesCounted, count);
}

Problem InvalidName(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (!IsValidFileName(name)) return MessageOf(text::kNotUtf8Name, name);
    }
    return std::nullopt;
}

bool IsBatch(const Command& command) { return command.out_dir || command.in_place || command.jobs; }

// The options before EDIT; the words from EDIT on go to `words`.
Problem ReadLeadingOptions(const std::vector<std::string>& arguments, Command& command, bool& help, bool& version,
                           bool& module_info, std::vector<std::string>& words) {
    std::size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == kEndOfOptions) {
            ++i;
            break;
        }
        if (word.size() < 2 || word.front() != '-') break;
        if (word == "--help") {
            help = true;
        } else if (word == "--version") {
            version = true;
        } else if (word == "--module-info") {
            module_info = true;
        } else if (word == kBatchPictureOption) {
            command.batch_picture = true;
        } else if (word == "--module") {
            if (i + 1 >= arguments.size()) return MessageOf(text::kModuleNeedsPath);
            command.module_path = arguments[++i];
        } else if (!ReadCallOption(word, command.call)) {
            return MessageOf(text::kUnknownOption, word);
        }
    }
    words.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
    return std::nullopt;
}

// --out-dir DIR or -j N, at words[next]; moves `next` past the value.
Problem ReadValueOption(const std::vector<std::string>& words, std::size_t& next, Command& command) {
    const std::string& word = words[next];
    if (next + 1 >= words.size()) {
        return MessageOf(word == kJobsOption ? text::kJobsNeedsNumber : text::kOutDirNeedsDirectory);
    }
    const std::string& value = words[++next];
    if (word == kOutDirOption) {
        const bool twice = command.out_dir.has_value();
        command.out_dir = value;
        if (twice) return MessageOf(text::kOutDirTwice);
        return std::nullopt;
    }
    const std::optional<std::int32_t> jobs = ParseInt32(value);
    if (!jobs || *jobs < 1) return MessageOf(text::kJobsAtLeastOne);
    command.jobs = static_cast<std::size_t>(*jobs);
    return std::nullopt;
}

// The words from `next` on: options anywhere before "--", the rest file names.
Problem ReadFilesAndOptions(const std::vector<std::string>& words, std::size_t next, Command& command) {
    bool options_ended = false;
    for (; next < words.size(); ++next) {
        const std::string& word = words[next];
        if (options_ended || !LooksLikeOption(word)) {
            command.files.push_back(word);
        } else if (word == kEndOfOptions) {
            options_ended = true;
        } else if (word == kInPlaceOption) {
            command.in_place = true;
        } else if (word == kOutDirOption || word == kJobsOption) {
            if (Problem problem = ReadValueOption(words, next, command)) return problem;
        } else if (!ReadCallOption(word, command.call)) {
            return MessageOf(text::kUnknownOption, word);
        }
    }
    return std::nullopt;
}

// raw FUNCTION AMOUNT [--] INPUT [OUTPUT]: the library exactly.
Problem ReadRaw(const std::vector<std::string>& words, Command& command) {
    const std::optional<std::int32_t> function = words.size() > 1 ? ParseInt32(words[1]) : std::nullopt;
    const std::optional<std::int32_t> amount = words.size() > 2 ? ParseInt32(words[2]) : std::nullopt;
    if (words.size() < 4) return MessageOf(text::kRawNeeds);
    if (!function || !amount) return MessageOf(text::kRawIntegers);
    command.form = Form::kRaw;
    command.function = *function;
    command.amount = *amount;
    if (Problem problem = ReadFilesAndOptions(words, 3, command)) return problem;
    if (IsBatch(command)) return MessageOf(text::kRawNoBatch);
    if (command.files.empty() || command.files.size() > 2) {
        return MessageOf(text::kRawNeedsCounted, FileCount(command.files.size()));
    }
    return InvalidName(command.files);
}

Problem ReadDemo(const std::vector<std::string>& words, Command& command) {
    command.form = Form::kDemo;
    if (Problem problem = ReadFilesAndOptions(words, 1, command)) return problem;
    if (IsBatch(command)) return MessageOf(text::kDemoNoBatch);
    if (command.files.size() > 1) return MessageOf(text::kDemoOneDirectory, FileCount(command.files.size()));
    return std::nullopt;
}

// EDIT [AMOUNT]; the first word after them in `next`. A number after an
// edit that takes no AMOUNT is taken for a mistaken AMOUNT unless a file
// has that name.
Problem ReadEditAndAmount(const std::vector<std::string>& words, Command& command, std::size_t& next) {
    const std::optional<EditInfo> edit = FindEdit(words[0]);
    if (!edit) return MessageOf(text::kUnknownEdit, words[0]);
    const std::optional<std::int32_t> amount = words.size() > 1 ? ParseInt32(words[1]) : std::nullopt;
    if (edit->needs_amount() && !amount) return MessageOf(text::kNeedsAmount, edit->name);
    std::error_code error;
    if (!edit->needs_amount() && amount && !std::filesystem::exists(words[1], error)) {
        return MessageOf(text::kTakesNoAmount, edit->name);
    }
    command.edit = *edit;
    command.function = edit->function;
    command.amount = amount.value_or(0);
    next = edit->needs_amount() ? 2 : 1;
    return std::nullopt;
}

// Whether the batch options say where the outputs go, as the edit needs.
Problem CheckDestination(const Command& command) {
    const EditInfo& edit = command.edit;
    if (!edit.writes_output && (command.out_dir || command.in_place)) {
        return MessageOf(text::kReadsNoDestination, edit.name);
    }
    if (edit.writes_output && command.out_dir && command.in_place) return MessageOf(text::kDestinationsExclusive);
    if (edit.writes_output && !command.out_dir && !command.in_place) {
        return MessageOf(text::kNeedsDestination, edit.name);
    }
    if (command.files.empty()) return MessageOf(text::kNoFiles);
    for (const std::string& file : command.files) {
        if (DescriptorNamed(file, command.edit.writes_output)) return MessageOf(text::kStreamInBatch, ShownName(file));
    }
    return std::nullopt;
}

Problem ReadEdit(const std::vector<std::string>& words, Command& command) {
    std::size_t next = 0;
    if (Problem problem = ReadEditAndAmount(words, command, next)) return problem;
    if (Problem problem = ReadFilesAndOptions(words, next, command)) return problem;
    if (IsBatch(command)) {
        command.form = Form::kBatch;
        return CheckDestination(command);
    }
    // The single-picture form: exactly INPUT, and OUTPUT when the edit writes.
    command.form = Form::kPicture;
    if (command.edit.writes_output && command.files.size() != 2) {
        return MessageOf(text::kNeedsInputAndOutput, command.edit.name, FileCount(command.files.size()));
    }
    if (!command.edit.writes_output && command.files.size() != 1) {
        return MessageOf(text::kNeedsInputAlone, command.edit.name, FileCount(command.files.size()));
    }
    if (command.call.json_report && command.edit.writes_output &&
        DescriptorNamed(command.files[1], true) == kStdoutDescriptor) {
        return MessageOf(text::kJsonReportOnPicture);
    }
    return InvalidName(command.files);
}

}  // namespace

PictureEdit Command::Picture() const {
    return PictureEdit{function, amount, files.at(0), files.size() > 1 ? std::optional(files[1]) : std::nullopt};
}

std::variant<Command, Message> ReadCommandLine(const std::vector<std::string>& arguments) {
    Command command;
    bool help = false, version = false, module_info = false;
    std::vector<std::string> words;
    Problem problem = ReadLeadingOptions(arguments, command, help, version, module_info, words);
    if (problem) return *problem;
    if (help || version || module_info) {
        command.form = help ? Form::kHelp : version ? Form::kVersion : Form::kModuleInfo;
        return command;
    }
    if (words.empty()) return MessageOf(text::kNoEdit);
    if (words[0] == "raw") {
        problem = ReadRaw(words, command);
    } else if (words[0] == "demo") {
        problem = ReadDemo(words, command);
    } else {
        problem = ReadEdit(words, command);
    }
    if (problem) return *problem;
    return command;
}

}  // namespace tintwell_cli
