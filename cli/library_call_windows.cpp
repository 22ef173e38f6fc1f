// Windows: the input is held open against writers from the check to the
// call, and the library gets its name as given. A regular output is written
// to a temporary in its folder, which ReplaceFileW puts in its place (keeping
// its attributes, and working while a viewer holds it open) only when the
// library returned 999. Where ReplaceFileW cannot work, a rename does, and
// a line says so.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "edits.h"
#include "library_call_internal.h"
#include "picture_check.h"
#include "utf16.h"
#include "windows_text.h"

namespace tintwell_cli {
namespace {

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (valid()) ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a file or folder as it is (backup semantics open folders too).
Handle OpenExisting(const std::string& name, DWORD access, DWORD share) {
    return Handle(::CreateFileW(Wide(name).c_str(), access, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool IsFolder(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string KindOfFile(HANDLE file) {
    switch (::GetFileType(file)) {
    case FILE_TYPE_PIPE: return "a pipe";
    case FILE_TYPE_CHAR: return "a character device";
    default: return "not a regular file";
    }
}

// ---- The input ---------------------------------------------------------

std::string InputError(DWORD error) {
    if (error == ERROR_ACCESS_DENIED) return "not readable (permission denied)";
    return SystemMessage(error);
}

// The file's first bytes, as many as the check looks at.
std::optional<std::vector<std::uint8_t>> ReadHeader(HANDLE file) {
    std::vector<std::uint8_t> header(kPictureHeaderSize);
    std::size_t done = 0;
    while (done < header.size()) {
        DWORD got = 0;
        if (!::ReadFile(file, header.data() + done, static_cast<DWORD>(header.size() - done), &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) break;
        done += got;
    }
    header.resize(done);
    return header;
}

struct OpenedInput {
    Handle file;  // shared for reading only: no one writes it until the call is done
    std::uint64_t size = 0;
    bool regular = false;
};

// Opens the input and, unless told not to, checks that it is a picture the
// library edits correctly. Says why and returns nothing when it is not.
std::optional<OpenedInput> OpenInput(const PictureEdit& edit, const CallOptions& options) {
    const bool writes = edit.output.has_value();
    OpenedInput input{OpenExisting(edit.input, GENERIC_READ, FILE_SHARE_READ)};
    if (!input.file.valid()) {
        Refuse(edit.input, InputError(::GetLastError()), writes);
        return std::nullopt;
    }
    if (IsFolder(input.file.get())) {
        Refuse(edit.input, "a directory, not a picture", writes);
        return std::nullopt;
    }
    input.regular = ::GetFileType(input.file.get()) == FILE_TYPE_DISK;
    LARGE_INTEGER size{};
    if (input.regular && ::GetFileSizeEx(input.file.get(), &size)) {
        input.size = static_cast<std::uint64_t>(size.QuadPart);
    }
    if (!options.check) return input;
    if (!input.regular) {
        Refuse(edit.input,
               KindOfFile(input.file.get()) + ", not a regular file: it cannot be checked without consuming it",
               writes, writes ? "--force edits it unchecked" : "--force reads it unchecked");
        return std::nullopt;
    }
    const std::optional<std::vector<std::uint8_t>> header = ReadHeader(input.file.get());
    if (!header) {
        Refuse(edit.input, "cannot be read: " + SystemMessage(::GetLastError()), writes);
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal = PictureRefusal(*header, input.size)) {
        Refuse(edit.input, *refusal + "; tintwell edits 24-bit uncompressed BMP pictures", writes,
               writes ? "--force edits its bytes anyway" : "--force reads its bytes anyway");
        return std::nullopt;
    }
    return input;
}

// ---- Removing the temporary when the console ends the host ----------------

// The temporary to remove if Ctrl+C, Ctrl+Break or closing the console ends
// the process before the replacement. The handler runs on a thread of its
// own, so the name is fixed before the handler is installed.
wchar_t g_pending[32768];

BOOL WINAPI RemoveTemporary(DWORD) {
    ::DeleteFileW(g_pending);
    return FALSE;  // the next handler (the system's) ends the process
}

class TemporaryGuard {
public:
    explicit TemporaryGuard(const std::wstring& name) {
        name.copy(g_pending, std::size(g_pending) - 1);
        g_pending[std::min(name.size(), std::size(g_pending) - 1)] = L'\0';
        ::SetConsoleCtrlHandler(RemoveTemporary, TRUE);
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;
    ~TemporaryGuard() { ::SetConsoleCtrlHandler(RemoveTemporary, FALSE); }
};

// ---- The output ----------------------------------------------------------

// ".tintwell-XXXXXX.tmp": short and plain ASCII, so that the library, which
// takes names in the ANSI code page and up to 199 bytes, opens it wherever
// it opens the output.
std::string TemporaryName() { return ".tintwell-" + RandomSuffix() + ".tmp"; }

class Output {
public:
    // Says why and returns nothing when the output cannot be written safely.
    static std::optional<Output> Prepare(const std::string& output, std::uint64_t needed_bytes);

    // The name the library writes to.
    const std::string& LibraryName() const { return temporary_name_.empty() ? output_ : temporary_name_; }
    bool IsReplaced() const { return !temporary_name_.empty(); }

    // Puts the temporary in the output's place. On failure says why; the
    // output is untouched then.
    bool Commit(bool sync);

    Output(Output&&) = default;
    Output& operator=(Output&&) = default;
    ~Output() {
        temporary_.Close();
        if (IsReplaced() && !committed_) ::DeleteFileW(Wide(temporary_name_).c_str());
    }

private:
    Output() = default;
    bool MakeTemporary(std::uint64_t needed_bytes);
    bool Replace();

    std::string output_;
    std::string folder_;   // as given, for the temporary's name: "" for the current folder
    bool exists_ = false;  // a regular file that the edit replaces
    Handle temporary_;     // held open until the replacement, for --sync
    std::string temporary_name_;
    std::unique_ptr<TemporaryGuard> guard_;
    bool committed_ = false;
};

std::optional<Output> Output::Prepare(const std::string& output, std::uint64_t needed_bytes) {
    Output prepared;
    prepared.output_ = output;
    const Handle existing = OpenExisting(output, 0, kShareAll);
    if (existing.valid()) {
        if (IsFolder(existing.get())) {
            Refuse(output, "a directory", true);
            return std::nullopt;
        }
        // NUL, CON, a pipe: written where it stands.
        if (::GetFileType(existing.get()) != FILE_TYPE_DISK) return prepared;
        const DWORD attributes = ::GetFileAttributesW(Wide(output).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            Refuse(output, "read-only, so it cannot be replaced", true);
            return std::nullopt;
        }
        prepared.exists_ = true;
    } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        // A missing folder is named when the temporary cannot be made in it.
        Refuse(output, SystemMessage(error), true);
        return std::nullopt;
    }
    const std::filesystem::path path = PathOf(output);
    const std::filesystem::path name = path.filename();
    if (name.empty() || name == "." || name == "..") {
        Refuse(output, "names no file", true);
        return std::nullopt;
    }
    prepared.folder_ = Utf8Of(path.parent_path());
    if (!prepared.MakeTemporary(needed_bytes)) return std::nullopt;
    return prepared;
}

bool Output::MakeTemporary(std::uint64_t needed_bytes) {
    const std::string shown_folder = folder_.empty() ? "." : folder_;
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExW(Wide(shown_folder).c_str(), &available, nullptr, nullptr) &&
        available.QuadPart < needed_bytes) {
        Refuse(output_,
               "no room for the edited copy beside it in '" + shown_folder + "' (" + std::to_string(needed_bytes) +
                   " bytes needed)",
               true);
        return false;
    }
    constexpr int kAttempts = 100;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary_name_ = Utf8Of(PathOf(folder_) / TemporaryName());
        // Created here, so that no one else's file is taken; the library
        // opens it again to write it.
        temporary_ = Handle(::CreateFileW(Wide(temporary_name_).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        error = ::GetLastError();
        if (temporary_.valid() || error != ERROR_FILE_EXISTS) break;
    }
    if (temporary_.valid()) {
        std::error_code ignored;
        const std::filesystem::path whole = std::filesystem::absolute(PathOf(temporary_name_), ignored);
        guard_ = std::make_unique<TemporaryGuard>(whole.wstring());
        return true;
    }
    temporary_name_.clear();
    if (error == ERROR_PATH_NOT_FOUND) {
        Refuse(output_, "the directory '" + shown_folder + "' does not exist", true);
    } else {
        Refuse(output_, "cannot make the edited copy beside it in '" + shown_folder + "': " + SystemMessage(error),
               true);
    }
    return false;
}

// Whether ReplaceFileW failed for a reason a plain rename would not avoid:
// the output is in use, protected, or was left as it was on purpose.
bool RenameWouldFailToo(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 || error == ERROR_FILE_NOT_FOUND;
}

bool Output::Replace() {
    // Whole paths: ReplaceFileW under Wine fails on a bare relative name.
    std::error_code ignored;
    const std::wstring output = std::filesystem::absolute(PathOf(output_), ignored).wstring();
    const std::wstring temporary = std::filesystem::absolute(PathOf(temporary_name_), ignored).wstring();
    if (!exists_) {
        // No MOVEFILE_REPLACE_EXISTING: a file made meanwhile is not overwritten.
        if (::MoveFileExW(temporary.c_str(), output.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
        Refuse(output_, "cannot be written from its edited copy: " + SystemMessage(::GetLastError()), true);
        return false;
    }
    if (::ReplaceFileW(output.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (RenameWouldFailToo(error)) {
        Refuse(output_, "cannot be replaced by its edited copy: " + SystemMessage(error), true);
        return false;
    }
    // Some file systems (network shares, FAT) cannot replace a file keeping
    // its attributes: a rename still keeps the picture safe.
    if (!::MoveFileExW(temporary.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Refuse(output_, "cannot be replaced by its edited copy: " + SystemMessage(::GetLastError()), true);
        return false;
    }
    std::cerr << "tintwell: " << output_ << ": replaced by a rename, since ReplaceFileW could not replace it ("
              << SystemMessage(error) << "); only its attributes were kept, not its security or creation time\n";
    return true;
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

bool Output::Commit(bool sync) {
    if (sync && !::FlushFileBuffers(temporary_.get())) {
        Refuse(output_, "the edited copy did not reach the disk: " + SystemMessage(::GetLastError()), true);
        return false;
    }
    temporary_.Close();
    if (exists_) KeepAttributes(Wide(output_), Wide(temporary_name_));
    if (!Replace()) return false;
    committed_ = true;
    guard_.reset();
    return true;
}

}  // namespace

const char* const kReplacementKeeps = "its attributes and security";

StdoutForLibrary::StdoutForLibrary(bool quiet) {
    if (!quiet) return;
    std::fflush(stdout);
    saved_ = ::_dup(1);
    const int null = ::_open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (null >= 0) {
        ::_dup2(null, 1);
        ::_close(null);
    }
}

StdoutForLibrary::~StdoutForLibrary() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::_dup2(saved_, 1);
    ::_close(saved_);
}

CallOutcome EditPicture(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    std::optional<OpenedInput> input = OpenInput(edit, options);
    if (!input) return CallOutcome::kRefused;
    std::optional<Output> output;
    if (edit.output) {
        output = Output::Prepare(*edit.output, input->size);
        if (!output) return CallOutcome::kRefused;
    }
    const std::int32_t result = CallLibrary(
        entry, edit.input, output ? std::optional(output->LibraryName()) : std::nullopt, edit, options.quiet);
    // The replacement deletes the replaced file, which may be this very input.
    input->file.Close();
    const bool succeeded = output ? result == TINTWELL_RESULT_WRITTEN : IsSuccess(result);
    if (!succeeded) {
        ReportResult(edit, result);
        return CallOutcome::kFailed;
    }
    if (output && output->IsReplaced() && !output->Commit(options.sync)) return CallOutcome::kRefused;
    return CallOutcome::kSucceeded;
}

}  // namespace tintwell_cli
