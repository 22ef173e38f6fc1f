// Loads the editing library at run time, as any plug-in host would.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "korvane/tintwell.h"

namespace tintwell_cli {

class Module {
public:
    // Loads the library at `path` (UTF-8) and finds Tintwell: by name with
    // dlopen, by its ordinal 1 with LoadLibraryW. On failure returns null and
    // says why in `error`.
    static std::unique_ptr<Module> Load(const std::string& path, std::string& error);

    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    ~Module();

    TintwellEntry entry() const { return entry_; }
    const std::string& path() const { return path_; }
    void* handle() const { return handle_; }

private:
    Module(void* handle, TintwellEntry entry, std::string path)
        : handle_(handle), entry_(entry), path_(std::move(path)) {}

    void* handle_;
    TintwellEntry entry_;
    std::string path_;
};

// The library installed or built beside this program; on Linux, where there
// is none, the library's name alone, for the system's search path. Each
// platform's loader file defines it.
std::string DefaultModulePath();

#ifndef _WIN32
// This program's own file (module_loader_linux.cpp); empty, with `error`
// set, when the system cannot say.
std::filesystem::path ThisProgram(std::error_code& error);
#endif

}  // namespace tintwell_cli
