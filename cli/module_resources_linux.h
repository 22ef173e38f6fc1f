// The resources of the loaded library, read from the ELF note it carries
// (owner "FDO", packaging-metadata type, a JSON object).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "module_info.h"

namespace tintwell_cli {

// Finds the JSON payload of the note in the loaded object that holds
// `address`; nothing when that object has no such note.
std::optional<std::string_view> FindModuleNote(const void* address);

// Turns the note's JSON into the module's resources; on failure says why.
std::optional<ModuleInfo> ParseModuleNote(std::string_view json, std::string& error);

}  // namespace tintwell_cli
