// The load and unload sequences against a fake framework that records every
// call, and against the stand-in framework.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_sequence.h"
#include "stand_in_framework.h"

namespace korvane::module {
namespace {

ModuleHandle TestHandle() { return reinterpret_cast<ModuleHandle>(0x10000); }

// Records each operation as one line; initialisation and allocation fail on
// request.
class FakeFramework : public Framework {
public:
    bool refuse_record = false;
    bool out_of_memory = false;
    std::vector<std::string> calls;
    ModuleState state;
    const ExtensionModuleRecord* constructed_around = nullptr;

    bool InitializeExtensionModule(ExtensionModuleRecord& record, ModuleHandle instance) override {
        calls.push_back(instance == TestHandle() ? "initialise" : "initialise with another handle");
        record.initialized = !refuse_record;
        return !refuse_record;
    }
    void* Allocate(std::size_t size) override {
        calls.push_back("allocate " + std::to_string(size));
        return out_of_memory ? nullptr : block_;
    }
    void ConstructRegistration(void* block, ExtensionModuleRecord& record, bool system_library) override {
        calls.push_back(std::string("construct") + (block == block_ ? "" : " elsewhere") +
                        (system_library ? " as system library" : ""));
        constructed_around = &record;
    }
    void TerminateExtensionModule(ExtensionModuleRecord&, bool all_modules) override {
        calls.push_back(all_modules ? "terminate all" : "terminate");
    }
    ModuleState& CurrentModuleState() override {
        calls.push_back("current module state");
        return state;
    }

private:
    alignas(std::max_align_t) unsigned char block_[kRegistrationObjectSize] = {};
};

using Calls = std::vector<std::string>;

TEST(LoadSequence, AttachRunsTheHookThenInitialisesAllocatesAndRegisters) {
    FakeFramework framework;
    ExtensionModule module;
    EXPECT_TRUE(AttachModule(framework, module, TestHandle()));
    EXPECT_EQ(framework.calls, (Calls{"current module state", "initialise", "allocate 64", "construct"}));
    EXPECT_EQ(framework.constructed_around, &module.record);
    EXPECT_TRUE(module.record_initialized);
}

TEST(LoadSequence, RefusedRecordRefusesTheLoadAndNothingElseHappens) {
    FakeFramework framework;
    framework.refuse_record = true;
    ExtensionModule module;
    EXPECT_FALSE(AttachModule(framework, module, TestHandle()));
    EXPECT_EQ(framework.calls, (Calls{"current module state", "initialise"}));
    // A loader may still deliver a detach (Windows does after a refused
    // attach); there is nothing to terminate. On Linux this is the whole
    // story: the library stays loaded, unregistered.
    DetachModule(framework, module, TestHandle());
    EXPECT_EQ(framework.calls, (Calls{"current module state", "initialise"}));
}

TEST(LoadSequence, FailedAllocationSkipsTheRegistrationAndStillLoads) {
    FakeFramework framework;
    framework.out_of_memory = true;
    ExtensionModule module;
    EXPECT_TRUE(AttachModule(framework, module, TestHandle()));
    EXPECT_EQ(framework.calls, (Calls{"current module state", "initialise", "allocate 64"}));
    DetachModule(framework, module, TestHandle());
    EXPECT_EQ(framework.calls.back(), "terminate");
}

TEST(LoadSequence, DetachTerminatesThisModuleOnceThenRunsTheHookWhichDoesNothing) {
    FakeFramework framework;
    ExtensionModule module;
    ASSERT_TRUE(AttachModule(framework, module, TestHandle()));
    framework.calls.clear();
    DetachModule(framework, module, TestHandle());
    EXPECT_EQ(framework.calls, (Calls{"terminate"}));
    DetachModule(framework, module, TestHandle());
    EXPECT_EQ(framework.calls, (Calls{"terminate"}));
    EXPECT_FALSE(module.record_initialized);
}

TEST(LoadSequence, ThreadNotificationsDoNothing) {
    for (const std::uint32_t reason : {std::uint32_t{kThreadAttach}, std::uint32_t{kThreadDetach}, 7u}) {
        FakeFramework framework;
        ExtensionModule module;
        EXPECT_TRUE(ModuleMain(framework, module, TestHandle(), reason)) << reason;
        EXPECT_TRUE(RawEntryHook(framework, reason)) << reason;
        EXPECT_TRUE(framework.calls.empty()) << reason;
    }
}

TEST(LoadSequence, HookMovesBothListHeadsIntoTheirCompanionsAtAttachOnly) {
    FrameworkListEntry class_entry, factory_entry;
    FakeFramework framework;
    framework.state.class_list = &class_entry;
    framework.state.factory_list = &factory_entry;
    EXPECT_TRUE(RawEntryHook(framework, kProcessDetach));
    EXPECT_EQ(framework.state.class_list, &class_entry);
    EXPECT_TRUE(RawEntryHook(framework, kProcessAttach));
    EXPECT_EQ(framework.state.class_list, nullptr);
    EXPECT_EQ(framework.state.factory_list, nullptr);
    EXPECT_EQ(framework.state.class_list_companion, &class_entry);
    EXPECT_EQ(framework.state.factory_list_companion, &factory_entry);
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
