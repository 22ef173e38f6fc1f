// A small Windows host for the DLL, run under Wine by wine_tests.sh:
//   wine_host exports DLL      Tintwell found by ordinal 1 and by name, same address
//   wine_host info DLL         the version block, type library and string table,
//                              read through the Windows API as tintwell.exe reads
//                              them, in the layout the Linux host prints from its note
//   wine_host run DLL PLAN     one Tintwell call per plan line, each followed by
//                              "[result N]"; stdout in binary mode
//   wine_host refuse DLL       LoadLibraryW must fail with ERROR_DLL_INIT_FAILED
//   wine_host closed DLL IN OUT  tint up by 0 (a copy) of IN to OUT with stdout
//                              closed and unbuffered; 0 when the library returned 999
//   wine_host hold FILE SHARING  holds FILE open as a viewer does, sharing it for
//                              reading ("read") or for reading and deletion
//                              ("delete"); prints "holding" and waits for stdin to end
// A plan line is FUNCTION, AMOUNT, INPUT and optionally OUTPUT, separated by
// tabs, names in UTF-8; \uXXXX in a name stands for that UTF-16 unit, so that
// names no UTF-8 text can hold (a lone surrogate) can be passed.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "korvane/tintwell.h"
#include "module_info.h"
#include "module_resources.h"

namespace {

using tintwell_cli::ModuleInfo;

constexpr WORD kTintwellOrdinal = 1;

int Fail(const std::string& problem) {
    std::fprintf(stderr, "wine_host: %s\n", problem.c_str());
    return 1;
}

// UTF-8 with \uXXXX escapes to UTF-16 units; nothing for ill-formed text.
std::optional<std::wstring> PlanName(const std::string& text) {
    std::wstring out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t escape = text.find("\\u", start);
        const std::string plain = text.substr(start, escape - start);
        if (!plain.empty()) {
            const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, plain.data(),
                                                   static_cast<int>(plain.size()), nullptr, 0);
            if (size == 0) return std::nullopt;
            std::wstring wide(static_cast<std::size_t>(size), L'\0');
            ::MultiByteToWideChar(CP_UTF8, 0, plain.data(), static_cast<int>(plain.size()), wide.data(), size);
            out += wide;
        }
        if (escape == std::string::npos) break;
        if (escape + 6 > text.size()) return std::nullopt;
        out += static_cast<wchar_t>(std::strtoul(text.substr(escape + 2, 4).c_str(), nullptr, 16));
        start = escape + 6;
    }
    return out;
}

std::string LastError() { return "error " + std::to_string(::GetLastError()); }

int Exports(const wchar_t* path) {
    HMODULE module = ::LoadLibraryW(path);
    if (module == nullptr) return Fail("LoadLibraryW failed: " + LastError());
    const FARPROC by_ordinal = ::GetProcAddress(module, MAKEINTRESOURCEA(kTintwellOrdinal));
    const FARPROC by_name = ::GetProcAddress(module, "Tintwell");
    ::FreeLibrary(module);
    if (by_ordinal == nullptr || by_name == nullptr) return Fail("Tintwell not found by ordinal 1 or by name");
    if (by_ordinal != by_name) return Fail("ordinal 1 and the name Tintwell give different addresses");
    std::printf("Tintwell: ordinal 1 and name give the same address\n");
    return 0;
}

int Refuse(const wchar_t* path) {
    HMODULE module = ::LoadLibraryW(path);
    if (module != nullptr) {
        ::FreeLibrary(module);
        return Fail("the load was not refused");
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_DLL_INIT_FAILED) return Fail("the load failed with " + LastError());
    std::printf("load refused: ERROR_DLL_INIT_FAILED\n");
    return 0;
}

int Info(const wchar_t* path) {
    HMODULE module = ::LoadLibraryW(path);
    if (module == nullptr) return Fail("LoadLibraryW failed: " + LastError());
    std::string error;
    const std::optional<ModuleInfo> info = tintwell_cli::ReadModuleResources(module, path, error);
    ::FreeLibrary(module);
    if (!info) return Fail("cannot read the resources: " + error);
    const std::string text = tintwell_cli::FormatModuleInfo(*info);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

// ----- edits -----

struct PlanCall {
    std::int32_t function = 0;
    std::int32_t amount = 0;
    std::wstring input;
    std::optional<std::wstring> output;
};

std::optional<PlanCall> ParsePlanLine(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    if (fields.size() < 3 || fields.size() > 4) return std::nullopt;
    PlanCall call;
    call.function = static_cast<std::int32_t>(std::strtol(fields[0].c_str(), nullptr, 10));
    call.amount = static_cast<std::int32_t>(std::strtol(fields[1].c_str(), nullptr, 10));
    std::optional<std::wstring> input = PlanName(fields[2]);
    if (!input) return std::nullopt;
    call.input = *input;
    if (fields.size() == 4) {
        call.output = PlanName(fields[3]);
        if (!call.output) return std::nullopt;
    }
    return call;
}

int Run(const wchar_t* path, const wchar_t* plan_path) {
    HMODULE module = ::LoadLibraryW(path);
    if (module == nullptr) return Fail("LoadLibraryW failed: " + LastError());
    const auto tintwell = reinterpret_cast<TintwellEntry>(
        reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(kTintwellOrdinal))));
    std::ifstream plan(plan_path, std::ios::binary);
    if (tintwell == nullptr || !plan) {
        ::FreeLibrary(module);
        return Fail("cannot find Tintwell or read the plan");
    }
    int status = 0;
    for (std::string line; std::getline(plan, line);) {
        const std::optional<PlanCall> call = ParsePlanLine(line);
        if (!call) {
            status = Fail("bad plan line: " + line);
            break;
        }
        const int32_t result = tintwell(call->input.c_str(), call->output ? call->output->c_str() : nullptr,
                                        call->amount, call->function);
        std::printf("[result %d]\n", static_cast<int>(result));
    }
    std::fflush(stdout);
    ::FreeLibrary(module);
    return status;
}

// The library's streams must not take descriptor 1 when stdout is closed:
// the output would receive the tint prompt printed while it is open.
int CopyWithStandardStreamsClosed(const wchar_t* path, const wchar_t* input, const wchar_t* output) {
    HMODULE module = ::LoadLibraryW(path);
    if (module == nullptr) return Fail("LoadLibraryW failed: " + LastError());
    const auto tintwell = reinterpret_cast<TintwellEntry>(
        reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(kTintwellOrdinal))));
    if (tintwell == nullptr) return Fail("cannot find Tintwell");
    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ::_close(1);
    const int32_t result = tintwell(input, output, 0, TINTWELL_FUNCTION_TINT_UP);
    ::FreeLibrary(module);
    return result == TINTWELL_RESULT_WRITTEN ? 0 : 1;
}

int Hold(const wchar_t* file, const std::wstring& sharing) {
    const DWORD share = sharing == L"delete" ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ;
    const HANDLE held = ::CreateFileW(file, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return Fail("cannot open the file: " + LastError());
    std::printf("holding\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    ::CloseHandle(held);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The library's messages are compared byte for byte: no CR before LF.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    if (argc < 3) return Fail("usage: wine_host exports|info|refuse DLL | run DLL PLAN");
    const std::wstring mode = argv[1];
    if (mode == L"exports" && argc == 3) return Exports(argv[2]);
    if (mode == L"info" && argc == 3) return Info(argv[2]);
    if (mode == L"refuse" && argc == 3) return Refuse(argv[2]);
    if (mode == L"run" && argc == 4) return Run(argv[2], argv[3]);
    if (mode == L"hold" && argc == 4) return Hold(argv[2], argv[3]);
    if (mode == L"closed" && argc == 5) return CopyWithStandardStreamsClosed(argv[2], argv[3], argv[4]);
    return Fail("unknown mode or wrong arguments");
}
