// Printing the loaded library's resources, read by the platform's file.
#include <iostream>

#include "module_resources.h"

namespace tintwell_cli {

bool PrintLibraryVersion(const Module& module) {
    const std::optional<ModuleInfo> info = ReadLoadedModuleInfo(module);
    if (!info) return false;
    std::cout << "library version: " << FormatVersion(info->version.file_version) << "\n";
    return true;
}

bool PrintModuleInfo(const Module& module) {
    const std::optional<ModuleInfo> info = ReadLoadedModuleInfo(module);
    if (!info) return false;
    std::cout << FormatModuleInfo(*info);
    return true;
}

}  // namespace tintwell_cli
