// Load and unload on Linux: the shared object's constructor and destructor
// run when it is loaded and unloaded (dlopen and dlclose, or process start
// and exit when a program links it directly).
//
// Linux cannot refuse the load of a library from inside it: when the
// framework refuses the module's record, the library stays loaded and
// usable, but unregistered, and its unload then terminates nothing.
#include <dlfcn.h>

#include "load_sequence.h"

namespace korvane::module {
namespace {

constinit ExtensionModule this_module;

// The module's base address, as the instance handle a Windows loader passes.
ModuleHandle ThisModuleHandle() {
    Dl_info info{};
    if (::dladdr(&this_module, &info) == 0) return nullptr;
    return info.dli_fbase;
}

[[gnu::constructor]] void LoadModule() {
    AttachModule(ProcessFramework(), this_module, ThisModuleHandle());
}

[[gnu::destructor]] void UnloadModule() {
    DetachModule(ProcessFramework(), this_module, ThisModuleHandle());
}

}  // namespace
}  // namespace korvane::module
