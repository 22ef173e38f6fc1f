// The resources a module carries (version block, type libraries, string
// table) and their one printed form, shared by every host that shows them,
// whatever the platform stores them in.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tintwell_cli {

using FourPartVersion = std::array<std::uint16_t, 4>;

struct StringBlock {
    std::string name;  // language and code page, as in "040904B0"
    std::vector<std::pair<std::string, std::string>> strings;
};

struct VersionBlock {
    std::uint16_t language = 0;
    FourPartVersion file_version{};
    FourPartVersion product_version{};
    std::uint32_t file_flags_mask = 0;
    std::uint32_t file_flags = 0;
    std::uint32_t file_os = 0;
    std::uint32_t file_type = 0;
    std::uint32_t file_subtype = 0;
    std::uint64_t file_date = 0;
    std::vector<StringBlock> string_blocks;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // language, code page
};

struct TypeLibrary {
    std::uint32_t id = 0;
    std::uint16_t language = 0;
    std::string name;
    std::uint16_t major_version = 0;
    std::uint16_t minor_version = 0;
    std::uint32_t locale = 0;
    std::string platform;  // "win32", ...
    std::string guid;      // any case, with or without braces
    std::uint32_t type_descriptions = 0;
};

struct StringTable {
    std::uint16_t language = 0;
    std::vector<std::pair<std::uint32_t, std::string>> strings;
};

struct ModuleInfo {
    VersionBlock version;
    std::vector<TypeLibrary> type_libraries;
    StringTable string_table;
};

// "1.0.0.1".
std::string FormatVersion(const FourPartVersion& version);

// Every value, one per line, in a fixed layout; text is UTF-8.
std::string FormatModuleInfo(const ModuleInfo& info);

}  // namespace tintwell_cli
