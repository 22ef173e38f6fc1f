// A small Windows host for the DLL, run under Wine by wine_tests.sh:
//   wine_host exports DLL      Tintwell found by ordinal 1 and by name, same address
//   wine_host info DLL         the version block, type library and string table,
//                              read through the Windows API, in the layout the
//                              Linux host prints from its note
//   wine_host run DLL PLAN     one Tintwell call per plan line, each followed by
//                              "[result N]"; stdout in binary mode
//   wine_host refuse DLL       LoadLibraryW must fail with ERROR_DLL_INIT_FAILED
// A plan line is FUNCTION, AMOUNT, INPUT and optionally OUTPUT, separated by
// tabs, names in UTF-8; \uXXXX in a name stands for that UTF-16 unit, so that
// names no UTF-8 text can hold (a lone surrogate) can be passed.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <oleauto.h>

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

namespace {

using tintwell_cli::ModuleInfo;

constexpr WORD kTintwellOrdinal = 1;

int Fail(const std::string& problem) {
    std::fprintf(stderr, "wine_host: %s\n", problem.c_str());
    return 1;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
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

// ----- resources -----

struct Resource {
    std::uint32_t id = 0;
    std::uint16_t language = 0;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR data) {
    reinterpret_cast<std::vector<WORD>*>(data)->push_back(language);
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR data) {
    auto& found = *reinterpret_cast<std::vector<Resource>*>(data);
    if (!IS_INTRESOURCE(name)) return TRUE;  // this module names its resources by number
    std::vector<WORD> languages;
    ::EnumResourceLanguagesW(module, type, name, AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
    for (WORD language : languages) {
        found.push_back({static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(name)), language});
    }
    return TRUE;
}

std::vector<Resource> ResourcesOfType(HMODULE module, LPCWSTR type) {
    std::vector<Resource> found;
    ::EnumResourceNamesW(module, type, AddName, reinterpret_cast<LONG_PTR>(&found));
    return found;
}

// One node of a version block: length, value length, type, key, value, children.
struct VersionNode {
    const BYTE* start;
    WORD length;
    std::wstring key;
    const BYTE* children;
};

std::optional<VersionNode> ReadVersionNode(const BYTE* at, const BYTE* end) {
    if (end - at < 6) return std::nullopt;
    WORD header[3];
    std::memcpy(header, at, sizeof header);
    if (header[0] < 6 || header[0] > end - at) return std::nullopt;
    const BYTE* node_end = at + header[0];
    VersionNode node{at, header[0], {}, nullptr};
    const BYTE* key = at + 6;
    for (; key + 2 <= node_end; key += 2) {
        wchar_t unit;
        std::memcpy(&unit, key, 2);
        if (unit == 0) break;
        node.key += unit;
    }
    auto align4 = [at](const BYTE* p) { return at + ((p - at + 3) & ~std::ptrdiff_t{3}); };
    const BYTE* value = align4(key + 2);
    // Text values count UTF-16 units, binary values bytes.
    const std::size_t value_bytes = header[2] == 1 ? header[1] * 2u : header[1];
    node.children = std::min(node_end, align4(value + value_bytes));
    return node;
}

// The children of a node, in order.
std::vector<VersionNode> Children(const VersionNode& parent) {
    std::vector<VersionNode> children;
    const BYTE* end = parent.start + parent.length;
    for (const BYTE* at = parent.children; at < end;) {
        std::optional<VersionNode> child = ReadVersionNode(at, end);
        if (!child) break;
        children.push_back(*child);
        at = child->start + ((child->length + 3) & ~3);
    }
    return children;
}

std::optional<std::wstring> QueryText(const std::vector<BYTE>& block, const std::wstring& path) {
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length)) return std::nullopt;
    // The length may count the terminating NUL.
    std::wstring text(static_cast<const wchar_t*>(value), length);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

bool ReadVersionBlock(HMODULE module, const wchar_t* path, tintwell_cli::VersionBlock& version) {
    const std::vector<Resource> found = ResourcesOfType(module, MAKEINTRESOURCEW(16));  // RT_VERSION
    if (found.empty()) return false;
    version.language = found.front().language;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return false;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path, 0, size, block.data())) return false;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size)) return false;
    version.file_version = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                            HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    version.product_version = {HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                               HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
    version.file_flags_mask = fixed->dwFileFlagsMask;
    version.file_flags = fixed->dwFileFlags;
    version.file_os = fixed->dwFileOS;
    version.file_type = fixed->dwFileType;
    version.file_subtype = fixed->dwFileSubtype;
    version.file_date = (std::uint64_t{fixed->dwFileDateMS} << 32) | fixed->dwFileDateLS;

    // VerQueryValueW cannot list keys: walk the block for them, then ask the
    // API for each value.
    const std::optional<VersionNode> root = ReadVersionNode(block.data(), block.data() + block.size());
    if (!root) return false;
    for (const VersionNode& file_info : Children(*root)) {
        if (file_info.key != L"StringFileInfo") continue;
        for (const VersionNode& table : Children(file_info)) {
            tintwell_cli::StringBlock strings{Utf8(table.key), {}};
            for (const VersionNode& entry : Children(table)) {
                const std::optional<std::wstring> value =
                    QueryText(block, L"\\StringFileInfo\\" + table.key + L"\\" + entry.key);
                if (!value) return false;
                strings.strings.emplace_back(Utf8(entry.key), Utf8(*value));
            }
            version.string_blocks.push_back(std::move(strings));
        }
    }
    WORD* translations = nullptr;
    UINT translations_size = 0;
    if (::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                         &translations_size)) {
        for (UINT i = 0; i + 1 < translations_size / 2; i += 2) {
            version.translations.emplace_back(translations[i], translations[i + 1]);
        }
    }
    return true;
}

std::string PlatformName(SYSKIND kind) {
    switch (kind) {
    case SYS_WIN16: return "win16";
    case SYS_WIN32: return "win32";
    case SYS_MAC: return "mac";
    case SYS_WIN64: return "win64";
    default: return "unknown";
    }
}

bool ReadTypeLibraries(HMODULE module, const wchar_t* path, std::vector<tintwell_cli::TypeLibrary>& libraries) {
    for (const Resource& resource : ResourcesOfType(module, L"TYPELIB")) {
        const std::wstring source = std::wstring(path) + L"\\" + std::to_wstring(resource.id);
        ITypeLib* library = nullptr;
        if (FAILED(::LoadTypeLibEx(source.c_str(), REGKIND_NONE, &library))) return false;
        TLIBATTR* attributes = nullptr;
        BSTR name = nullptr;
        bool read = SUCCEEDED(library->GetLibAttr(&attributes)) &&
                    SUCCEEDED(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
        if (read) {
            wchar_t guid[40];
            ::StringFromGUID2(attributes->guid, guid, 40);
            libraries.push_back({resource.id, resource.language, Utf8(name), attributes->wMajorVerNum,
                                 attributes->wMinorVerNum, attributes->lcid, PlatformName(attributes->syskind),
                                 Utf8(guid), library->GetTypeInfoCount()});
        }
        if (name != nullptr) ::SysFreeString(name);
        if (attributes != nullptr) library->ReleaseTLibAttr(attributes);
        library->Release();
        if (!read) return false;
    }
    return true;
}

// String tables are stored in blocks of 16: block b holds ids (b - 1) * 16 to
// (b - 1) * 16 + 15.
void ReadStringTable(HMODULE module, tintwell_cli::StringTable& table) {
    for (const Resource& block : ResourcesOfType(module, MAKEINTRESOURCEW(6))) {  // RT_STRING
        table.language = block.language;
        for (std::uint32_t id = (block.id - 1) * 16; id < block.id * 16; ++id) {
            const wchar_t* text = nullptr;
            const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
            if (length > 0) table.strings.emplace_back(id, Utf8(std::wstring(text, static_cast<std::size_t>(length))));
        }
    }
}

int Info(const wchar_t* path) {
    HMODULE module = ::LoadLibraryW(path);
    if (module == nullptr) return Fail("LoadLibraryW failed: " + LastError());
    ModuleInfo info;
    const bool read = ReadVersionBlock(module, path, info.version) &&
                      ReadTypeLibraries(module, path, info.type_libraries);
    if (read) ReadStringTable(module, info.string_table);
    ::FreeLibrary(module);
    if (!read) return Fail("cannot read the resources: " + LastError());
    const std::string text = tintwell_cli::FormatModuleInfo(info);
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
    return Fail("unknown mode or wrong arguments");
}
