// Printing the loaded library's resources, read by the platform's file.
#include <cstdio>

#include "host_messages.h"
#include "module_resources.h"
#include "report.h"

namespace tintwell_cli {

namespace {

std::optional<ModuleInfo> ReadOrSayWhy(const Module& module) {
    Message problem;
    std::optional<ModuleInfo> info = ReadLoadedModuleInfo(module, problem);
    if (!info) ReportError(problem);
    return info;
}

}  // namespace

bool PrintLibraryVersion(const Module& module) {
    const std::optional<ModuleInfo> info = ReadOrSayWhy(module);
    if (!info) return false;
    Say(MessageOf(text::kLibraryVersion, FormatVersion(info->version.file_version)));
    return true;
}

bool PrintModuleInfo(const Module& module) {
    const std::optional<ModuleInfo> info = ReadOrSayWhy(module);
    if (!info) return false;
    Write(stdout, FormatModuleInfo(*info));
    return true;
}

}  // namespace tintwell_cli
