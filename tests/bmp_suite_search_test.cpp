// Where the tests look for the BMP Suite: the folder TINTWELL_BMPSUITE names,
// else the one beside the source tree, and why they skip without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "test_support.h"

namespace tintwell_test {
namespace {

namespace fs = std::filesystem;

// Sets TINTWELL_BMPSUITE (nullptr: unsets it) for the life of the object.
class SuiteVariable {
public:
    explicit SuiteVariable(const char* value) {
        if (const char* old = std::getenv(kName)) saved_ = old;
        value ? ::setenv(kName, value, 1) : ::unsetenv(kName);
    }
    ~SuiteVariable() { saved_ ? ::setenv(kName, saved_->c_str(), 1) : ::unsetenv(kName); }
    SuiteVariable(const SuiteVariable&) = delete;
    SuiteVariable& operator=(const SuiteVariable&) = delete;

private:
    static constexpr const char* kName = "TINTWELL_BMPSUITE";
    std::optional<std::string> saved_;
};

TEST(BmpSuiteSearch, TheVariableNamesTheFolder) {
    TempDir dir;
    fs::create_directory(dir.path() / "g");
    const SuiteVariable variable(dir.path().c_str());
    EXPECT_EQ(FindBmpSuite().directory, dir.path());
}

TEST(BmpSuiteSearch, AVariableNamingNoSuiteIsAMistakeNotASkip) {
    TempDir dir;
    for (const fs::path& named : {dir.path(), dir.path() / "missing"}) {
        const SuiteVariable variable(named.c_str());
        try {
            FindBmpSuite();
            ADD_FAILURE() << named << " was taken for the suite";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("TINTWELL_BMPSUITE=" + named.string()), std::string::npos)
                << error.what();
        }
    }
}

// Unset or empty, the variable leaves the folder beside the source tree;
// without one there, the reason names both places to put it.
TEST(BmpSuiteSearch, WithoutTheVariableTheFolderBesideTheSourceTree) {
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        const SuiteVariable variable(value);
        const BmpSuiteSearch search = FindBmpSuite();
        if (search.directory) {
            EXPECT_TRUE(fs::is_directory(*search.directory / "g"));
            EXPECT_EQ(search.directory->filename(), "bmpsuite");
        } else {
            EXPECT_NE(search.why_missing.find("shared/testdata/bmpsuite"), std::string::npos) << search.why_missing;
            EXPECT_NE(search.why_missing.find("TINTWELL_BMPSUITE"), std::string::npos) << search.why_missing;
        }
    }
}

}  // namespace
}  // namespace tintwell_test
