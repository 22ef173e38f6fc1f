// The loaded library's resources as the host prints them. Each platform
// reads them from its own store: the ELF note on Linux
// (module_resources_linux.cpp), the resource section on Windows
// (module_resources_windows.cpp).
#pragma once

#include <optional>
#include <string>

#include "module_info.h"
#include "module_loader.h"
#include "outcome.h"

namespace tintwell_cli {

// Reads the resources of the loaded module; on failure says why, naming the
// library. Each platform's file defines it.
std::optional<ModuleInfo> ReadLoadedModuleInfo(const Module& module, Message& problem);

// Prints "library version: V" with the file version of the loaded module.
// False, with a line on stderr, when its resources are missing or unreadable.
bool PrintLibraryVersion(const Module& module);

// Prints every resource of the loaded module; false as above.
bool PrintModuleInfo(const Module& module);

#if defined(_WIN32)
// Reads the version block, type libraries and string table of a loaded
// module through the Windows API; on failure says why in `error`.
std::optional<ModuleInfo> ReadModuleResources(void* module, const std::wstring& path, std::string& error);
#endif

}  // namespace tintwell_cli
