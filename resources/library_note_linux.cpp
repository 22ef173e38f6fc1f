// The Linux library's resources: the version block, type library and string
// table as one JSON object in an ELF note of the packaging-metadata kind
// (owner "FDO", type 0xcafe1a7e), which `readelf -n` prints and the host
// reads from the loaded module.
#include <cstddef>
#include <cstdint>

#include "library_note_payload.h"

namespace korvane::resources {
namespace {

constexpr char kOwner[] = "FDO";
constexpr std::uint32_t kPackagingMetadata = 0xcafe1a7e;

// Name and payload are each padded to 4 bytes; their sizes count the NUL.
constexpr std::size_t PaddedTo4(std::size_t size) { return (size + 3) / 4 * 4; }

struct ElfNote {
    std::uint32_t name_size;
    std::uint32_t payload_size;
    std::uint32_t type;
    char name[PaddedTo4(sizeof(kOwner))];
    char payload[PaddedTo4(sizeof(kModuleInfoJson))];
};

constexpr ElfNote MakeNote() {
    ElfNote note{sizeof(kOwner), sizeof(kModuleInfoJson), kPackagingMetadata, {}, {}};
    for (std::size_t i = 0; i < sizeof(kOwner); ++i) note.name[i] = kOwner[i];
    for (std::size_t i = 0; i < sizeof(kModuleInfoJson); ++i) note.payload[i] = kModuleInfoJson[i];
    return note;
}

// The linker gathers .note.* sections into the PT_NOTE segment.
[[gnu::section(".note.package"), gnu::used, gnu::aligned(4)]] constexpr ElfNote kModuleInfoNote = MakeNote();

}  // namespace
}  // namespace korvane::resources
