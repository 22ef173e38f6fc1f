// The application framework's side of module registration: the record each
// extension module owns, the framework's per-module state, and the five
// operations a module calls when it is loaded and unloaded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::module {

// The instance handle of a loaded module: its base address.
using ModuleHandle = void*;

// An entry of one of the framework's lists. What an entry describes is the
// framework's business; the module only hands the lists on.
struct FrameworkListEntry {
    FrameworkListEntry* next = nullptr;
};

// The framework's state for the module being loaded. While the module's
// static objects are constructed the framework gathers them on two lists;
// the raw-entry hook moves each head into its companion field, from which
// the framework collects the lists when it initialises the module's record.
struct ModuleState {
    FrameworkListEntry* class_list = nullptr;
    FrameworkListEntry* factory_list = nullptr;
    FrameworkListEntry* class_list_companion = nullptr;
    FrameworkListEntry* factory_list_companion = nullptr;
};

// One record per extension module, a static object of the module, all zero
// when the module is mapped. The framework fills and uses its fields; the
// module only passes its address.
struct ExtensionModuleRecord {
    bool initialized = false;
    ModuleHandle module = nullptr;
    FrameworkListEntry* classes = nullptr;
    FrameworkListEntry* factories = nullptr;
};

// Bytes the module obtains from the framework's allocator for the
// registration object.
inline constexpr std::size_t kRegistrationObjectSize = 64;

// What a module requires of the framework at load and unload.
class Framework {
public:
    // Initialises the module's record; false when the framework refuses it.
    virtual bool InitializeExtensionModule(ExtensionModuleRecord& record, ModuleHandle instance) = 0;
    // The framework's allocator: `size` bytes, or null.
    virtual void* Allocate(std::size_t size) = 0;
    // Constructs the registration object in `block` around the record. From
    // then on the block belongs to the framework.
    virtual void ConstructRegistration(void* block, ExtensionModuleRecord& record, bool system_library) = 0;
    // Terminates the module's record; with `all_modules` every registered
    // module's.
    virtual void TerminateExtensionModule(ExtensionModuleRecord& record, bool all_modules) = 0;
    // The framework's state for the module being loaded.
    virtual ModuleState& CurrentModuleState() = 0;

protected:
    // Frameworks live in static storage; a trivial destructor means no exit
    // handler is registered for them.
    constexpr Framework() = default;
    ~Framework() = default;
};

// The framework this module registers with; defined once per build of the
// module.
Framework& ProcessFramework();

}  // namespace korvane::module
