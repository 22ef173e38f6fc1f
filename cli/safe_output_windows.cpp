// Windows: a regular output is written to ".tintwell-XXXXXX.tmp" in its
// folder, which ReplaceFileW puts in its place (keeping its attributes, and
// working while a viewer holds it open). Where ReplaceFileW cannot work, a
// rename does, and a remark says so.
//
// What Linux does that Windows cannot: the library opens the copy by name,
// and Windows has no file that is unnamed until linked (a file marked for
// deletion cannot be opened again), so the copy is named from the start and
// TerminateProcess, the SIGKILL of Windows, leaves it. A new file takes its
// security from its folder's inheritable entries, which is what any new
// file gets there; ReplaceFileW gives the edited copy the replaced file's
// own. Windows has no POSIX signals: the console's events and a crash (an
// unhandled exception, abort) remove the copy.
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cwchar>
#include <filesystem>
#include <iterator>
#include <utility>

#include "format.h"
#include "host_messages.h"
#include "safe_output.h"
#include "text_windows.h"
#include "utf16.h"

namespace tintwell_cli {

const std::string_view kReplacementKeeps = text::kReplacementKeepsWindows;

namespace {

// ---- Removing the temporary when the console or a crash ends the host ----

// The temporary to remove if Ctrl+C, Ctrl+Break, closing the console, an
// unhandled exception or abort() ends the process before the replacement.
// The console's handler runs on a thread of its own, so the name is fixed
// before the handlers are installed.
wchar_t g_pending[32768];
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;
void (*g_previous_abort)(int) = SIG_DFL;

BOOL WINAPI RemoveTemporary(DWORD) {
    ::DeleteFileW(g_pending);
    return FALSE;  // the next handler (the system's) ends the process
}

// A crash: the copy goes, then the exception takes its course (the
// previous filter's, else the system's), so the exit code still names it.
LONG WINAPI RemoveTemporaryOnCrash(EXCEPTION_POINTERS* exception) {
    ::DeleteFileW(g_pending);
    return g_previous_filter != nullptr ? g_previous_filter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

extern "C" void RemoveTemporaryOnAbort(int signal) {
    ::DeleteFileW(g_pending);
    std::signal(signal, g_previous_abort);
    std::raise(signal);
}

class TemporaryGuard {
public:
    explicit TemporaryGuard(const std::wstring& name) {
        name.copy(g_pending, std::size(g_pending) - 1);
        g_pending[std::min(name.size(), std::size(g_pending) - 1)] = L'\0';
        ::SetConsoleCtrlHandler(RemoveTemporary, TRUE);
        g_previous_filter = ::SetUnhandledExceptionFilter(RemoveTemporaryOnCrash);
        g_previous_abort = std::signal(SIGABRT, RemoveTemporaryOnAbort);
        if (g_previous_abort == SIG_ERR) g_previous_abort = SIG_DFL;
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;
    ~TemporaryGuard() {
        std::signal(SIGABRT, g_previous_abort);
        ::SetUnhandledExceptionFilter(g_previous_filter);
        ::SetConsoleCtrlHandler(RemoveTemporary, FALSE);
    }
};

// ".tintwell-XXXXXX.tmp": short and plain ASCII, so that the library, which
// takes names in the ANSI code page and up to 199 bytes, opens it wherever
// it opens the output.
std::string TemporaryName() { return ".tintwell-" + RandomSuffix() + ".tmp"; }

// Whether ReplaceFileW failed for a reason a plain rename would not avoid:
// the output is in use, protected, or was left as it was on purpose.
bool RenameWouldFailToo(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 || error == ERROR_FILE_NOT_FOUND;
}

// The replaced file's hidden, system and archive attributes, given to the
// edited copy here because not every ReplaceFileW (Wine's, a rename) keeps them.
void KeepAttributes(const std::wstring& from, const std::wstring& to) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept) != 0) {
        ::SetFileAttributesW(to.c_str(), attributes & kKept);
    }
}

}  // namespace

struct SafeOutput::State {
    std::string output;
    std::string folder;   // as given, for the temporary's name: "" for the current folder
    bool exists = false;  // a regular file that the edit replaces
    Handle temporary;     // held open until the replacement, for --sync
    std::string temporary_name;
    std::unique_ptr<TemporaryGuard> guard;
    bool committed = false;

    std::string ShownFolder() const { return folder.empty() ? "." : folder; }
    bool ShortOfRoom(std::uint64_t bytes) const;
    std::optional<Message> MakeTemporary(std::uint64_t needed_bytes);
    std::optional<Message> Replace(std::vector<Message>& remarks);
};

SafeOutput::SafeOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
SafeOutput::SafeOutput(SafeOutput&&) noexcept = default;
SafeOutput& SafeOutput::operator=(SafeOutput&&) noexcept = default;

SafeOutput::~SafeOutput() {
    if (!state_) return;
    state_->temporary.Close();
    if (IsReplaced() && !state_->committed) ::DeleteFileW(Wide(state_->temporary_name).c_str());
}

std::optional<SafeOutput> SafeOutput::Prepare(const std::string& output, std::uint64_t needed_bytes,
                                              Message& problem) {
    auto state = std::make_unique<State>();
    state->output = output;
    // Only new outputs (demo): any file, folder or link by that name is refused.
    if (OnlyNewOutputsInForce() && ::GetFileAttributesW(Wide(output).c_str()) != INVALID_FILE_ATTRIBUTES) {
        problem = MessageOf(text::kOutputExists);
        return std::nullopt;
    }
    const Handle existing = OpenExisting(output, 0, kShareAll);
    if (existing.valid()) {
        if (OnlyNewOutputsInForce()) {
            problem = MessageOf(text::kOutputExists);
            return std::nullopt;
        }
        if (IsFolder(existing.get())) {
            problem = MessageOf(text::kOutputIsDirectory);
            return std::nullopt;
        }
        // NUL, CON, a pipe: written where it stands.
        if (::GetFileType(existing.get()) != FILE_TYPE_DISK) return SafeOutput(std::move(state));
        const DWORD attributes = ::GetFileAttributesW(Wide(output).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            problem = MessageOf(text::kOutputReadOnly);
            return std::nullopt;
        }
        state->exists = true;
    } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        // A missing folder is named when the temporary cannot be made in it.
        problem = MessageOf(text::kSystemWords, SystemMessage(error));
        return std::nullopt;
    }
    const std::filesystem::path path = PathOf(output);
    const std::filesystem::path name = path.filename();
    if (name.empty() || name == "." || name == "..") {
        problem = MessageOf(text::kNamesNoFile);
        return std::nullopt;
    }
    state->folder = Utf8Of(path.parent_path());
    if (std::optional<Message> failure = state->MakeTemporary(needed_bytes)) {
        problem = std::move(*failure);
        return std::nullopt;
    }
    return SafeOutput(std::move(state));
}

bool SafeOutput::State::ShortOfRoom(std::uint64_t bytes) const {
    ULARGE_INTEGER available{};
    return ::GetDiskFreeSpaceExW(Wide(ShownFolder()).c_str(), &available, nullptr, nullptr) &&
           available.QuadPart < bytes;
}

std::optional<Message> SafeOutput::State::MakeTemporary(std::uint64_t needed_bytes) {
    const std::string shown_folder = ShownFolder();
    if (ShortOfRoom(needed_bytes)) return MessageOf(text::kNoRoom, shown_folder, needed_bytes);
    constexpr int kAttempts = 100;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary_name = Utf8Of(PathOf(folder) / TemporaryName());
        // Created here, so that no one else's file is taken; the library
        // opens it again to write it.
        temporary = Handle(::CreateFileW(Wide(temporary_name).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        error = ::GetLastError();
        if (temporary.valid() || error != ERROR_FILE_EXISTS) break;
    }
    if (temporary.valid()) {
        std::error_code ignored;
        const std::filesystem::path whole = std::filesystem::absolute(PathOf(temporary_name), ignored);
        guard = std::make_unique<TemporaryGuard>(whole.wstring());
        return std::nullopt;
    }
    temporary_name.clear();
    if (error == ERROR_PATH_NOT_FOUND) return MessageOf(text::kDirectoryMissing, shown_folder);
    return MessageOf(text::kNoTemporary, shown_folder, SystemMessage(error));
}

std::optional<Message> SafeOutput::State::Replace(std::vector<Message>& remarks) {
    // Whole paths: ReplaceFileW under Wine fails on a bare relative name.
    std::error_code ignored;
    const std::wstring whole_output = std::filesystem::absolute(PathOf(output), ignored).wstring();
    const std::wstring whole_temporary = std::filesystem::absolute(PathOf(temporary_name), ignored).wstring();
    if (!exists) {
        // No MOVEFILE_REPLACE_EXISTING: a file made meanwhile is not overwritten.
        if (::MoveFileExW(whole_temporary.c_str(), whole_output.c_str(), MOVEFILE_WRITE_THROUGH)) return std::nullopt;
        const DWORD error = ::GetLastError();
        if (OnlyNewOutputsInForce() && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
            return MessageOf(text::kOutputExists);
        }
        return MessageOf(text::kNotWrittenFromCopy, SystemMessage(error));
    }
    if (::ReplaceFileW(whole_output.c_str(), whole_temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr)) {
        return std::nullopt;
    }
    const DWORD error = ::GetLastError();
    if (RenameWouldFailToo(error)) return MessageOf(text::kNotReplaced, SystemMessage(error));
    // Some file systems (network shares, FAT) cannot replace a file keeping
    // its attributes: a rename still keeps the picture safe.
    if (!::MoveFileExW(whole_temporary.c_str(), whole_output.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return MessageOf(text::kNotReplaced, SystemMessage(::GetLastError()));
    }
    remarks.push_back(MessageOf(text::kReplacedByRename, SystemMessage(error)));
    return std::nullopt;
}

std::string SafeOutput::LibraryName() const {
    return state_->temporary_name.empty() ? state_->output : state_->temporary_name;
}

bool SafeOutput::IsReplaced() const { return !state_->temporary_name.empty(); }

std::optional<std::vector<std::uint8_t>> SafeOutput::ReadFirstBytes(std::size_t count) const {
    if (!IsReplaced()) return std::nullopt;
    const Handle copy = OpenExisting(state_->temporary_name, GENERIC_READ, kShareAll);
    std::vector<std::uint8_t> bytes(count);
    DWORD got = 0;
    if (!copy.valid() || !::ReadFile(copy.get(), bytes.data(), static_cast<DWORD>(count), &got, nullptr)) {
        return std::nullopt;
    }
    bytes.resize(got);
    return bytes;
}

std::optional<std::string> SafeOutput::ShortOfRoom(std::uint64_t bytes) const {
    if (!state_->ShortOfRoom(bytes)) return std::nullopt;
    return SystemMessage(ERROR_DISK_FULL);
}

bool SafeOutput::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    if (!IsReplaced() || bytes.empty()) return true;
    LARGE_INTEGER none{};
    DWORD wrote = 0;
    if (::SetFilePointerEx(state_->temporary.get(), none, nullptr, FILE_END) &&
        ::WriteFile(state_->temporary.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
        wrote == bytes.size()) {
        return true;
    }
    error = SystemMessage(::GetLastError());
    return false;
}

SafeOutput::Committed SafeOutput::Commit(bool sync) {
    State& s = *state_;
    Committed committed;
    if (sync && !::FlushFileBuffers(s.temporary.get())) {
        return Committed::Not(MessageOf(text::kCopyNotSynced, SystemMessage(::GetLastError())));
    }
    s.temporary.Close();
    if (s.exists) KeepAttributes(Wide(s.output), Wide(s.temporary_name));
    committed.failure = s.Replace(committed.remarks);
    if (committed.failure) return committed;
    s.committed = true;
    s.guard.reset();
    return committed;
}

// ---- The demo's directory ------------------------------------------------

struct NewFilesDirectory::State {
    std::wstring folder;  // whole path
};

namespace {

bool IsEmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    bool empty = true;
    do {
        if (std::wcscmp(entry.cFileName, L".") != 0 && std::wcscmp(entry.cFileName, L"..") != 0) empty = false;
    } while (empty && ::FindNextFileW(search, &entry));
    ::FindClose(search);
    return empty;
}

}  // namespace

NewFilesDirectory::NewFilesDirectory(std::unique_ptr<State> state) : state_(std::move(state)) {}
NewFilesDirectory::NewFilesDirectory(NewFilesDirectory&&) noexcept = default;
NewFilesDirectory& NewFilesDirectory::operator=(NewFilesDirectory&&) noexcept = default;
NewFilesDirectory::~NewFilesDirectory() = default;

std::optional<NewFilesDirectory> NewFilesDirectory::Enter(const std::string& path, Message& problem) {
    const auto unusable = [&](const std::string& reason) {
        problem = MessageOf(text::kDemoDirectoryUnusable, path, reason);
        return std::nullopt;
    };
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(PathOf(path), error);
    if (error) return unusable(SystemMessage(static_cast<DWORD>(error.value())));
    const std::filesystem::path parent = whole.parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    if (error) return unusable(SystemMessage(static_cast<DWORD>(error.value())));
    auto state = std::make_unique<State>();
    state->folder = whole.wstring();
    while (state->folder.size() > 3 && (state->folder.back() == L'\\' || state->folder.back() == L'/')) {
        state->folder.pop_back();
    }
    const bool made = ::CreateDirectoryW(state->folder.c_str(), nullptr) != 0;
    if (!made && ::GetLastError() != ERROR_ALREADY_EXISTS) return unusable(SystemMessage(::GetLastError()));
    const DWORD attributes = ::GetFileAttributesW(state->folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return unusable(SystemMessage(::GetLastError()));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return unusable(Format(text::kNotADirectory));
    if (!made && !IsEmptyFolder(state->folder)) return unusable(Format(text::kDemoDirectoryNotEmpty));
    if (!::SetCurrentDirectoryW(state->folder.c_str())) return unusable(SystemMessage(::GetLastError()));
    return NewFilesDirectory(std::move(state));
}

std::optional<std::string> NewFilesDirectory::Write(const std::string& name, std::string_view bytes) const {
    // CREATE_NEW: never an existing file, nor through a link by that name.
    const std::wstring whole = state_->folder + L"\\" + Wide(name);
    Handle file(::CreateFileW(whole.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Format(text::kNameTaken);
        return SystemMessage(error);
    }
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
            return SystemMessage(::GetLastError());
        }
        bytes.remove_prefix(written);
    }
    return std::nullopt;
}

}  // namespace tintwell_cli
