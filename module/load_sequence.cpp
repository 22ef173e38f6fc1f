#include "load_sequence.h"

namespace korvane::module {
namespace {

// Registrations made by this module are not the system library's.
constexpr bool kSystemLibrary = false;
// Unloading terminates this module's record only.
constexpr bool kAllModules = false;

void MoveToCompanion(FrameworkListEntry*& head, FrameworkListEntry*& companion) {
    companion = head;
    head = nullptr;
}

bool Attach(Framework& framework, ExtensionModule& module, ModuleHandle instance) {
    if (!framework.InitializeExtensionModule(module.record, instance)) return false;
    module.record_initialized = true;
    void* block = framework.Allocate(kRegistrationObjectSize);
    if (block != nullptr) framework.ConstructRegistration(block, module.record, kSystemLibrary);
    return true;
}

void Detach(Framework& framework, ExtensionModule& module) {
    if (!module.record_initialized) return;
    module.record_initialized = false;
    framework.TerminateExtensionModule(module.record, kAllModules);
}

}  // namespace

bool RawEntryHook(Framework& framework, std::uint32_t reason) {
    if (reason == kProcessAttach) {
        ModuleState& state = framework.CurrentModuleState();
        MoveToCompanion(state.class_list, state.class_list_companion);
        MoveToCompanion(state.factory_list, state.factory_list_companion);
    }
    return true;
}

bool ModuleMain(Framework& framework, ExtensionModule& module, ModuleHandle instance, std::uint32_t reason) {
    switch (reason) {
    case kProcessAttach:
        return Attach(framework, module, instance);
    case kProcessDetach:
        Detach(framework, module);
        return true;
    default:
        return true;
    }
}

bool AttachModule(Framework& framework, ExtensionModule& module, ModuleHandle instance) {
    RawEntryHook(framework, kProcessAttach);
    return ModuleMain(framework, module, instance, kProcessAttach);
}

void DetachModule(Framework& framework, ExtensionModule& module, ModuleHandle instance) {
    ModuleMain(framework, module, instance, kProcessDetach);
    RawEntryHook(framework, kProcessDetach);
}

}  // namespace korvane::module
