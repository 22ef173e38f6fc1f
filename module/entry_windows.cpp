// Load and unload on Windows. The module's entry point wraps the C runtime's
// own: the raw-entry hook runs first at process attach, before the runtime's
// start-up and DllMain, and last at process detach, after DllMain and the
// runtime's exit processing. A refused attach (DllMain returns FALSE) makes
// the host's LoadLibrary fail with ERROR_DLL_INIT_FAILED.
#include <windows.h>

#include "load_sequence.h"

// The C runtime's entry point for DLLs; it calls DllMain.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

namespace korvane::module {
namespace {

constinit ExtensionModule this_module;

}  // namespace
}  // namespace korvane::module

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    using namespace korvane::module;
    return ModuleMain(ProcessFramework(), this_module, instance, reason) ? TRUE : FALSE;
}

// The entry point named to the linker (see module/CMakeLists.txt).
extern "C" BOOL WINAPI ModuleEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    using namespace korvane::module;
    if (reason == kProcessAttach) RawEntryHook(ProcessFramework(), reason);
    const BOOL result = DllMainCRTStartup(instance, reason, reserved);
    if (reason == kProcessDetach) RawEntryHook(ProcessFramework(), reason);
    return result;
}
