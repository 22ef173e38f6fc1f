// The load and unload sequences, tested by what a host can observe through
// the stand-in framework: the registered modules and each module's record.
#include <gtest/gtest.h>

#include "load_sequence.h"
#include "stand_in_framework.h"

namespace korvane::module {
namespace {

ModuleHandle TestHandle() { return reinterpret_cast<ModuleHandle>(0x10000); }

// The stand-in framework, its allocation failing on request: what a host
// sees is the list of registered modules and each module's record.
class StandInOutOfMemory : public StandInFramework {
public:
    void* Allocate(std::size_t) override { return nullptr; }
};

std::size_t RegisteredCount(const StandInFramework& framework) {
    std::size_t count = 0;
    for (const Registration* at = framework.registered(); at != nullptr; at = at->next) ++count;
    return count;
}

TEST(LoadSequence, FailedAllocationSkipsTheRegistrationAndStillLoads) {
    StandInOutOfMemory framework;
    ExtensionModule module;
    EXPECT_TRUE(AttachModule(framework, module, TestHandle()));
    EXPECT_EQ(framework.registered(), nullptr);
    EXPECT_TRUE(module.record.initialized);
    DetachModule(framework, module, TestHandle());
    EXPECT_FALSE(module.record.initialized);
}

// A second detach of the same module leaves the other modules registered.
TEST(LoadSequence, DetachTerminatesThisModuleOnlyOnce) {
    StandInFramework framework;
    ExtensionModule first, second;
    ASSERT_TRUE(AttachModule(framework, first, TestHandle()));
    ASSERT_TRUE(AttachModule(framework, second, TestHandle()));
    DetachModule(framework, second, TestHandle());
    DetachModule(framework, second, TestHandle());
    ASSERT_EQ(RegisteredCount(framework), 1u);
    EXPECT_EQ(framework.registered()->record, &first.record);
    EXPECT_FALSE(second.record.initialized);
    DetachModule(framework, first, TestHandle());
    EXPECT_EQ(framework.registered(), nullptr);
}

TEST(LoadSequence, ThreadNotificationsChangeNothing) {
    for (const std::uint32_t reason : {std::uint32_t{kThreadAttach}, std::uint32_t{kThreadDetach}, 7u}) {
        FrameworkListEntry class_entry;
        StandInFramework framework;
        ExtensionModule attached, notified;
        ASSERT_TRUE(AttachModule(framework, attached, TestHandle()));
        framework.CurrentModuleState().class_list = &class_entry;
        EXPECT_TRUE(ModuleMain(framework, notified, TestHandle(), reason)) << reason;
        EXPECT_TRUE(RawEntryHook(framework, reason)) << reason;
        EXPECT_EQ(RegisteredCount(framework), 1u) << reason;
        EXPECT_FALSE(notified.record.initialized) << reason;
        EXPECT_EQ(framework.CurrentModuleState().class_list, &class_entry) << reason;
        DetachModule(framework, attached, TestHandle());
    }
}

TEST(LoadSequence, HookMovesBothListHeadsIntoTheirCompanionsAtAttachOnly) {
    FrameworkListEntry class_entry, factory_entry;
    StandInFramework framework;
    ModuleState& state = framework.CurrentModuleState();
    state.class_list = &class_entry;
    state.factory_list = &factory_entry;
    EXPECT_TRUE(RawEntryHook(framework, kProcessDetach));
    EXPECT_EQ(state.class_list, &class_entry);
    EXPECT_TRUE(RawEntryHook(framework, kProcessAttach));
    EXPECT_EQ(state.class_list, nullptr);
    EXPECT_EQ(state.factory_list, nullptr);
    EXPECT_EQ(state.class_list_companion, &class_entry);
    EXPECT_EQ(state.factory_list_companion, &factory_entry);
}

// ----- the stand-in framework -----

TEST(StandInFramework, RefusesARecordWithoutAModuleHandle) {
    StandInFramework framework;
    ExtensionModule module;
    EXPECT_FALSE(AttachModule(framework, module, nullptr));
    EXPECT_EQ(framework.registered(), nullptr);
    DetachModule(framework, module, nullptr);
    EXPECT_EQ(framework.registered(), nullptr);
}

TEST(StandInFramework, LoadRegistersTheModuleWithTheListsTheHookSetAside) {
    FrameworkListEntry class_entry, factory_entry;
    StandInFramework framework;
    framework.CurrentModuleState().class_list = &class_entry;
    framework.CurrentModuleState().factory_list = &factory_entry;
    ExtensionModule module;
    ASSERT_TRUE(AttachModule(framework, module, TestHandle()));
    const Registration* registration = framework.registered();
    ASSERT_NE(registration, nullptr);
    EXPECT_EQ(registration->record, &module.record);
    EXPECT_FALSE(registration->system_library);
    EXPECT_EQ(registration->next, nullptr);
    EXPECT_EQ(module.record.module, TestHandle());
    EXPECT_EQ(module.record.classes, &class_entry);
    EXPECT_EQ(module.record.factories, &factory_entry);
    EXPECT_EQ(framework.CurrentModuleState().class_list_companion, nullptr);

    DetachModule(framework, module, TestHandle());
    EXPECT_EQ(framework.registered(), nullptr);
    EXPECT_FALSE(module.record.initialized);
}

TEST(StandInFramework, TerminationUnlinksOnlyThatModuleUnlessAllModulesAreAsked) {
    StandInFramework framework;
    ExtensionModule first, second, third;
    ASSERT_TRUE(AttachModule(framework, first, TestHandle()));
    ASSERT_TRUE(AttachModule(framework, second, TestHandle()));
    ASSERT_TRUE(AttachModule(framework, third, TestHandle()));

    DetachModule(framework, second, TestHandle());
    const Registration* head = framework.registered();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->record, &third.record);
    ASSERT_NE(head->next, nullptr);
    EXPECT_EQ(head->next->record, &first.record);
    EXPECT_EQ(head->next->next, nullptr);

    // The registrations are freed here; a leak would show under ASan.
    framework.TerminateExtensionModule(first.record, true);
    EXPECT_EQ(framework.registered(), nullptr);
}

TEST(StandInFramework, RefusingFrameworkLeavesTheModuleUnregistered) {
    class Refusing : public StandInFramework {
    public:
        bool InitializeExtensionModule(ExtensionModuleRecord&, ModuleHandle) override { return false; }
    } framework;
    ExtensionModule module;
    EXPECT_FALSE(AttachModule(framework, module, TestHandle()));
    EXPECT_EQ(framework.registered(), nullptr);
    DetachModule(framework, module, TestHandle());
    EXPECT_EQ(framework.registered(), nullptr);
}

}  // namespace
}  // namespace korvane::module
