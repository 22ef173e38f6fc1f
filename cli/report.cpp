#include "report.h"

#include <cstdio>
#include <iostream>

#include "host_messages.h"
#include "shown_name.h"

namespace tintwell_cli {
namespace {

std::string_view RefusalFormat(const Outcome& outcome) {
    if (outcome.hint.empty()) {
        return outcome.nothing_written ? text::kRefusedNothingWrittenLine : text::kRefusedLine;
    }
    return outcome.nothing_written ? text::kRefusedNothingWrittenHintLine : text::kRefusedHintLine;
}

}  // namespace

std::string LinesOf(const Outcome& outcome) {
    std::string lines;
    const std::string file = ShownName(outcome.file);
    for (const Message& remark : outcome.remarks) lines += Format(text::kFileRemarkLine, file, remark.Text()) + "\n";
    if (outcome.reason) {
        lines += Format(RefusalFormat(outcome), file, outcome.reason->Text(), Format(outcome.hint)) + "\n";
    }
    return lines;
}

void Report(const Outcome& outcome) {
    if (outcome.answer) std::cout << Format(text::kReadAnswerLine, ShownName(outcome.file), outcome.answer->Text()) << "\n";
    std::cerr << LinesOf(outcome);
}

void ReportError(const Message& message) { std::cerr << Format(text::kErrorLine, message.Text()) << "\n"; }

void ReportWarning(const Message& message) { std::cerr << Format(text::kWarningLine, message.Text()) << "\n"; }

void ReportAboutFile(const std::string& file, const Message& message) {
    std::cerr << Format(text::kFileRemarkLine, ShownName(file), message.Text()) << "\n";
}

int ReportUsageError(const Message& problem) {
    std::cerr << Format(text::kUsageLine, problem.Text()) << "\n";
    return kExitUsage;
}

void Say(const Message& message) { std::cout << message.Text() << "\n"; }

void FlushOutput() {
    std::cout.flush();
    std::fflush(stdout);
    std::cerr.flush();
    std::fflush(stderr);
}

}  // namespace tintwell_cli
