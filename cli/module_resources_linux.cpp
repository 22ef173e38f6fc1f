#include "module_resources_linux.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <link.h>
#include <nlohmann/json.hpp>

#include "host_messages.h"
#include "module_resources.h"

namespace tintwell_cli {
namespace {

constexpr std::string_view kNoteOwner = "FDO";
constexpr std::uint32_t kPackagingMetadata = 0xcafe1a7e;

using Json = nlohmann::ordered_json;

struct NoteSearch {
    std::uintptr_t address;
    std::optional<std::string_view> payload;
};

bool HoldsAddress(const dl_phdr_info& object, std::uintptr_t address) {
    for (std::size_t i = 0; i < object.dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = object.dlpi_phdr[i];
        const std::uintptr_t start = object.dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && address >= start && address - start < segment.p_memsz) return true;
    }
    return false;
}

std::size_t Padded(std::size_t size, std::size_t alignment) { return (size + alignment - 1) / alignment * alignment; }

// Walks the notes of one PT_NOTE segment, checking every size against the
// segment's end.
std::optional<std::string_view> FindInSegment(const char* notes, std::size_t size, std::size_t alignment) {
    std::size_t offset = 0;
    while (size - offset >= sizeof(ElfW(Nhdr))) {
        ElfW(Nhdr) header;
        std::memcpy(&header, notes + offset, sizeof header);
        const std::size_t name_at = offset + sizeof header;
        if (header.n_namesz > size - name_at) return std::nullopt;
        const std::size_t payload_at = name_at + Padded(header.n_namesz, alignment);
        if (payload_at > size || header.n_descsz > size - payload_at) return std::nullopt;
        const std::string_view name(notes + name_at, header.n_namesz);
        if (header.n_type == kPackagingMetadata && name.substr(0, name.find('\0')) == kNoteOwner) {
            const std::string_view payload(notes + payload_at, header.n_descsz);
            return payload.substr(0, payload.find('\0'));
        }
        offset = payload_at + Padded(header.n_descsz, alignment);
        if (offset > size) return std::nullopt;
    }
    return std::nullopt;
}

int SearchObject(dl_phdr_info* object, std::size_t, void* data) {
    auto& search = *static_cast<NoteSearch*>(data);
    if (!HoldsAddress(*object, search.address)) return 0;
    for (std::size_t i = 0; i < object->dlpi_phnum && !search.payload; ++i) {
        const ElfW(Phdr)& segment = object->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE) continue;
        const auto* notes = reinterpret_cast<const char*>(object->dlpi_addr + segment.p_vaddr);
        search.payload = FindInSegment(notes, segment.p_memsz, segment.p_align == 8 ? 8 : 4);
    }
    return 1;
}

// Numbers are stored as text: "0x3F" or "1200".
std::uint64_t Number(const Json& value) {
    const std::string text = value.get<std::string>();
    std::size_t used = 0;
    const unsigned long long number = std::stoull(text, &used, 0);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return number;
}

template <typename Field>
Field NumberAs(const Json& value) {
    const std::uint64_t number = Number(value);
    if (number > std::numeric_limits<Field>::max()) throw std::out_of_range("too large: " + value.dump());
    return static_cast<Field>(number);
}

FourPartVersion ParseVersion(const Json& value) {
    FourPartVersion version{};
    unsigned parts[4];
    char end;
    const std::string text = value.get<std::string>();
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) != 4) {
        throw std::invalid_argument("not a four-part version: " + text);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (parts[i] > 0xFFFF) throw std::out_of_range("version part too large: " + text);
        version[i] = static_cast<std::uint16_t>(parts[i]);
    }
    return version;
}

VersionBlock ParseVersionBlock(const Json& note) {
    const Json& block = note.at("versionBlock");
    VersionBlock version;
    version.language = NumberAs<std::uint16_t>(note.at("language"));
    version.file_version = ParseVersion(block.at("fileVersion"));
    version.product_version = ParseVersion(block.at("productVersion"));
    version.file_flags_mask = NumberAs<std::uint32_t>(block.at("fileFlagsMask"));
    version.file_flags = NumberAs<std::uint32_t>(block.at("fileFlags"));
    version.file_os = NumberAs<std::uint32_t>(block.at("fileOS"));
    version.file_type = NumberAs<std::uint32_t>(block.at("fileType"));
    version.file_subtype = NumberAs<std::uint32_t>(block.at("fileSubtype"));
    version.file_date = Number(block.at("fileDate"));
    for (const auto& [name, pairs] : block.at("stringFileInfo").items()) {
        StringBlock strings{name, {}};
        for (const Json& pair : pairs) {
            strings.strings.emplace_back(pair.at(0).get<std::string>(), pair.at(1).get<std::string>());
        }
        version.string_blocks.push_back(std::move(strings));
    }
    for (const Json& pair : block.at("translation")) {
        version.translations.emplace_back(NumberAs<std::uint16_t>(pair.at(0)), NumberAs<std::uint16_t>(pair.at(1)));
    }
    return version;
}

TypeLibrary ParseTypeLibrary(const Json& note) {
    const Json& value = note.at("typeLibrary");
    TypeLibrary library;
    library.id = NumberAs<std::uint32_t>(value.at("id"));
    library.language = NumberAs<std::uint16_t>(note.at("language"));
    library.name = value.at("name");
    const std::string version = value.at("version");
    unsigned major = 0, minor = 0;
    char end;
    if (std::sscanf(version.c_str(), "%u.%u%c", &major, &minor, &end) != 2 || major > 0xFFFF || minor > 0xFFFF) {
        throw std::invalid_argument("not a type library version: " + version);
    }
    library.major_version = static_cast<std::uint16_t>(major);
    library.minor_version = static_cast<std::uint16_t>(minor);
    library.locale = NumberAs<std::uint32_t>(value.at("locale"));
    library.platform = value.at("platform");
    library.guid = value.at("guid");
    library.type_descriptions = NumberAs<std::uint32_t>(value.at("typeDescriptions"));
    return library;
}

StringTable ParseStringTable(const Json& note) {
    StringTable table;
    table.language = NumberAs<std::uint16_t>(note.at("language"));
    for (const Json& pair : note.at("stringTable")) {
        table.strings.emplace_back(NumberAs<std::uint32_t>(pair.at(0)), pair.at(1).get<std::string>());
    }
    return table;
}

}  // namespace

std::optional<std::string_view> FindModuleNote(const void* address) {
    NoteSearch search{reinterpret_cast<std::uintptr_t>(address), std::nullopt};
    ::dl_iterate_phdr(SearchObject, &search);
    return search.payload;
}

std::optional<ModuleInfo> ParseModuleNote(std::string_view json, std::string& error) {
    try {
        const Json note = Json::parse(json);
        return ModuleInfo{ParseVersionBlock(note), {ParseTypeLibrary(note)}, ParseStringTable(note)};
    } catch (const std::exception& problem) {
        error = problem.what();
        return std::nullopt;
    }
}

std::optional<ModuleInfo> ReadLoadedModuleInfo(const Module& module, Message& problem) {
    const std::optional<std::string_view> note = FindModuleNote(reinterpret_cast<const void*>(module.entry()));
    if (!note) {
        problem = MessageOf(text::kNoModuleNote, module.path());
        return std::nullopt;
    }
    std::string error;
    std::optional<ModuleInfo> info = ParseModuleNote(*note, error);
    if (!info) problem = MessageOf(text::kUnreadableModuleNote, module.path(), error);
    return info;
}

}  // namespace tintwell_cli
