// A framework of our own with the five operations a module needs, for
// platforms where the application framework's runtime is not available. It
// keeps a process-wide list of the registered extension modules.
#pragma once

#include "framework.h"

namespace korvane::module {

// The object the framework constructs around a module's record to link the
// module into its list of registered modules.
struct Registration {
    ExtensionModuleRecord* record = nullptr;
    bool system_library = false;
    Registration* next = nullptr;
};
static_assert(sizeof(Registration) <= kRegistrationObjectSize);

class StandInFramework : public Framework {
public:
    constexpr StandInFramework() = default;

    // Refuses a record without a module handle; takes over the lists the
    // raw-entry hook set aside.
    bool InitializeExtensionModule(ExtensionModuleRecord& record, ModuleHandle instance) override;
    void* Allocate(std::size_t size) override;
    // Links the new registration in at the head of the list.
    void ConstructRegistration(void* block, ExtensionModuleRecord& record, bool system_library) override;
    // Unlinks and frees the record's registrations (every registration with
    // `all_modules`) and clears the record.
    void TerminateExtensionModule(ExtensionModuleRecord& record, bool all_modules) override;
    ModuleState& CurrentModuleState() override { return state_; }

    // The registered modules, most recent first.
    const Registration* registered() const { return registered_; }

private:
    ModuleState state_{};
    Registration* registered_ = nullptr;
};

}  // namespace korvane::module
