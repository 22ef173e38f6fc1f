// Windows: the library is KorvaneTintwell.dll in this program's own folder,
// loaded with LoadLibraryExW; Tintwell is its export with ordinal 1.
#include <windows.h>

#include "format.h"
#include "host_messages.h"
#include "module_loader.h"
#include "text_windows.h"
#include "utf16.h"

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
        error = Format(text::kLibraryFileError, path, SystemMessage(::GetLastError()));
        return nullptr;
    }
    const FARPROC symbol = ::GetProcAddress(handle, MAKEINTRESOURCEA(kTintwellOrdinal));
    if (symbol == nullptr) {
        error = Format(text::kNoTintwellOrdinal, path);
        ::FreeLibrary(handle);
        return nullptr;
    }
    const auto entry = reinterpret_cast<TintwellEntry>(reinterpret_cast<void*>(symbol));
    return std::unique_ptr<Module>(new Module(handle, entry, path));
}

Module::~Module() { ::FreeLibrary(static_cast<HMODULE>(handle_)); }

std::string DefaultModulePath() {
    const std::wstring program = ThisProgramPath();
    if (program.empty()) return TINTWELL_MODULE_FILE;
    return Utf8Of(std::filesystem::path(program).parent_path() / TINTWELL_MODULE_FILE);
}

}  // namespace tintwell_cli
