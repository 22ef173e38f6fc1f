#include "stand_in_framework.h"

#include <cstdlib>
#include <new>

namespace korvane::module {

bool StandInFramework::InitializeExtensionModule(ExtensionModuleRecord& record, ModuleHandle instance) {
    if (instance == nullptr) return false;
    record.module = instance;
    record.classes = state_.class_list_companion;
    record.factories = state_.factory_list_companion;
    state_.class_list_companion = nullptr;
    state_.factory_list_companion = nullptr;
    record.initialized = true;
    return true;
}

void* StandInFramework::Allocate(std::size_t size) { return std::malloc(size); }

void StandInFramework::ConstructRegistration(void* block, ExtensionModuleRecord& record, bool system_library) {
    registered_ = new (block) Registration{&record, system_library, registered_};
}

void StandInFramework::TerminateExtensionModule(ExtensionModuleRecord& record, bool all_modules) {
    Registration** link = &registered_;
    while (*link != nullptr) {
        Registration* registration = *link;
        if (all_modules || registration->record == &record) {
            *link = registration->next;
            registration->~Registration();
            std::free(registration);
        } else {
            link = &registration->next;
        }
    }
    record = ExtensionModuleRecord{};
}

}  // namespace korvane::module
