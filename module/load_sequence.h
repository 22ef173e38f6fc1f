// What the module does when it is loaded and unloaded: the raw-entry hook and
// the main entry, in the order the platform's loader calls them.
#pragma once

#include <cstdint>

#include "framework.h"

namespace korvane::module {

// Why the loader calls the entry (the values of the Windows loader).
enum EntryReason : std::uint32_t {
    kProcessDetach = 0,
    kProcessAttach = 1,
    kThreadAttach = 2,
    kThreadDetach = 3,
};

// The module's record and whether the framework accepted it. A loader may
// deliver a detach after a refused attach; only an accepted record is
// terminated.
struct ExtensionModule {
    ExtensionModuleRecord record{};
    bool record_initialized = false;
};

// The framework's standard preparation of an extension module, run before
// anything else at attach and after everything else at detach. At attach it
// moves the heads of the current module state's two lists into their
// companion fields and empties the lists; otherwise it does nothing. Always
// true.
bool RawEntryHook(Framework& framework, std::uint32_t reason);

// The main entry. At attach: initialises the record (false, and nothing else,
// when the framework refuses it), then allocates the registration object and
// constructs it around the record; a failed allocation only skips the
// registration. At detach: terminates an accepted record for this module
// alone. Thread notifications do nothing. True unless the attach is refused.
bool ModuleMain(Framework& framework, ExtensionModule& module, ModuleHandle instance, std::uint32_t reason);

// The whole attach where the loader runs no start-up code of its own between
// the two: the hook, then the main entry. Returns the main entry's answer.
bool AttachModule(Framework& framework, ExtensionModule& module, ModuleHandle instance);

// The whole detach: the main entry, then the hook.
void DetachModule(Framework& framework, ExtensionModule& module, ModuleHandle instance);

}  // namespace korvane::module
