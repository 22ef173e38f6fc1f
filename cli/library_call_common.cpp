// The parts of a library call that every platform shares: the call, its
// result and the lines about it.
#include <cstdio>
#include <iostream>
#include <random>
#include <string_view>

#include "edits.h"
#include "exit_status.h"
#include "file_name.h"
#include "library_call_internal.h"
#include "utf16.h"

namespace tintwell_cli {

void Refuse(const std::string& file, const std::string& reason, bool writes, std::string_view force_note) {
    std::cerr << "tintwell: " << file << ": " << reason << (writes ? "; nothing written" : "");
    if (!force_note.empty()) std::cerr << " (" << force_note << ")";
    std::cerr << "\n";
}

std::int32_t CallLibrary(TintwellEntry entry, const std::string& input, const std::optional<std::string>& output,
                         const PictureEdit& edit, bool quiet) {
    const std::u16string input16 = Utf8ToUtf16(input).value_or(u"");
    const std::optional<std::u16string> output16 = output ? Utf8ToUtf16(*output) : std::nullopt;
    StdoutForLibrary prepared(quiet);
    const std::int32_t result = entry(reinterpret_cast<const TintwellChar16*>(input16.c_str()),
                                      output16 ? reinterpret_cast<const TintwellChar16*>(output16->c_str()) : nullptr,
                                      edit.amount, edit.function);
    std::fflush(stdout);
    return result;
}

void ReportResult(const PictureEdit& edit, std::int32_t result) {
    const bool about_output = result == TINTWELL_RESULT_SAVE_FAILED && edit.output;
    std::cerr << "tintwell: " << (about_output ? *edit.output : edit.input) << ": result " << result << ": "
              << ResultMeaning(result) << "\n";
}

std::string RandomSuffix() {
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
    std::string suffix(6, ' ');
    for (char& letter : suffix) letter = kLetters[pick(device)];
    return suffix;
}

CallOutcome CallWithNames(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    for (const std::optional<std::string>& name : {std::optional(edit.input), edit.output}) {
        if (name && name->size() >= korvane::kFileNameCapacity) {
            std::cerr << "tintwell: warning: " << *name << ": " << name->size()
                      << " bytes, longer than the library's limit of " << korvane::kFileNameCapacity - 1
                      << " bytes for a name\n";
        }
    }
    const std::int32_t result = CallLibrary(entry, edit.input, edit.output, edit, options.quiet);
    if (IsSuccess(result)) return CallOutcome::kSucceeded;
    ReportResult(edit, result);
    return CallOutcome::kFailed;
}

int ExitStatusOf(CallOutcome outcome) {
    switch (outcome) {
    case CallOutcome::kSucceeded: return kExitSuccess;
    case CallOutcome::kRefused: return kExitRefused;
    case CallOutcome::kFailed: return kExitEditFailed;
    }
    return kExitEditFailed;
}

}  // namespace tintwell_cli
