#include "module_loader.h"

#include <filesystem>
#include <system_error>

#include <dlfcn.h>
#include <sys/auxv.h>

#include "format.h"
#include "host_messages.h"

namespace tintwell_cli {

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = ::dlerror();
        return nullptr;
    }
    void* symbol = ::dlsym(handle, "Tintwell");
    if (symbol == nullptr) {
        error = Format(text::kNoTintwellFunction, path);
        ::dlclose(handle);
        return nullptr;
    }
    // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
    const auto entry = reinterpret_cast<TintwellEntry>(symbol);
    return std::unique_ptr<Module>(new Module(handle, entry, path));
}

Module::~Module() { ::dlclose(handle_); }

// This program's own file: /proc/self/exe, else (without /proc) the name it
// was started by, made whole.
std::filesystem::path ThisProgram(std::error_code& error) {
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return program;
    const auto started_as = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
    if (started_as == nullptr) return {};
    error.clear();
    return std::filesystem::canonical(started_as, error);
}

std::string DefaultModulePath() {
    std::error_code error;
    const std::filesystem::path program = ThisProgram(error);
    if (!error) {
        const std::filesystem::path beside =
            program.parent_path() / TINTWELL_MODULE_DIR_FROM_BINDIR / TINTWELL_MODULE_FILE;
        if (std::filesystem::exists(beside, error)) return beside.lexically_normal().string();
    }
    return TINTWELL_MODULE_FILE;
}

}  // namespace tintwell_cli
