// Windows: each picture is edited by this program run again with
// CreateProcessW on that one picture (the single-picture command line and
// --batch-picture), its stdout and stderr going to temporary files of its
// own. Its exit status is its outcome.
//
// Stopping: Ctrl+C and Ctrl+Break reach every process of the console, the
// children included, and each ends as a single edit would (removing its
// temporary). The parent takes them as a stop, starts no more pictures and
// waits for the running ones. The children are in a job object that ends
// them when the parent's last handle to it closes, so that none goes on
// after the parent has gone.
#include <windows.h>

#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "batch_processes.h"
#include "command_line.h"
#include "exit_status.h"
#include "host_messages.h"
#include "report.h"
#include "text_windows.h"

namespace tintwell_cli {
namespace {

// WaitForMultipleObjects waits for at most this many processes at once.
constexpr std::size_t kMostProcesses = MAXIMUM_WAIT_OBJECTS;

// A temporary file, removed when its last handle closes, which a child may
// inherit as its stdout or stderr.
HANDLE MakeCaptureFile(const std::wstring& folder, const std::wstring& name) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW((folder + name).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string ReadAll(HANDLE file) {
    std::string text;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return text;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

// One argument as the C runtime's command-line parser reads it back:
// quoted, with backslashes doubled before a quote and at the end.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t unit : argument) {
        if (unit == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(unit == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += unit;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// The command line that edits picture `index` alone.
std::wstring PictureCommandLine(const std::wstring& program, const std::string& module, const BatchPlan& plan,
                                std::size_t index) {
    std::vector<std::string> arguments{"--module", module, std::string(kBatchPictureOption)};
    if (!plan.call.check) arguments.emplace_back("--force");
    if (plan.call.sync) arguments.emplace_back("--sync");
    if (plan.call.quiet) arguments.emplace_back("-q");
    if (plan.call.to_24_bit) arguments.emplace_back("--to-24-bit");
    if (plan.call.library_text) arguments.emplace_back("--library-text");
    if (plan.call.json_report) arguments.emplace_back("--report=json");
    arguments.push_back(std::to_string(plan.edit.function));
    if (plan.edit.needs_amount()) arguments.push_back(std::to_string(plan.amount));
    arguments.emplace_back("--");
    const BatchPicture& picture = plan.pictures[index];
    arguments.push_back(picture.input);
    if (!picture.output.empty()) arguments.push_back(picture.output);
    std::wstring line = Quoted(program);
    for (const std::string& argument : arguments) line += L" " + Quoted(Wide(argument));
    return line;
}

struct RunningPicture {
    std::size_t index;
    HANDLE process;
    HANDLE messages;  // the child's stdout
    HANDLE lines;     // the child's stderr
};

void CloseAll(const RunningPicture& picture) {
    for (const HANDLE handle : {picture.process, picture.messages, picture.lines}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
}

// The console event that told the batch to stop, plus one; 0 while none.
// Set on the handler's own thread.
volatile LONG g_stop_event = 0;

BOOL WINAPI TakeStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    ::InterlockedCompareExchange(&g_stop_event, static_cast<LONG>(event) + 1, 0);
    return TRUE;  // the parent outlives its children, which end on their own
}

bool StopWasRequested() { return ::InterlockedCompareExchange(&g_stop_event, 0, 0) != 0; }

// A job object that ends its processes when its last handle closes; nothing
// when the system cannot make one.
HANDLE MakeJobEndingWithUs() {
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) return job;
    ::CloseHandle(job);
    return nullptr;
}

Message ExitProblem(DWORD code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    if (code >= 0xC0000000) return MessageOf(text::kEndedByException, hex);
    return MessageOf(text::kEndedWithoutResult, code);
}

PictureOutcome Collect(const RunningPicture& picture) {
    DWORD code = 0;
    ::GetExitCodeProcess(picture.process, &code);
    PictureOutcome outcome{OutcomeKind::kFailed, ReadAll(picture.messages), ReadAll(picture.lines), {}};
    outcome.stopped = code == static_cast<DWORD>(STATUS_CONTROL_C_EXIT) && StopWasRequested();
    if (code == kExitSuccess) {
        outcome.kind = OutcomeKind::kSucceeded;
    } else if (code == kExitRefused) {
        outcome.kind = OutcomeKind::kRefused;
    } else if (code == kExitInputChanged) {
        outcome.kind = OutcomeKind::kInputChanged;
    } else if (code != kExitEditFailed) {
        outcome.problem = ExitProblem(code);
    }
    return outcome;
}

}  // namespace

struct PictureProcesses::State {
    std::wstring program;
    std::string module;
    const BatchPlan& plan;
    std::wstring capture_folder;
    std::vector<RunningPicture> running;
    HANDLE job = nullptr;  // the children's job, ending them with us
    bool taking_stops = false;
};

PictureProcesses::PictureProcesses(const Module& module, const BatchPlan& plan, PictureJob)
    : state_(new State{ThisProgramPath(), module.path(), plan, {}, {}}) {}

PictureProcesses::~PictureProcesses() {
    for (const RunningPicture& picture : state_->running) {
        ::WaitForSingleObject(picture.process, INFINITE);
        CloseAll(picture);
    }
    if (state_->job != nullptr) ::CloseHandle(state_->job);
    if (state_->taking_stops) ::SetConsoleCtrlHandler(TakeStop, FALSE);
}

bool PictureProcesses::Ready(Message& problem) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || state_->program.empty()) {
        problem = MessageOf(text::kNoTemporaryFolder, SystemMessage(::GetLastError()));
        return false;
    }
    state_->capture_folder.assign(folder, length);
    state_->job = MakeJobEndingWithUs();
    state_->taking_stops = ::SetConsoleCtrlHandler(TakeStop, TRUE) != 0;
    return true;
}

bool PictureProcesses::Start(std::size_t index, Message& problem) {
    if (state_->running.size() >= kMostProcesses) {
        problem = MessageOf(text::kTooManyProcesses, kMostProcesses);
        return false;
    }
    const std::wstring stem = L"tintwell-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(index);
    RunningPicture started{index, nullptr, MakeCaptureFile(state_->capture_folder, stem + L"-out.txt"),
                           MakeCaptureFile(state_->capture_folder, stem + L"-err.txt")};
    if (started.messages == INVALID_HANDLE_VALUE || started.lines == INVALID_HANDLE_VALUE) {
        problem = MessageOf(text::kNoCapture, SystemMessage(::GetLastError()));
        CloseAll(started);
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = started.messages;
    startup.hStdError = started.lines;
    PROCESS_INFORMATION process{};
    std::wstring command = PictureCommandLine(state_->program, state_->module, state_->plan, index);
    // Nothing buffered here may be lost or reordered behind the children's output.
    FlushOutput();
    // Started suspended, so that it runs nothing before it is in the job.
    if (!::CreateProcessW(state_->program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                          nullptr, &startup, &process)) {
        problem = MessageOf(text::kNoProcess, SystemMessage(::GetLastError()));
        CloseAll(started);
        return false;
    }
    if (state_->job != nullptr) ::AssignProcessToJobObject(state_->job, process.hProcess);
    ::ResumeThread(process.hThread);
    ::CloseHandle(process.hThread);
    started.process = process.hProcess;
    state_->running.push_back(started);
    return true;
}

std::size_t PictureProcesses::running() const { return state_->running.size(); }

std::pair<std::size_t, PictureOutcome> PictureProcesses::WaitForOne() {
    std::vector<HANDLE> processes;
    for (const RunningPicture& picture : state_->running) processes.push_back(picture.process);
    const DWORD signalled =
        ::WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), FALSE, INFINITE);
    const std::size_t which = signalled - WAIT_OBJECT_0 < processes.size() ? signalled - WAIT_OBJECT_0 : 0;
    const RunningPicture picture = state_->running[which];
    if (which != signalled - WAIT_OBJECT_0) ::WaitForSingleObject(picture.process, INFINITE);
    state_->running.erase(state_->running.begin() + static_cast<std::ptrdiff_t>(which));
    PictureOutcome outcome = Collect(picture);
    CloseAll(picture);
    return {picture.index, std::move(outcome)};
}

bool PictureProcesses::StopRequested() { return StopWasRequested(); }

Message PictureProcesses::StopCause() const {
    return MessageOf(g_stop_event == CTRL_BREAK_EVENT + 1 ? text::kStopCtrlBreak : text::kStopCtrlC);
}

void PictureProcesses::EndAsStopped() { ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT)); }

}  // namespace tintwell_cli
