// Reading the module information note: from the built library as loaded, and
// refusing malformed notes, which come from whatever library is loaded.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "module_resources_linux.h"

namespace tintwell_cli {
namespace {

TEST(ModuleNote, FoundInTheLoadedLibraryAndReadable) {
    void* library = ::dlopen(TINTWELL_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const std::optional<std::string_view> note = FindModuleNote(::dlsym(library, "Tintwell"));
    ASSERT_TRUE(note.has_value());
    std::string error;
    const std::optional<ModuleInfo> info = ParseModuleNote(*note, error);
    ::dlclose(library);
    // What it says is checked through the host's --module-info output.
    EXPECT_TRUE(info.has_value()) << error;
}

TEST(ModuleNote, AbsentFromAProgramWithoutOne) {
    static const int here = 0;
    EXPECT_FALSE(FindModuleNote(&here).has_value());
}

// A complete note, to be spoiled one field at a time.
constexpr std::string_view kValid =
    R"({"language":"0x0409","versionBlock":{"fileVersion":"1.0.0.1","productVersion":"1.0.0.1",)"
    R"("fileFlagsMask":"0x3F","fileFlags":"0x0","fileOS":"0x4","fileType":"0x2","fileSubtype":"0x0",)"
    R"("fileDate":"0x0","stringFileInfo":{"040904B0":[["CompanyName",""]]},"translation":[["0x0409","1200"]]},)"
    R"("typeLibrary":{"id":"1","name":"N","version":"1.0","locale":"0x0409","platform":"win32",)"
    R"("guid":"5b0c3f7e-2a61-4c8e-9d3b-7f1e6a2c9b40","typeDescriptions":"0"},)"
    R"("stringTable":[["101","text"]]})";

std::string Spoiled(std::string_view from, std::string_view to) {
    std::string json(kValid);
    const std::size_t at = json.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return json.replace(at, from.size(), to);
}

TEST(ModuleNote, ValidNoteParses) {
    std::string error;
    EXPECT_TRUE(ParseModuleNote(kValid, error).has_value()) << error;
}

TEST(ModuleNote, MalformedNotesAreRefusedWithAReason) {
    const std::string cases[] = {
        "not json",
        std::string(kValid.substr(0, kValid.size() - 1)),  // cut short
        Spoiled(R"("fileFlagsMask":"0x3F")", R"("fileFlagsMask":"0x3G")"),
        Spoiled(R"("fileFlagsMask":"0x3F")", R"("fileFlagsMask":63)"),
        Spoiled(R"("fileVersion":"1.0.0.1")", R"("fileVersion":"1.0.0")"),
        Spoiled(R"("fileVersion":"1.0.0.1")", R"("fileVersion":"1.0.0.65536")"),
        Spoiled(R"("language":"0x0409")", R"("language":"0x10000")"),
        Spoiled(R"("version":"1.0")", R"("version":"1")"),
        Spoiled(R"("stringTable":[["101","text"]])", R"("stringTable":[["101"]])"),
        Spoiled(R"("typeLibrary")", R"("typeLib")"),
    };
    for (const std::string& json : cases) {
        std::string error;
        EXPECT_FALSE(ParseModuleNote(json, error).has_value()) << json;
        EXPECT_FALSE(error.empty()) << json;
    }
}

}  // namespace
}  // namespace tintwell_cli
