// A framework that refuses every module's record: a build of the module with
// it shows what a refused initialisation does on each platform.
#include "stand_in_framework.h"

namespace korvane::module {
namespace {

class RefusingFramework final : public StandInFramework {
public:
    constexpr RefusingFramework() = default;
    bool InitializeExtensionModule(ExtensionModuleRecord&, ModuleHandle) override { return false; }
};

constinit RefusingFramework refusing_framework;

}  // namespace

Framework& ProcessFramework() { return refusing_framework; }

}  // namespace korvane::module
