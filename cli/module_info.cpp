#include "module_info.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace tintwell_cli {
namespace {

std::string Hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, value);
    return text;
}

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, whatever form the store uses.
std::string CanonicalGuid(std::string guid) {
    std::erase(guid, '{');
    std::erase(guid, '}');
    std::transform(guid.begin(), guid.end(), guid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return "{" + guid + "}";
}

void Line(std::string& out, int indent, const std::string& label, const std::string& value) {
    std::string line(static_cast<std::size_t>(indent), ' ');
    line += label;
    line.resize(std::max<std::size_t>(line.size() + 1, 22), ' ');
    out += line + value + "\n";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void FormatVersionBlock(std::string& out, const VersionBlock& block) {
    out += "Version block, language " + Hex(block.language, 4) + "\n";
    Line(out, 2, "file version", FormatVersion(block.file_version));
    Line(out, 2, "product version", FormatVersion(block.product_version));
    Line(out, 2, "file flags mask", Hex(block.file_flags_mask, 1));
    Line(out, 2, "file flags", Hex(block.file_flags, 1));
    Line(out, 2, "file OS", Hex(block.file_os, 1));
    Line(out, 2, "file type", Hex(block.file_type, 1));
    Line(out, 2, "file subtype", Hex(block.file_subtype, 1));
    Line(out, 2, "file date", Hex(block.file_date, 1));
    for (const StringBlock& strings : block.string_blocks) {
        out += "  string block " + strings.name + "\n";
        for (const auto& [key, value] : strings.strings) Line(out, 4, key, Quoted(value));
    }
    for (const auto& [language, code_page] : block.translations) {
        Line(out, 2, "translation", Hex(language, 4) + " " + std::to_string(code_page));
    }
}

void FormatTypeLibrary(std::string& out, const TypeLibrary& library) {
    out += "Type library " + std::to_string(library.id) + ", language " + Hex(library.language, 4) + "\n";
    Line(out, 2, "name", library.name);
    Line(out, 2, "version", std::to_string(library.major_version) + "." + std::to_string(library.minor_version));
    Line(out, 2, "locale", Hex(library.locale, 4));
    Line(out, 2, "platform", library.platform);
    Line(out, 2, "GUID", CanonicalGuid(library.guid));
    Line(out, 2, "type descriptions", std::to_string(library.type_descriptions));
}

void FormatStringTable(std::string& out, const StringTable& table) {
    out += "String table, language " + Hex(table.language, 4) + "\n";
    for (const auto& [id, text] : table.strings) Line(out, 2, std::to_string(id), Quoted(text));
}

}  // namespace

std::string FormatVersion(const FourPartVersion& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "." +
           std::to_string(version[3]);
}

std::string FormatModuleInfo(const ModuleInfo& info) {
    std::string out;
    FormatVersionBlock(out, info.version);
    for (const TypeLibrary& library : info.type_libraries) FormatTypeLibrary(out, library);
    FormatStringTable(out, info.string_table);
    return out;
}

}  // namespace tintwell_cli
