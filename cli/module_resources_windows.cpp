// Windows: the loaded library's version block, type libraries and string
// table, read through the Windows API (version, OLE automation and resource
// functions), in the form every host prints.
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "format.h"
#include "host_messages.h"
#include "module_resources.h"
#include "text_windows.h"

namespace tintwell_cli {
namespace {

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

bool ReadVersionBlock(HMODULE module, const wchar_t* path, VersionBlock& version) {
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
            StringBlock strings{Narrow(table.key), {}};
            for (const VersionNode& entry : Children(table)) {
                const std::optional<std::wstring> value =
                    QueryText(block, L"\\StringFileInfo\\" + table.key + L"\\" + entry.key);
                if (!value) return false;
                strings.strings.emplace_back(Narrow(entry.key), Narrow(*value));
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

bool ReadTypeLibraries(HMODULE module, const wchar_t* path, std::vector<TypeLibrary>& libraries) {
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
            libraries.push_back({resource.id, resource.language, Narrow(name), attributes->wMajorVerNum,
                                 attributes->wMinorVerNum, attributes->lcid, PlatformName(attributes->syskind),
                                 Narrow(guid), library->GetTypeInfoCount()});
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
void ReadStringTable(HMODULE module, StringTable& table) {
    for (const Resource& block : ResourcesOfType(module, MAKEINTRESOURCEW(6))) {  // RT_STRING
        table.language = block.language;
        for (std::uint32_t id = (block.id - 1) * 16; id < block.id * 16; ++id) {
            const wchar_t* text = nullptr;
            const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
            if (length > 0) {
                table.strings.emplace_back(id, Narrow(std::wstring(text, static_cast<std::size_t>(length))));
            }
        }
    }
}

}  // namespace

std::optional<ModuleInfo> ReadModuleResources(void* module, const std::wstring& path, std::string& error) {
    const auto handle = static_cast<HMODULE>(module);
    ModuleInfo info;
    if (!ReadVersionBlock(handle, path.c_str(), info.version)) {
        error = Format(text::kNoVersionBlock, SystemMessage(::GetLastError()));
        return std::nullopt;
    }
    if (!ReadTypeLibraries(handle, path.c_str(), info.type_libraries)) {
        error = Format(text::kUnloadableTypeLibrary, SystemMessage(::GetLastError()));
        return std::nullopt;
    }
    ReadStringTable(handle, info.string_table);
    return info;
}

std::optional<ModuleInfo> ReadLoadedModuleInfo(const Module& module, Message& problem) {
    std::string error;
    std::optional<ModuleInfo> info = ReadModuleResources(module.handle(), Wide(module.path()), error);
    if (!info) problem = MessageOf(text::kUnreadableResources, module.path(), error);
    return info;
}

}  // namespace tintwell_cli
