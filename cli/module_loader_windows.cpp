// Windows: the library is KorvaneTintwell.dll in this program's own folder,
// loaded with LoadLibraryExW; Tintwell is its export with ordinal 1.
#include <windows.h>

#include "module_loader.h"
#include "utf16.h"
#include "windows_text.h"

namespace tintwell_cli {
namespace {

constexpr WORD kTintwellOrdinal = 1;

}  // namespace

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
    // A relative path is taken from the current folder, and the library's
    // own dependencies from its folder, not from the program's.
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(PathOf(path), ignored);
    HMODULE handle = ::LoadLibraryExW(absolute.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle == nullptr) {
        error = path + ": " + SystemMessage(::GetLastError());
        return nullptr;
    }
    const FARPROC symbol = ::GetProcAddress(handle, MAKEINTRESOURCEA(kTintwellOrdinal));
    if (symbol == nullptr) {
        error = path + ": the library has no export with ordinal 1 (Tintwell)";
        ::FreeLibrary(handle);
        return nullptr;
    }
    const auto entry = reinterpret_cast<TintwellEntry>(reinterpret_cast<void*>(symbol));
    return std::unique_ptr<Module>(new Module(handle, entry, path));
}

Module::~Module() { ::FreeLibrary(static_cast<HMODULE>(handle_)); }

std::string DefaultModulePath() {
    // Long paths: grow the buffer until the whole name fits.
    std::wstring program(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
        if (length == 0) return TINTWELL_MODULE_FILE;
        if (length < program.size()) {
            program.resize(length);
            break;
        }
        program.resize(program.size() * 2);
    }
    const std::filesystem::path beside = std::filesystem::path(program).parent_path() / TINTWELL_MODULE_FILE;
    return Utf8Of(beside);
}

}  // namespace tintwell_cli
